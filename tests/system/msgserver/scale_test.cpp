// Scale: 1,000 agents on loopback addresses (127.0.x.y), served by one light fake agent on a
// thread of this test, and 100 consoles, each logged on at one agent, on one pellwick. Every agent appears in a console's root
// listing and a request to each is relayed. The server's resident memory and CPU time per second,
// idle and under the relay load, are reported (test properties and standard output).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "message/message_codec.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"
#include "tests/system/msgserver/pellwick_process.h"

namespace kelm::systest {
namespace {

constexpr int kAgents = 1000;
constexpr int kConsoles = 100;

std::string AgentAddress(int n) { return "127.0." + std::to_string(10 + n / 200) + "." + std::to_string(1 + n % 200); }

// Every agent address on one loop: the opening exchange, the "user" selection, change folder,
// a listing with one volatile property, and its query.
class ManyAgents {
 public:
  ManyAgents(std::uint16_t port) : port_(port) {
    thread_ = std::thread([this] { Run(); });
    while (!ready_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~ManyAgents() {
    loop_->quit();
    thread_.join();
  }
  bool ok() const { return ok_.load(); }

 private:
  struct Conn {
    std::unique_ptr<plat::TcpStream> stream;
    MessageDecoder decoder;
    std::string host;
  };
  void Run() {
    loop_ = std::move(plat::makeEpollLoop().value());
    bool all = true;
    for (int n = 0; n < kAgents; ++n) {
      auto l = plat::TcpListener::listen(*loop_, AgentAddress(n), port_);
      if (!l) {
        all = false;
        break;
      }
      const std::string host = "host" + std::to_string(n);
      (*l)->onAccept([this, host](std::unique_ptr<plat::TcpStream> s) {
        auto c = std::make_unique<Conn>();
        c->stream = std::move(s);
        c->host = host;
        Conn* raw = c.get();
        raw->stream->onData([raw](std::string_view b) {
          raw->decoder.Feed(b);
          CMessage m;
          std::string out;
          while (raw->decoder.Next(m) == DecodeStatus::kOk) {
            if (m.status != kStatusRequest) continue;
            if (m.code == kReqLogon && m.text.rfind("logon ", 0) == 0)
              AppendMessage(out, CMessage(m.code, m.id, kStatusPartial, "logon 1"));
            else if (m.code == kReqQuery && m.text == ".")
              AppendMessage(out, CMessage(m.code, m.id, kStatusPartial, ".@" + raw->host + "@o--@2"));
            else if (m.code == kReqQuery || m.code == kReqListRights)
              AppendMessage(out, CMessage(m.code, m.id, kStatusPartial, "Status@prv@OK"));
            AppendMessage(out, CMessage(m.code, m.id, kStatusFinal, "800@Functional"));
          }
          (void)raw->stream->write(out);
        });
        raw->stream->onClosed([](const std::string&) {});
        conns_.push_back(std::move(c));
      });
      listeners_.push_back(std::move(*l));
    }
    ok_ = all;
    ready_ = true;
    (void)loop_->run();
    conns_.clear();
    listeners_.clear();
  }

  std::uint16_t port_;
  std::unique_ptr<plat::EventLoop> loop_;
  std::vector<std::unique_ptr<plat::TcpListener>> listeners_;
  std::vector<std::unique_ptr<Conn>> conns_;
  std::thread thread_;
  std::atomic<bool> ready_{false}, ok_{false};
};

long ResidentKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

// User plus system CPU time of the process, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::istringstream rest(all.substr(all.rfind(')') + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

TEST(Scale, AThousandAgentsAndAHundredConsolesOnOneServer) {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_max < 4096)
    GTEST_SKIP() << "the descriptor limit (" << files.rlim_max << ") is too low for 1,000 agents and 100 consoles";
  files.rlim_cur = files.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &files);

  AgentRoot root({});
  ManyAgents agents(root.port(plat::paths::kAgentPort));
  ASSERT_TRUE(agents.ok()) << "cannot listen on the loopback addresses";
  PellwickProcess server(root);
  ASSERT_TRUE(server.ready());

  auto loop = std::move(plat::makeEpollLoop().value());
  std::vector<std::unique_ptr<plat::UdpSocket>> senders;
  for (int n = 0; n < kAgents; ++n) senders.push_back(std::move(plat::UdpSocket::bind(*loop, AgentAddress(n), 0).value()));
  auto console = server.Console();
  ASSERT_TRUE(console);
  std::size_t seen = 0;
  // Announcements are repeated for the agents not yet seen, as agents repeat theirs.
  for (int round = 0; round < 150 && seen < kAgents; ++round) {
    for (int n = 0; n < kAgents; ++n)
      (void)senders[n]->sendTo("127.0.0.1", root.port(plat::paths::kAgentAnnouncePort),
                               "VELKARI_RAID#host" + std::to_string(n) + "#Hello World!");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    seen = Folders(console->List()).size();
  }
  ASSERT_EQ(seen, static_cast<std::size_t>(kAgents));

  std::vector<std::unique_ptr<AgentClient>> consoles;
  for (int k = 0; k < kConsoles; ++k) {
    consoles.push_back(server.Console());
    ASSERT_TRUE(consoles.back());
    // Logged on at an agent, as a console is before it works there: consoles without any logon
    // may hold only half of the server's places.
    AgentClient& c = *consoles.back();
    ASSERT_EQ(c.Result(kReqChangeFolder, "host" + std::to_string(k)), 800) << k;
    ASSERT_EQ(c.Logon("admin", "secret"), 800) << k;
    ASSERT_EQ(c.Result(kReqChangeFolder, "\\"), 800) << k;
  }
  EXPECT_EQ(Folders(consoles.back()->List()).size(), static_cast<std::size_t>(kAgents));

  const double idle0 = CpuSeconds(server.pid());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double idlePerSecond = CpuSeconds(server.pid()) - idle0;
  const long idleKb = ResidentKb(server.pid());

  // A request relayed to every agent, spread over the consoles, each console on its own thread.
  const double load0 = CpuSeconds(server.pid());
  const auto t0 = std::chrono::steady_clock::now();
  std::atomic<int> relayed{0};
  std::vector<std::thread> workers;
  for (int k = 0; k < kConsoles; ++k) {
    workers.emplace_back([&, k] {
      AgentClient& c = *consoles[k];
      for (int n = k; n < kAgents; n += kConsoles) {
        if (c.Result(kReqChangeFolder, "host" + std::to_string(n)) != 800) continue;
        auto got = c.Request(kReqQuery, "Status");
        if (got.size() == 2 && got[0].text == "Status@prv@OK" && got[1].text == "800@Functional") ++relayed;
        c.Result(kReqChangeFolder, "\\");
      }
    });
  }
  for (auto& w : workers) w.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double loadPerSecond = (CpuSeconds(server.pid()) - load0) / seconds;
  const long loadKb = ResidentKb(server.pid());
  EXPECT_EQ(relayed.load(), kAgents);

  std::printf("pellwick with %d agents and %d consoles: idle %ld kB resident, %.3f CPU s/s; "
              "relaying %d requests in %.2f s: %ld kB resident, %.3f CPU s/s\n",
              kAgents, kConsoles, idleKb, idlePerSecond, kAgents, seconds, loadKb, loadPerSecond);
  ::testing::Test::RecordProperty("idle_rss_kb", std::to_string(idleKb));
  ::testing::Test::RecordProperty("load_rss_kb", std::to_string(loadKb));
}

}  // namespace
}  // namespace kelm::systest
