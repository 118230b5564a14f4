// The scripted agent answers the event and account methods as the agent does, so the window tests
// built on it see the agent's replies.
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

class Replies : public ReplyListener {
 public:
  void OnInvokeReply(int status, const std::string& text) override { got.push_back(std::to_string(status) + " " + text); }
  std::vector<std::string> got;
};

class ScriptedAgentTest : public ConsoleTest {
 protected:
  void SetUp() override {
    FakeNode* c0 = agent.root.Child("Controller0");
    c0->Add("ReadEvent", "m--", "-134217729");
    c0->Add("ClearEvent", "m--", "64");
    agent.AddUsers(&agent.root, {{"admin", 6}, {"op", 4}});
    ValidProfile();
    Start();
    ctl = Node("\\HOST7\\Controller0");
    ctl->Refresh();
    Pump();
    ctl->AddListener(&replies);
  }
  void TearDown() override {
    if (ctl) ctl->RemoveListener(&replies);
  }
  CVirtualFolder* ctl = nullptr;
  Replies replies;
};

TEST_F(ScriptedAgentTest, ReadEventPagesTheStoreAndSaysNothingWithoutALog) {
  ASSERT_EQ(ctl->Invoke("ReadEvent", "0@10@0"), 0);
  Pump();
  EXPECT_EQ(replies.got, (std::vector<std::string>{"2 800@Functional@ReadEvent@0@10@0", "3 800@Functional"}));
  agent.eventLogs["\\Controller0"].records = {"512@994730139@1@Disk@Disk 2 failed@ch1", "513@994730140@3@Disk@ok"};
  replies.got.clear();
  ctl->Invoke("ReadEvent", "0@1@0");
  Pump();
  EXPECT_EQ(replies.got, (std::vector<std::string>{"2 ReadEvent@0@512@994730139@1@Disk@Disk 2 failed@ch1",
                                                   "2 ReadEvent@255@256@1@994730000",
                                                   "2 800@Functional@ReadEvent@0@1@0", "3 800@Functional"}));
  // A stale cookie gets nothing; Clear drops the log.
  replies.got.clear();
  ctl->Invoke("ReadEvent", "1@10@5");
  ctl->Invoke("ClearEvent", "");
  ctl->Invoke("ReadEvent", "0@10@0");
  Pump();
  EXPECT_EQ(replies.got.size(), 6u);
  for (const std::string& r : replies.got) EXPECT_NE(r.rfind("2 ReadEvent@", 0), 0u) << r;  // only echoes
}

TEST_F(ScriptedAgentTest, TheUsersFolderKeepsOneAdministrator) {
  CVirtualFolder* users = Node("\\HOST7\\Users");
  ASSERT_NE(users, nullptr);
  users->Refresh();
  Pump();
  ASSERT_NE(Node("\\HOST7\\Users\\admin"), nullptr);
  CVirtualFolder* op = Node("\\HOST7\\Users\\op");
  op->Refresh();
  Pump();
  EXPECT_EQ(op->GetProperty("right", "", true), "4");
  users->Invoke("CreateUser", "bob@p@ss@6");  // the agent cuts at the second '@'
  users->Invoke("CreateUser", "bad@nope");
  users->Invoke("DeleteUser", "admin");  // the only administrator stays
  Pump();
  FakeNode* fu = agent.root.Child("Users");
  ASSERT_NE(fu->Child("bob"), nullptr);
  EXPECT_EQ(agent.passwords["bob"], "p");
  EXPECT_EQ(fu->Child("bob")->Child("right")->value, "0");
  EXPECT_EQ(fu->Child("bad"), nullptr);
  EXPECT_NE(fu->Child("admin"), nullptr);
  op->Invoke("changeright", "6");
  op->Invoke("rename", "rob");
  Pump();
  ASSERT_NE(fu->Child("rob"), nullptr);
  EXPECT_EQ(fu->Child("rob")->Child("right")->value, "6");
  users->Invoke("DeleteUser", "admin");  // now one of two
  Pump();
  EXPECT_EQ(fu->Child("admin"), nullptr);
  // The listing follows the store.
  users->Reload();
  Pump();
  EXPECT_NE(Node("\\HOST7\\Users\\rob"), nullptr);
  EXPECT_EQ(Node("\\HOST7\\Users\\admin"), nullptr);
}

}  // namespace
}  // namespace kelm::console::testing
