// Datagrams on the server's announcement port: the word, the name and the pacing of new agents.
// Whatever arrives, from whichever loopback address, the server stays up, keeps at most one agent
// per address, and every agent it keeps has a name that can stand in a path.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "msgserver/agent_conn.h"
#include "msgserver/pellwick_doc.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/manual_clock.h"
#include "tests/fuzz/fuzz_seeds.h"

using namespace kelm;
using namespace kelm::msgserver;

namespace {

struct World {
  plat::ManualClock clock{1000000000};
  std::unique_ptr<plat::EventLoop> loop;
};

World& world() {
  static World* w = [] {
    auto* x = new World;
    auto loop = plat::makeEpollLoop(x->clock);
    if (!loop) std::abort();
    x->loop = std::move(*loop);
    return x;
  }();
  return *w;
}

}  // namespace

// The input is a run of datagrams, each as: one byte choosing the sender (127.0.0.1 to .8), two
// bytes of length (low byte first), then the datagram.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  World& w = world();
  {
    DocOptions o;
    o.loop = w.loop.get();
    o.clock = &w.clock;
    o.hostName = "srv";
    o.hostAddress = "127.0.0.1";
    o.agentPort = 1;  // nobody listens there: every connect is refused
    o.maxNewAgentsPerSecond = 20;
    CPellwickDoc doc(std::move(o));
    std::size_t at = 0;
    while (at + 3 <= size) {
      const std::string sender = "127.0.0." + std::to_string(1 + data[at] % 8);
      const std::size_t len = data[at + 1] | (static_cast<std::size_t>(data[at + 2]) << 8);
      at += 3;
      const std::size_t n = std::min(len, size - at);
      doc.ReadAgentBeacon(std::string_view(reinterpret_cast<const char*>(data) + at, n), sender);
      at += n;
      w.loop->runOnce(0);
      std::set<std::string> addresses;
      for (const CAgent* a : doc.Agents()) {
        if (!addresses.insert(a->address()).second) std::abort();
        if (a->name().empty() || a->name().size() > 255) std::abort();
        for (const char c : a->name())
          if (c == '@' || c == '\\' || static_cast<unsigned char>(c) < 0x20) std::abort();
      }
    }
    for (int i = 0; i < 4; ++i) w.loop->runOnce(0);
    doc.Close();
  }
  for (int i = 0; i < 4; ++i) w.loop->runOnce(0);
  return 0;
}

void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto add = [](std::string& s, std::uint8_t from, const std::string& text) {
    s += static_cast<char>(from);
    s += static_cast<char>(text.size() & 0xFF);
    s += static_cast<char>(text.size() >> 8);
    s += text;
  };
  std::string a;
  add(a, 1, "VELKARI_RAID#host1#Hello World!");
  add(a, 2, "velkari_raid#host2#Hello World!");
  add(a, 2, "VELKARI_RAID#other#Hello World!");
  add(a, 3, "VELKARI_RAID#host3");
  add(a, 4, "VELKARI_PELLWICK#srv#Hello World!");
  add(a, 5, "VELKARI_RAID##x");
  add(a, 6, "VELKARI_RAID#a@b#x");
  seeds.push_back(a);
  std::string b;
  for (int i = 0; i < 30; ++i) add(b, static_cast<std::uint8_t>(i), "VELKARI_RAID#h" + std::to_string(i) + "#Hello World!");
  seeds.push_back(b);
}
