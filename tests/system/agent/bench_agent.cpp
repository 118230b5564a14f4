// kelm-bench-agent: 4100 queries of a component property through halvorn, over TCP and over the
// local channel, against a bare Unix-socket ping-pong of the same record in the same run.
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/system/agent/agent_process.h"

using namespace kelm;
using namespace kelm::systest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRounds = 20000;
constexpr int kWarmUp = 500;

struct Figures {
  double perSecond;
  double medianUs;
};

// Round trips of one request; each ends with the agent's final reply (or the echo).
template <class F>
Figures Measure(F roundTrip) {
  for (int i = 0; i < kWarmUp; ++i) roundTrip();
  std::vector<double> us;
  us.reserve(kRounds);
  const auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    if (!roundTrip()) {
      std::fprintf(stderr, "a request failed\n");
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  std::nth_element(us.begin(), us.begin() + kRounds / 2, us.end());
  return {kRounds / total, us[kRounds / 2]};
}

}  // namespace

int main() {
  AgentRoot root({AgentRoot::lib("libkelmtestcomponent.so")});
  if (AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}) != 0) return 1;
  AgentProcess agent(root, {"-win98"});
  if (!agent.ready()) return std::fprintf(stderr, "halvorn did not start\n"), 1;

  auto tcp = agent.Tcp();
  auto local = agent.Local();
  if (!tcp || !local) return std::fprintf(stderr, "cannot connect\n"), 1;
  local->Send(CMessage(kReqComOpen, 0, 0, ""));
  local->WaitNotification(kNotifyNotLoggedOn);
  auto token = ReadLocalToken();
  if (tcp->Logon("admin", "secret") != 800 || !token ||
      local->Logon("admin", "secret", token->first, token->second) != 800 ||
      tcp->Result(kReqChangeFolder, "TEST_RAID") != 800 || local->Result(kReqChangeFolder, "TEST_RAID") != 800)
    return std::fprintf(stderr, "logon failed\n"), 1;

  auto query = [](AgentClient& c) {
    return [&c] {
      auto got = c.Request(kReqQuery, "Model");
      return got.size() == 2 && got[1].status == kStatusFinal;
    };
  };

  // The floor: the same record to a thread that echoes it on a Unix socket pair.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 1;
  plat::UniqueFd mine(pair[0]), theirs(pair[1]);
  std::thread echo([fd = theirs.get()] {
    MessageDecoder d;
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return;
      d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
      CMessage m;
      while (d.Next(m) == DecodeStatus::kOk) {
        m.status = kStatusFinal;
        const std::string out = EncodeMessage(m);
        if (::send(fd, out.data(), out.size(), MSG_NOSIGNAL) <= 0) return;
      }
    }
  });
  const std::string record = EncodeMessage(CMessage(kReqQuery, 1, kStatusRequest, "Model"));
  MessageDecoder replies;
  auto bare = [&] {
    if (::send(mine.get(), record.data(), record.size(), MSG_NOSIGNAL) <= 0) return false;
    CMessage m;
    char buf[65536];
    while (replies.Next(m) != DecodeStatus::kOk) {
      ssize_t n = ::recv(mine.get(), buf, sizeof buf, 0);
      if (n <= 0) return false;
      replies.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    }
    return true;
  };

  const Figures b = Measure(bare);
  const Figures t = Measure(query(*tcp));
  const Figures l = Measure(query(*local));
  ::shutdown(mine.get(), SHUT_RDWR);
  echo.join();

  std::printf("%-28s %12s %14s\n", "path", "requests/s", "median (us)");
  std::printf("%-28s %12.0f %14.1f\n", "bare Unix-socket ping-pong", b.perSecond, b.medianUs);
  std::printf("%-28s %12.0f %14.1f\n", "agent over TCP", t.perSecond, t.medianUs);
  std::printf("%-28s %12.0f %14.1f\n", "agent over the local channel", l.perSecond, l.medianUs);
  std::printf("ratio: %.2f\n", l.medianUs / b.medianUs);
  return 0;
}
