// Message boxes one at a time, questions answered where they are asked, the alarm's end, and the
// agent's values read again under console marks.
#include "console/core/strings.h"
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

// A view that runs a command when a node's values change, as a page reacting to a reply would.
class CommandOnHint : public DocumentView {
 public:
  CommandOnHint(CDremmoralDoc& d, CPea* node, int command) : doc_(d), node_(node), command_(command) {}
  void OnUpdate(int hint, CPea* node) override {
    if (hint != kHintValuesChanged || node != node_ || fired_) return;
    fired_ = true;
    doc_.SetCommandNode(node_);
    doc_.OnCommand(command_);
  }

 private:
  CDremmoralDoc& doc_;
  CPea* node_;
  int command_;
  bool fired_ = false;
};

class MessagesTest : public ConsoleTest {
 protected:
  void SetUp() override {
    agent.root.Child("Controller0")->Add("ClearEvent", "m--", "64");
    ValidProfile();
    Start();
    c0 = Node("\\HOST7\\Controller0");
    c0->Refresh();
    Pump();
  }
  CVirtualFolder* c0 = nullptr;
};

TEST_F(MessagesTest, AQuestionAskedFromAReplyIsAskedAfterItAndItsAnswerUsed) {
  CommandOnHint view2(*doc, c0, kCmdClearEvents);
  doc->AddView(&view2);
  ui.boxes.clear();
  c0->Reload();  // the listing's final reply sends 259 from inside the engine's callback
  Pump();
  doc->RemoveView(&view2);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].stringId, kStrConfirmClearEvents);
  EXPECT_TRUE(ui.beeps.empty());
  ASSERT_FALSE(agent.invoked.empty());
  EXPECT_EQ(agent.invoked.back(), "\\Controller0|ClearEvent@");
}

TEST_F(MessagesTest, BoxesNeverNestAndShowInOrder) {
  ui.boxes.clear();
  // While the first box is open, two more are asked for from replies and the poll fires.
  ui.duringModal = [this] {
    ui.duringModal = nullptr;
    {
      CDremmoralDoc::CallbackScope inEngine(doc.get());
      doc->ShowMessage(MessageBoxRequest{0, "second", "", MsgButtons::Ok, MsgIcon::None, false});
    }
    doc->ShowMessage(MessageBoxRequest{0, "third", "", MsgButtons::Ok, MsgIcon::None, false});
    // A question cannot be answered from inside an open box: it is refused, not shown.
    EXPECT_EQ(doc->ShowMessage(MessageBoxRequest{0, "q", "", MsgButtons::YesNo, MsgIcon::None, false}), kIdNo);
    loop->runOnce(0);
    clock.advanceSeconds(1);
    doc->Poll();
    loop->runOnce(0);
  };
  doc->ShowMessage(MessageBoxRequest{0, "first", "", MsgButtons::Ok, MsgIcon::None, false});
  Pump();
  EXPECT_EQ(ui.maxBoxDepth, 1);
  std::vector<std::string> texts;
  for (const auto& b : ui.boxes) texts.push_back(b.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"first", "second", "third"}));
}

TEST_F(MessagesTest, TheAlarmEndsWithTheArraysBranch) {
  FakeNode* a1 = agent.root.Child("Controller0")->Child("Array1");
  a1->Child("Status")->value = "-2147483647";  // critical
  CVirtualFolder* array = Node("\\HOST7\\Controller0\\Array1");
  array->Refresh();
  Pump();
  doc->BuildNodeLabel(array);
  ASSERT_TRUE(doc->alarm());
  // The controller's branch goes (a view still holds the controller), and the beeping stops.
  PeaRef<CVirtualFolder> held(c0);
  Agent()->RemoveChildNode(c0);
  EXPECT_FALSE(doc->alarm());
  ui.beeps.clear();
  clock.advanceSeconds(1);
  doc->Poll();
  EXPECT_TRUE(ui.beeps.empty());
}

TEST_F(MessagesTest, ANodeRelabelledAsAnotherTypeLeavesTheAlarm) {
  CVirtualFolder* array = Node("\\HOST7\\Controller0\\Array1");
  array->SetLocalProperty("Status", "-2147483646");  // offline
  doc->BuildNodeLabel(array);
  ASSERT_TRUE(doc->alarm());
  ASSERT_TRUE(array->ParseOwnEntry("Array1@o--@6"));
  array->SetNodeType();
  doc->BuildNodeLabel(array);
  EXPECT_FALSE(doc->alarm());
}

TEST_F(MessagesTest, AConsoleMarkDoesNotStopTheAgentsStatusFromBeingReadAgain) {
  FakeNode* chan = agent.root.Folder("Ctl4", kNodeIopController)->Folder("Ch0", kNodeChannel);
  FakeNode* disk = chan->Folder("Disk0", kNodeIopDisk);
  disk->Add("Status", "prv", "256");
  Agent()->Reload();
  Pump();
  Node("\\HOST7\\Ctl4")->Refresh();
  Pump();
  Node("\\HOST7\\Ctl4\\Ch0")->Refresh();
  Pump();
  CVirtualFolder* d = Node("\\HOST7\\Ctl4\\Ch0\\Disk0");
  ASSERT_NE(d, nullptr);
  d->Refresh();
  Pump();
  // The console marks the disk (as a short cut's label does) ...
  d->SetLocalIntProperty("Status", 768);
  // ... and the agent's own value still comes back on the next reads.
  disk->Child("Status")->value = "512";
  d->GetIntProperty("Status", 0);
  Pump();
  EXPECT_EQ(d->GetIntProperty("Status", 0, true), 512);
  disk->Child("Status")->value = "256";
  d->GetIntProperty("Status", 0);
  Pump();
  EXPECT_EQ(d->GetIntProperty("Status", 0, true), 256);
}

}  // namespace
}  // namespace kelm::console::testing
