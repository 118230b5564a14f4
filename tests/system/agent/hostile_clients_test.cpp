// The agent under clients that do not play along: a flooder that never reads while a prober keeps
// asking, local clients that reopen their session after closing it, and a client whose folder left
// the tree.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

class HostileClients : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
    agent_ = std::make_unique<AgentProcess>(root_, std::vector<std::string>{"-win98"});
    ASSERT_TRUE(agent_->ready());
  }
  AgentRoot root_{{AgentRoot::lib("libkelmtestcomponent.so")}};
  std::unique_ptr<AgentProcess> agent_;
};

// A client that pipelines requests and never reads its replies is no longer read once its replies
// back up; everyone else stays answered.
TEST_F(HostileClients, AFlooderThatNeverReadsHoldsUpNobodyElse) {
  auto prober = agent_->Tcp();
  ASSERT_TRUE(prober);
  ASSERT_EQ(prober->Logon("admin", "secret"), 800);
  auto flooder = agent_->Tcp();
  ASSERT_TRUE(flooder);
  ::fcntl(flooder->fd(), F_SETFL, ::fcntl(flooder->fd(), F_GETFL) | O_NONBLOCK);
  std::string burst;
  for (int i = 0; i < 4096; ++i) AppendMessage(burst, CMessage(kReqQuery, i, kStatusRequest, "."));
  std::atomic<bool> stop{false};
  std::atomic<long> sent{0};
  std::thread flood([&] {
    std::size_t at = 0;
    while (!stop) {
      const ssize_t n = ::send(flooder->fd(), burst.data() + at, burst.size() - at, MSG_NOSIGNAL);
      if (n > 0) {
        sent += n;
        at = (at + static_cast<std::size_t>(n)) % burst.size();
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return;
      pollfd p{flooder->fd(), POLLOUT, 0};
      ::poll(&p, 1, 10);
    }
  });
  // The flood has filled what the agent takes before the probes start.
  for (int i = 0; i < 500 && sent < (4l << 20); ++i) {
    pollfd p{flooder->fd(), POLLOUT, 0};
    ::poll(&p, 1, 10);
  }
  long worstMs = 0;
  int answered = 0;
  for (int i = 0; i < 40; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const auto r = prober->Result(kReqQuery, ".");
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    answered += r == 800;
    worstMs = std::max<long>(worstMs, ms);
  }
  stop = true;
  flood.join();
  std::printf("flooder sent %ld bytes; the prober's slowest answer took %ld ms\n", sent.load(), worstMs);
  EXPECT_EQ(answered, 40);
  // Seconds without an answer were the fault; the margin is for loaded, sanitized builds.
  EXPECT_LT(worstMs, 1000);
  EXPECT_EQ(agent_->Wait(0), std::nullopt);
}

// Connect, 4113, one query, disconnect, many times over: every session a local stream opened ends
// with it, so TCP clients are still let in afterwards.
TEST_F(HostileClients, LocalClientsThatReopenAfterClosingLeaveNoConnectionBehind) {
  for (int round = 0; round < 260; ++round) {
    auto local = agent_->Local();
    ASSERT_TRUE(local) << round;
    ASSERT_TRUE(local->Send(CMessage(kReqComClose, 0, 0, "")));
    ASSERT_NE(local->Result(kReqQuery, "."), -1) << round;
  }
  auto tcp = agent_->Tcp();
  ASSERT_TRUE(tcp);
  EXPECT_EQ(tcp->Result(kReqQuery, "."), 800);
  EXPECT_EQ(tcp->Logon("admin", "secret"), 800);
}

// A client whose current folder is removed from the tree (its account deleted by another client)
// gets back to the root with "\" and goes on from there.
TEST_F(HostileClients, AClientWhoseFolderLeftTheTreeGetsBackToTheRoot) {
  auto a = agent_->Tcp();
  auto b = agent_->Tcp();
  ASSERT_TRUE(a && b);
  ASSERT_EQ(a->Logon("admin", "secret"), 800);
  ASSERT_EQ(b->Logon("admin", "secret"), 800);
  ASSERT_EQ(b->Result(kReqChangeFolder, "Users"), 800);
  ASSERT_EQ(b->Result(kReqInvoke, "CreateUser@bob@pw@60"), 800);
  ASSERT_EQ(a->Result(kReqChangeFolder, "Users"), 800);
  a->List();
  ASSERT_EQ(a->Result(kReqChangeFolder, "bob"), 800);
  ASSERT_EQ(b->Result(kReqInvoke, "DeleteUser@bob"), 800);
  b->List();  // the listing removes bob's folder
  EXPECT_EQ(a->Result(kReqChangeFolder, "Users"), 803) << "still in the removed folder";
  ASSERT_EQ(a->Result(kReqChangeFolder, "\\"), 800);
  EXPECT_EQ(a->Result(kReqChangeFolder, "Users"), 800);
  EXPECT_EQ(a->Result(kReqQuery, "."), 800);
}

}  // namespace
}  // namespace kelm::systest
