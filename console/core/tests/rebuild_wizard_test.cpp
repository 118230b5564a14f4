// The rebuild wizard: its navigation and checks, the request each array family sends, and the
// array or disk leaving the tree while the wizard is open.
#include "console/core/pages/rebuild_wizard.h"

#include "console/core/pages/page_support.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::RebuildWizard;

class RebuildWizardTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* iop = agent.root.Folder("IOP1", kNodeIopController);
    FakeNode* a = iop->Folder("Array0", kNodeIopArray);
    a->Add("RebuildArray", "m--", "60");
    for (int i = 0; i < 2; ++i) {
      FakeNode* d = a->Folder("Disk" + std::to_string(i), kNodeIopDisk);
      d->Add("DiskHandle", "pr-", std::to_string(40 + i));
    }
    FakeNode* ide = agent.root.Folder("IDE1", kNodeIdeController);
    FakeNode* b = ide->Folder("Array1", kNodeIdeArray);
    b->Add("RebuildArray", "m--", "60");
    b->Folder("Disk0", kNodeIdeDisk)->Add("handle", "pr-", "7");
    FakeNode* ser = agent.root.Folder("SER1", kNodeSerialController);
    FakeNode* c = ser->Folder("Ary0", kNodeSerialArray);
    c->Add("RebuildArray", "m--", "60");
    c->Folder("Disk0", kNodeSerialDisk)->Add("Channel", "pr-", "3");
    Start();
  }
  std::vector<std::string> Rebuilds(std::size_t mark) {
    std::vector<std::string> out;
    for (const auto& s : Invoked(mark)) {
      if (s.find("|RebuildArray@") != std::string::npos) out.push_back(s);
    }
    return out;
  }
};

TEST_F(RebuildWizardTest, NavigationAndChecks) {
  CVirtualFolder* array = Open("IOP1\\Array0");
  RebuildWizard w(*doc, array, nullptr);
  EXPECT_EQ(w.page(), 0);
  EXPECT_FALSE(w.backShown());
  EXPECT_TRUE(w.nextShown());
  ASSERT_EQ(w.items().size(), 2u);
  EXPECT_FALSE(w.Next());
  EXPECT_EQ(ui.beeps, std::vector<std::uint32_t>{kBeepHand});
  EXPECT_EQ(ui.boxes.back().stringId, 196);
  EXPECT_EQ(ui.boxes.back().text, "You did not select any disk");
  w.SetSelected({true, true});
  EXPECT_FALSE(w.Next());
  EXPECT_EQ(ui.boxes.back().stringId, 197);
  EXPECT_EQ(ui.boxes.back().text, "You have selected too many disks");
  w.SetSelected({false, true});
  ASSERT_TRUE(w.Next());
  EXPECT_EQ(w.page(), 1);
  EXPECT_TRUE(w.finishShown());
  EXPECT_TRUE(w.backShown());
  EXPECT_EQ(w.FinishLabel(), doc->BuildNodeLabel(array->FindChild("Disk1")).text);
  w.Back();
  EXPECT_EQ(w.selected(), (std::vector<bool>{false, true}));
}

TEST_F(RebuildWizardTest, StartsOnTheFinishPageWithADisk) {
  CVirtualFolder* array = Open("IOP1\\Array0");
  RebuildWizard w(*doc, array, array->FindChild("Disk0"));
  EXPECT_EQ(w.page(), 1);
  EXPECT_NE(w.FinishLabel(), "NONE");
  w.Back();
  EXPECT_EQ(w.selected(), (std::vector<bool>{true, false}));
}

TEST_F(RebuildWizardTest, SendsTheFamilysRequest) {
  struct Case {
    const char* array;
    const char* sent;
  } cases[] = {{"IOP1\\Array0", "\\IOP1\\Array0|RebuildArray@512@40"},
               {"IDE1\\Array1", "\\IDE1\\Array1|RebuildArray@512@7"},
               {"SER1\\Ary0", "\\SER1\\Ary0|RebuildArray@512@3"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.array);
    CVirtualFolder* array = Open(c.array);
    RebuildWizard w(*doc, array, nullptr);
    w.SetSelected({true});
    ASSERT_TRUE(w.Next());
    Pump();
    for (int answer : {kIdNo, kIdYes}) {
      ui.answers = {answer};
      const std::size_t mark = agent.invoked.size();
      EXPECT_TRUE(w.Finish());
      EXPECT_EQ(ui.boxes.back().stringId, 198);
      EXPECT_EQ(Rebuilds(mark), answer == kIdYes ? std::vector<std::string>{c.sent} : std::vector<std::string>{});
    }
  }
}

TEST_F(RebuildWizardTest, WaitsForTheDisksId) {
  CVirtualFolder* ctl = Open("IDE1");
  CVirtualFolder* array = AsFolder(ctl->FindChild("Array1"));
  array->Refresh();
  Pump();
  RebuildWizard w(*doc, array, array->FindChild("Disk0"));
  ui.answers = {kIdYes};
  const std::size_t mark = agent.invoked.size();
  EXPECT_FALSE(w.Finish());  // the disk's handle is still on its way
  EXPECT_EQ(ui.boxes.back().text, pages::kMembersUnreadText);
  EXPECT_TRUE(Rebuilds(mark).empty());
  ui.answers = {kIdYes};
  EXPECT_TRUE(w.Finish());
  EXPECT_EQ(Rebuilds(mark), std::vector<std::string>{"\\IDE1\\Array1|RebuildArray@512@7"});
}

TEST_F(RebuildWizardTest, ArrayOrDiskGoneSendsNothing) {
  for (const char* gone : {"Disk0", "array"}) {
    SCOPED_TRACE(gone);
    CVirtualFolder* array = Open("IDE1\\Array1");
    RebuildWizard w(*doc, array, array->FindChild("Disk0"));
    if (std::string(gone) == "array") {
      AsFolder(array->GetParent())->RemoveChildNode(array);
    } else {
      array->RemoveChildNode(array->FindChild("Disk0"));
    }
    EXPECT_EQ(w.FinishLabel(), gone == std::string("array") ? w.FinishLabel() : "NONE");
    ui.boxes.clear();
    ui.answers = {kIdYes};
    const std::size_t mark = agent.invoked.size();
    EXPECT_TRUE(w.Finish());
    EXPECT_TRUE(Rebuilds(mark).empty());
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].stringId, 0);
    // Bring the tree back for the next case.
    Agent()->FindChild("IDE1") ? AsFolder(Agent()->FindChild("IDE1"))->Reload() : 0;
    Pump();
  }
}

TEST_F(RebuildWizardTest, RefillsWhenTheMembersArrive) {
  // The array was never listed: page 0 opens empty and fills when the listing's hint comes.
  CVirtualFolder* ctl = Open("IOP1");
  CVirtualFolder* array = AsFolder(ctl->FindChild("Array0"));
  ASSERT_TRUE(array);
  RebuildWizard w(*doc, array, nullptr);
  EXPECT_TRUE(w.items().empty());
  EXPECT_FALSE(w.Next());
  EXPECT_EQ(ui.boxes.back().stringId, 196);
  Pump();
  w.OnUpdate(kHintChildrenChanged, array);
  EXPECT_EQ(w.items().size(), 2u);
}

}  // namespace
}  // namespace kelm::console::testing
