// kelm-agent-client: shows that the agent of the current root answers.
//   kelm-agent-client list NAME PASSWORD   logs on over TCP and lists the root
//   kelm-agent-client announce             waits for the agent's announcement
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/paths.h"
#include "platform/loop/socket.h"
#include "tests/system/agent/agent_client.h"

int main(int argc, char** argv) {
  using namespace kelm;
  if (argc == 2 && std::strcmp(argv[1], "announce") == 0) {
    auto made = plat::makeEpollLoop();
    auto bound = made ? plat::UdpSocket::bind(**made, "", plat::paths::port(plat::paths::kAgentAnnouncePort))
                      : plat::Result<std::unique_ptr<plat::UdpSocket>>(made.error());
    if (!bound) {
      std::fprintf(stderr, "kelm-agent-client: %s\n", bound.message().c_str());
      return 1;
    }
    auto& loop = *made;
    auto& udp = *bound;
    std::string got;
    udp->onDatagram([&](std::string_view d, const std::string& from, std::uint16_t) {
      got = std::string(d) + "  (from " + from + ")";
    });
    for (int i = 0; i < 200 && got.empty(); ++i) loop->runOnce(100);
    if (got.empty()) return std::fprintf(stderr, "kelm-agent-client: no announcement in 20 s\n"), 1;
    std::printf("announcement: %s\n", got.c_str());
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "list") == 0) {
    auto c = systest::AgentClient::Tcp(plat::paths::port(plat::paths::kAgentPort));
    if (!c) return std::fprintf(stderr, "kelm-agent-client: the agent does not answer\n"), 1;
    const std::int32_t r = c->Logon(argv[2], argv[3]);
    std::printf("logon: %s\n", FormatResult(r).c_str());
    if (r != kResultFunctional) return 1;
    for (const auto& entry : c->List()) std::printf("  %s\n", entry.c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: kelm-agent-client list NAME PASSWORD | kelm-agent-client announce\n");
  return 2;
}
