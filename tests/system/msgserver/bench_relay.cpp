// kelm-bench-relay: the latency of a 4100 query of a volatile component property at the real
// agent, four ways in one run: straight to the agent, through a bare byte-forwarding relay
// (one thread, blocking reads and writes: the floor for any relay), through a bare relay that
// sends the agent the sequence pellwick sends for each forwarded request (the logon selection,
// one change of folder per path step, the query, each awaited in turn: the floor for a relay that
// shares one link among consoles), and through pellwick. Then a query that pellwick answers from its own copy of the tree, against
// the same query through the bare relay. The "ratio:" line is pellwick's forwarded query over
// the bare relay's sequence; the line after it, the query from pellwick's copy over the bare relay.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "agent/crypto/logon_token.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/msgserver/pellwick_process.h"

using namespace kelm;
using namespace kelm::systest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 5000;
constexpr int kWarmUp = 300;

template <class F>
double MedianUs(F roundTrip) {
  for (int i = 0; i < kWarmUp; ++i) roundTrip();
  std::vector<double> us;
  us.reserve(kRounds);
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    if (!roundTrip()) {
      std::fprintf(stderr, "a request failed\n");
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  std::nth_element(us.begin(), us.begin() + kRounds / 2, us.end());
  return us[kRounds / 2];
}

// Two paths measured in alternation, round by round, so that a load that comes and goes on the
// machine falls on both alike: the two medians.
template <class F, class G>
std::pair<double, double> MedianPairUs(F first, G second) {
  for (int i = 0; i < kWarmUp; ++i) first(), second();
  std::vector<double> a, b;
  a.reserve(kRounds);
  b.reserve(kRounds);
  auto timed = [](auto& f, std::vector<double>& into) {
    const auto t0 = Clock::now();
    if (!f()) {
      std::fprintf(stderr, "a request failed\n");
      std::exit(1);
    }
    into.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  };
  for (int i = 0; i < kRounds; ++i) {
    timed(first, a);
    timed(second, b);
  }
  std::nth_element(a.begin(), a.begin() + kRounds / 2, a.end());
  std::nth_element(b.begin(), b.begin() + kRounds / 2, b.end());
  return {a[kRounds / 2], b[kRounds / 2]};
}

plat::UniqueFd Listen(std::uint16_t& port) {
  plat::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd.get(), 1) != 0 ||
      ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return plat::UniqueFd();
  port = ntohs(a.sin_port);
  return fd;
}

plat::UniqueFd ConnectTo(std::uint16_t port) {
  plat::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return plat::UniqueFd();
  int one = 1;
  ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Copies whatever is readable on one side to the other, blocking, until either side closes.
void BareRelay(plat::UniqueFd listener, std::uint16_t agentPort) {
  plat::UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  plat::UniqueFd agent = ConnectTo(agentPort);
  if (!client.valid() || !agent.valid()) return;
  int one = 1;
  ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char buf[65536];
  pollfd p[2] = {{client.get(), POLLIN, 0}, {agent.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(p, 2, -1) <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (!p[i].revents) continue;
      const ssize_t n = ::recv(p[i].fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      for (ssize_t off = 0; off < n;) {
        const ssize_t w = ::send(p[1 - i].fd, buf + off, static_cast<std::size_t>(n - off), MSG_NOSIGNAL);
        if (w <= 0) return;
        off += w;
      }
    }
  }
}

// Takes each record of its one client and carries it out on its own link to the agent as the
// message server's sequence: the client's logon selected by key, the path to the controller step
// by step, then the record itself, whose replies go back to the client under the client's id.
void SequencingRelay(plat::UniqueFd listener, std::uint16_t agentPort) {
  plat::UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  auto agent = AgentClient::Tcp(agentPort);
  if (!client.valid() || !agent) return;
  int one = 1;
  ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const auto logon = agent->Request(kReqLogon, crypto::LogonText(0, 0, crypto::BuildLogonToken("admin", "secret")));
  if (logon.size() != 2 || logon[0].text.rfind("logon ", 0) != 0) return;
  const std::string select = "user " + logon[0].text.substr(6);
  MessageDecoder in;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::recv(client.get(), buf, sizeof buf, 0);
    if (n <= 0) return;
    in.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    CMessage m;
    while (in.Next(m) == DecodeStatus::kOk) {
      std::string out;
      bool ok = agent->Result(kReqLogon, select) == 800;
      for (const char* step : {"\\", "TEST_RAID", "Controller0"}) ok = ok && agent->Result(kReqChangeFolder, step) == 800;
      if (ok) {
        for (CMessage r : agent->Request(m.code, m.text)) {
          r.id = m.id;
          AppendMessage(out, r);
        }
      } else {
        AppendMessage(out, CMessage(m.code, m.id, kStatusFinal, "801@Error"));
      }
      if (::send(client.get(), out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) return;
    }
  }
}

// Logs on and walks to the controller that holds the volatile property.
bool Prepare(AgentClient& c, const std::vector<std::string>& steps) {
  for (const auto& s : steps)
    if (s == "logon" ? c.Logon("admin", "secret") != 800 : c.Result(kReqChangeFolder, s) != 800) return false;
  return true;
}

}  // namespace

int main() {
  AgentRoot root({AgentRoot::lib("libkelmtestcomponent.so")});
  if (AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}) != 0) return 1;
  PellwickProcess server(root);
  AgentProcess agent(root, {"-win98"});
  if (!agent.ready() || !server.ready()) return std::fprintf(stderr, "halvorn or pellwick did not start\n"), 1;

  const std::uint16_t agentPort = root.port(plat::paths::kAgentPort);
  std::uint16_t relayPort = 0;
  plat::UniqueFd listener = Listen(relayPort);
  if (!listener.valid()) return 1;
  std::thread relay(BareRelay, std::move(listener), agentPort);
  std::uint16_t sequencingPort = 0;
  plat::UniqueFd sequencingListener = Listen(sequencingPort);
  if (!sequencingListener.valid()) return 1;
  std::thread sequencing(SequencingRelay, std::move(sequencingListener), agentPort);
  auto sequenced = AgentClient::Tcp(sequencingPort);
  if (!sequenced) return std::fprintf(stderr, "cannot connect\n"), 1;

  auto direct = agent.Tcp();
  auto relayed = AgentClient::Tcp(relayPort);
  auto console = server.Console();
  if (!direct || !relayed || !console) return std::fprintf(stderr, "cannot connect\n"), 1;
  // The console waits until the server has the agent's folder.
  std::string host;
  for (int i = 0; i < 400 && host.empty(); ++i) {
    for (const auto& e : console->List())
      if (e.find("@o--@") != std::string::npos) host = e.substr(0, e.find('@'));
    if (host.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (host.empty()) return std::fprintf(stderr, "pellwick did not find the agent\n"), 1;
  const std::vector<std::string> walk = {"logon", "TEST_RAID", "Controller0"};
  if (!Prepare(*direct, walk) || !Prepare(*relayed, walk) || !Prepare(*console, {host, "logon", "TEST_RAID", "Controller0"}))
    return std::fprintf(stderr, "logon or change folder failed\n"), 1;

  auto query = [](AgentClient& c, const char* name) {
    return [&c, name] {
      auto got = c.Request(kReqQuery, name);
      return got.size() == 2 && got[0].text.rfind(std::string(name) + "@", 0) == 0 && got[1].text == "800@Functional";
    };
  };
  const double d = MedianUs(query(*direct, "EventCount"));
  const double b = MedianUs(query(*relayed, "EventCount"));

  // The two the ratio compares are measured in alternation.
  const auto [s, p] = MedianPairUs(query(*sequenced, "EventCount"), query(*console, "EventCount"));
  sequenced.reset();
  sequencing.join();

  // A property that does not change by itself: pellwick answers it from its copy.
  if (relayed->Result(kReqChangeFolder, "..") != 800 || console->Result(kReqChangeFolder, "..") != 800)
    return std::fprintf(stderr, "change folder failed\n"), 1;
  const auto [bc, pc] = MedianPairUs(query(*relayed, "Model"), query(*console, "Model"));
  relayed.reset();
  relay.join();

  std::printf("%-44s %14s\n", "path of a 4100 query", "median (us)");
  std::printf("%-44s %14.1f\n", "straight to the agent", d);
  std::printf("%-44s %14.1f\n", "bare blocking byte relay", b);
  std::printf("%-44s %14.1f\n", "bare relay sending pellwick's 5 records", s);
  std::printf("%-44s %14.1f\n", "pellwick", p);
  std::printf("%-44s %14.1f\n", "bare relay, a fixed property", bc);
  std::printf("%-44s %14.1f\n", "pellwick from its copy, a fixed property", pc);
  std::printf("ratio: %.2f\n", p / s);
  std::printf("ratio from its copy: %.2f\n", pc / bc);
  return 0;
}
