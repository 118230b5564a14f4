// Questions and dialogs run nested loops on the screen, in which replies arrive and nodes leave the
// tree. Each test prunes the node a command acts on from inside the question; nothing may be sent
// for it afterwards, and nothing freed may be touched (the suite runs under the sanitizers).
#include "console/core/array_action.h"
#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

class ModalTest : public ConsoleTest {
 protected:
  void SetUp() override {
    FakeNode* c0 = agent.root.Child("Controller0");
    c0->Add("ClearEvent", "m--", "64");
    FakeNode* a1 = c0->Child("Array1");
    a1->Child("Status")->value = "256";  // synchronising
    a1->Add("ThrottleStatus", "pr-", "1");
    FakeNode* d0 = a1->Folder("Disk0", kNodeIdeDisk);
    d0->Add("handle", "pr-", "5");
    FakeNode* iop = agent.root.Folder("Ctl4", kNodeIopController);
    iop->Add("DeleteArray", "m--", "8");
    FakeNode* a3 = iop->Folder("Ary1", kNodeIopArray);
    a3->Add("ArrayHandle", "pr-", "7");
    a3->Add("ThrottleStatus", "pr-", "0");
    agent.AddUsers(&agent.root, {{"admin", 6}, {"op", 4}});
  }
  // Lists every folder of the scripted tree below the node.
  void Open(CVirtualFolder* node) {
    node->Refresh();
    Pump();
    for (CPea* c : node->SubFolders(false)) {
      if (auto* f = dynamic_cast<CVirtualFolder*>(c)) Open(f);
    }
  }
  void StartOpen() {
    ValidProfile();
    Start();
    Open(Agent());
  }
  // The next question or dialog removes the child from the scripted agent and lets the console see
  // it go, as a listing arriving during the nested loop does.
  void PruneDuringNextQuestion(const std::string& parentPath, const std::string& child) {
    ui.duringModal = [this, parentPath, child] {
      ui.duringModal = nullptr;
      FakeNode* f = &agent.root;
      std::string rest = parentPath;
      while (!rest.empty()) {
        const std::size_t cut = rest.find('\\', 1);
        f = f->Child(rest.substr(1, cut == std::string::npos ? std::string::npos : cut - 1));
        rest = cut == std::string::npos ? "" : rest.substr(cut);
      }
      ASSERT_TRUE(f->Remove(child));
      CVirtualFolder* parent = Node("\\HOST7" + parentPath);
      ASSERT_NE(parent, nullptr);
      parent->Reload();
      Pump();
      ASSERT_EQ(parent->FindChild(child), nullptr);
    };
  }
  int Invokes(std::size_t mark) {
    int n = 0;
    for (const CMessage& m : agent.Since(mark)) n += m.code == kReqInvoke;
    return n;
  }
};

struct QuestionCase {
  const char* node;  // the command node, below the agent
  int command;
  const char* pruneParent;  // what leaves during the question
  const char* pruneChild;
  int answer;
};

class PruneInQuestionTest : public ModalTest, public ::testing::WithParamInterface<QuestionCase> {};

TEST_P(PruneInQuestionTest, NothingIsSentForANodePrunedDuringItsQuestion) {
  const QuestionCase& c = GetParam();
  StartOpen();
  CVirtualFolder* node = Node(std::string("\\HOST7") + c.node);
  ASSERT_NE(node, nullptr);
  doc->SetCommandNode(node);
  ui.boxes.clear();
  ui.answers = {c.answer};
  PruneDuringNextQuestion(c.pruneParent, c.pruneChild);
  const std::size_t mark = agent.received.size();
  doc->OnCommand(c.command);
  Pump();
  EXPECT_FALSE(ui.boxes.empty());
  EXPECT_EQ(Invokes(mark), 0);
  doc->OnCommand(kCmdClearCommandNode);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PruneInQuestionTest,
    ::testing::Values(QuestionCase{"\\Users\\op", kCmdDeleteUser, "", "Users", kIdOk},
                      QuestionCase{"\\Users\\op", kCmdDeleteUser, "\\Users", "op", kIdOk},
                      QuestionCase{"\\Ctl4\\Ary1", kCmdDeleteArray, "", "Ctl4", kIdYes},
                      QuestionCase{"\\Ctl4\\Ary1", kCmdDeleteArray, "\\Ctl4", "Ary1", kIdYes},
                      QuestionCase{"\\Controller0\\Array1", kCmdSyncArray, "\\Controller0", "Array1", kIdYes},
                      QuestionCase{"\\Controller0\\Array1", kCmdPause, "\\Controller0", "Array1", kIdOk},
                      QuestionCase{"\\Controller0\\Array1", kCmdStop, "\\Controller0", "Array1", kIdOk},
                      QuestionCase{"\\Controller0", kCmdClearEvents, "", "Controller0", kIdOk}));

TEST_F(ModalTest, ARebuildSendsNothingWhenItsDiskLeftDuringTheQuestion) {
  StartOpen();
  CVirtualFolder* array = Node("\\HOST7\\Controller0\\Array1");
  CVirtualFolder* disk = Node("\\HOST7\\Controller0\\Array1\\Disk0");
  ASSERT_NE(disk, nullptr);
  std::size_t mark = agent.received.size();
  CArrayAction(doc.get(), array).RebuildArray(kActStart, disk);
  Pump();
  EXPECT_EQ(Invokes(mark), 1);
  EXPECT_EQ(agent.invoked.back(), "\\Controller0\\Array1|RebuildArray@512@5");
  PruneDuringNextQuestion("\\Controller0\\Array1", "Disk0");
  mark = agent.received.size();
  CArrayAction(doc.get(), array).RebuildArray(kActStart, disk);
  Pump();
  EXPECT_EQ(ui.boxes.back().stringId, kStrConfirmRebuild);
  EXPECT_EQ(Invokes(mark), 0);
}

class LoginDialogTest : public ModalTest, public ::testing::WithParamInterface<bool> {};

// The dialog's nested loop closes the connection (true) or prunes the agent (false).
TEST_P(LoginDialogTest, NoLogonGoesOutForAConnectionOrNodeThatWentDuringTheDialog) {
  agent.requireLogon = true;
  Start();
  CVirtualFolder* node = dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("LOCALAGENT"));
  if (!node) node = Agent();
  ASSERT_NE(node, nullptr);
  doc->SetCommandNode(node);
  ui.login = LoginInput{"admin", "secret", false};
  const bool closeConnection = GetParam();
  ui.duringModal = [this, node, closeConnection] {
    ui.duringModal = nullptr;
    if (closeConnection) {
      doc->DisconnectNode(node);
      loop->runOnce(0);
      ASSERT_TRUE(doc->connections().empty());
    } else {
      doc->root()->RemoveChildNode(node);
    }
  };
  const std::size_t mark = agent.received.size();
  doc->OnCommand(kCmdLogin);
  Pump();
  for (const CMessage& m : agent.Since(mark)) EXPECT_NE(m.code, kReqLogon);
}

INSTANTIATE_TEST_SUITE_P(Nested, LoginDialogTest, ::testing::Bool());

}  // namespace
}  // namespace kelm::console::testing
