// pellwick and halvorn as real processes in a private root: the server discovers the agent by
// its announcement, gives a console one tree, relays its requests and the agent's events, drops
// the agent when it dies (8193) and finds it again when it comes back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/base/paths.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/msgserver/pellwick_process.h"

namespace kelm::systest {
namespace {

bool Has(const std::vector<std::string>& list, const std::string& entry) {
  return std::find(list.begin(), list.end(), entry) != list.end();
}

class MsgServerSystemTest : public ::testing::Test {
 protected:
  MsgServerSystemTest() : root_({AgentRoot::lib("libkelmtestcomponent.so")}) {
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  // The agent folders of the console's root once there are `count` of them (bounded wait).
  std::vector<std::string> WaitForAgents(AgentClient& c, std::size_t count) {
    std::vector<std::string> folders;
    for (int i = 0; i < 400; ++i) {
      folders = Folders(c.List());
      if (folders.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return folders;
  }
  AgentRoot root_;
};

TEST_F(MsgServerSystemTest, DiscoversTheAgentRelaysRequestsAndEventsAndDropsAndFindsItAgain) {
  // The server starts first: its own host's agent is not there yet, so the agent it ends up
  // with is the one that announced itself.
  PellwickProcess server(root_);
  ASSERT_TRUE(server.ready());
  auto console = server.Console();
  ASSERT_TRUE(console);
  const auto empty = console->List();
  EXPECT_TRUE(Folders(empty).empty());
  EXPECT_TRUE(std::any_of(empty.begin(), empty.end(), [](auto& e) { return e.rfind("FileVersion@pr-@", 0) == 0; }));

  auto agent = std::make_unique<AgentProcess>(root_, std::vector<std::string>{"-win98"});
  ASSERT_TRUE(agent->ready());
  auto folders = WaitForAgents(*console, 1);
  ASSERT_EQ(folders.size(), 1u);
  const std::string host = folders[0];
  console->notifications().clear();

  // Logon and requests inside the agent, relayed under the console's own identifiers.
  ASSERT_EQ(console->Result(kReqChangeFolder, host), 800);
  ASSERT_EQ(console->Logon("admin", "secret"), 800);
  const auto top = console->List();
  EXPECT_TRUE(Has(top, "TEST_RAID@o--@14"));
  ASSERT_EQ(console->Result(kReqChangeFolder, "TEST_RAID"), 800);
  ASSERT_EQ(console->Result(kReqChangeFolder, "Controller0"), 800);
  const auto invoked = console->Request(kReqInvoke, "MakeEvent@disk failed");
  ASSERT_EQ(invoked.size(), 2u);
  EXPECT_EQ(invoked[0].text, "800@Functional@MakeEvent@disk failed");
  EXPECT_EQ(invoked[1].text, "800@Functional");
  auto changed = console->WaitNotification(kNotifyFolderChanged);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->text, "\\" + host + "\\TEST_RAID\\Controller0@");

  // The agent dies: its folder goes (8193) and the console is back in the root.
  const pid_t dead = agent->pid();
  ::kill(dead, SIGKILL);
  agent.reset();
  console->notifications().clear();
  auto gone = console->WaitNotification(kNotifyFolderGone, 20000);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->text, "\\" + host);
  EXPECT_TRUE(Folders(console->List()).empty());

  // It comes back and announces itself: the server finds it again.
  agent = std::make_unique<AgentProcess>(root_, std::vector<std::string>{"-win98"});
  ASSERT_TRUE(agent->ready());
  auto back = console->WaitNotification(kNotifyFolderChanged, 20000);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->text, "\\");
  EXPECT_EQ(WaitForAgents(*console, 1), std::vector<std::string>{host});
}

}  // namespace
}  // namespace kelm::systest
