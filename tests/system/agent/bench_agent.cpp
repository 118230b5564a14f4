// kelm-bench-agent: 4100 queries of a component property through halvorn, over TCP and over the
// local channel, against a bare Unix-socket ping-pong of the same record with a second process in
// the same run (the agent is another process too, so both pay the same wake-ups). Each path gives
// its median, 99th and 99.9th percentiles and maximum; the slow requests of the agent's paths are
// then placed in time, to show what they line up with.
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
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
  double p50, p99, p999, max;  // microseconds
  // Where the slow round trips (over ten times the median) started, in milliseconds from the start.
  std::vector<double> slowAtMs;
};

double Percentile(const std::vector<double>& sorted, double q) {
  const auto i = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1));
  return sorted[i];
}

// Round trips of one request; each ends with the agent's final reply (or the echo).
template <class F>
Figures Measure(F roundTrip) {
  for (int i = 0; i < kWarmUp; ++i) roundTrip();
  std::vector<double> us, atMs;
  us.reserve(kRounds);
  atMs.reserve(kRounds);
  const auto start = Clock::now();
  for (int i = 0; i < kRounds; ++i) {
    const auto t0 = Clock::now();
    if (!roundTrip()) {
      std::fprintf(stderr, "a request failed\n");
      std::exit(1);
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    atMs.push_back(std::chrono::duration<double, std::milli>(t0 - start).count());
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  std::vector<double> sorted = us;
  std::sort(sorted.begin(), sorted.end());
  Figures f{kRounds / total, Percentile(sorted, 0.5), Percentile(sorted, 0.99), Percentile(sorted, 0.999),
            sorted.back(), {}};
  for (int i = 0; i < kRounds; ++i)
    if (us[i] > 10 * f.p50) f.slowAtMs.push_back(atMs[i]);
  return f;
}

// How the slow round trips lie in time: their number, and how many of them came within 50 ms of a
// whole number of seconds after the first (the agent's one-second tick runs the components' work on
// the worker thread).
void PlaceSlow(const char* path, const Figures& f) {
  if (f.slowAtMs.empty()) {
    std::printf("%-28s no round trip over ten times the median\n", path);
    return;
  }
  int onTheSecond = 0;
  for (double at : f.slowAtMs) {
    const double off = std::fmod(at - f.slowAtMs.front(), 1000.0);
    onTheSecond += off < 50 || off > 950;
  }
  std::printf("%-28s %zu round trips over ten times the median; %d of them on the one-second beat\n", path,
              f.slowAtMs.size(), onTheSecond);
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

  // The floor: the same record to a second process that echoes it on a Unix socket pair.
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 1;
  plat::UniqueFd mine(pair[0]), theirs(pair[1]);
  const pid_t echo = ::fork();
  if (echo < 0) return 1;
  if (echo == 0) {
    mine.reset();
    MessageDecoder d;
    char buf[65536];
    for (;;) {
      ssize_t n = ::recv(theirs.get(), buf, sizeof buf, 0);
      if (n <= 0) ::_exit(0);
      d.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
      CMessage m;
      while (d.Next(m) == DecodeStatus::kOk) {
        m.status = kStatusFinal;
        const std::string out = EncodeMessage(m);
        if (::send(theirs.get(), out.data(), out.size(), MSG_NOSIGNAL) <= 0) ::_exit(0);
      }
    }
  }
  theirs.reset();
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
  ::waitpid(echo, nullptr, 0);

  std::printf("%-28s %12s %10s %10s %10s %10s\n", "path", "requests/s", "p50 (us)", "p99 (us)", "p99.9 (us)",
              "max (us)");
  auto row = [](const char* path, const Figures& f) {
    std::printf("%-28s %12.0f %10.1f %10.1f %10.1f %10.1f\n", path, f.perSecond, f.p50, f.p99, f.p999, f.max);
  };
  row("bare ping-pong, 2 processes", b);
  row("agent over TCP", t);
  row("agent over the local channel", l);
  std::printf("ratio of medians (local / floor): %.2f; 99th percentile: %.2f x the floor's\n", l.p50 / b.p50,
              l.p99 / b.p99);
  PlaceSlow("bare ping-pong, 2 processes", b);
  PlaceSlow("agent over TCP", t);
  PlaceSlow("agent over the local channel", l);
  return 0;
}
