// The intelligent-I/O array page: what it shows of an array, what each Commit sends, and the create
// form of a console-made array, against the scripted agent.
#include "console/core/array_action.h"
#include "console/core/pages/array_page.h"
#include "console/core/pages/page_support.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::ArrayPage;

class ArrayPageTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* qx = Controller("IOP1", "1");
    FakeNode* a = qx->Folder("Array0", kNodeIopArray);
    a->Add("name", "prw", "Data");
    a->Add("RAID_Mode", "pr-", "RAID5(PARITY-DISTRIBUTED)");
    a->Add("Block Size", "pr-", "16");
    a->Add("Size", "pr-", "4294967295");
    a->Add("Status", "prv", "256");
    a->Add("percent", "prv", "37");
    a->Add("GetAutoSeqRandDet", "pr-", "0");
    a->Add("GetWriteBackCache", "pr-", "1");
    a->Add("SetAutoSeqRandDet", "m--", "60");
    a->Add("SetWriteBackCache", "m--", "60");
    a->Add("rename", "m--", "60");
    FakeNode* std = Controller("IOP2", "0");
    FakeNode* b = std->Folder("Array0", kNodeIopArray);
    b->Add("name", "prw", "Logs");
    b->Add("RAID_Mode", "pr-", "RAID1(MIRROR)");
    b->Add("Size", "pr-", "2095104");
    b->Add("Status", "prv", "0");
    b->Add("ReadCachePolicy", "pr-", "1");
    b->Add("WriteCachePolicy", "pr-", "1");
    b->Add("ReadCacheHit", "prv", "90");
    b->Add("DirtyUsage", "prv", "12");
    b->Add("SetCachePolicy", "m--", "60");
    b->Add("ResetCacheStats", "m--", "60");
    Start();
    page = std::make_unique<ArrayPage>(*doc);
  }
  FakeNode* Controller(const std::string& name, const std::string& isQx6) {
    FakeNode* c = agent.root.Folder(name, kNodeIopController);
    c->Add("IsQx6", "pr-", isQx6);
    c->Add("CreateArray", "m--", "60");
    FakeNode* ch = c->Folder("Channel0", kNodeChannel);
    const char* handles[] = {"11;6", "12;6", "13;6", "16;6"};
    for (int d = 0; d < 4; ++d) {
      FakeNode* disk = ch->Folder("Disk" + std::to_string(d), kNodeIopDisk);
      disk->Add("handle", "pr-", handles[d]);
      disk->Add("Status", "prv", "256");
    }
    return c;
  }
  // A console-made array under the controller with the given disks of its channel.
  CVirtualFolder* NewArray(const std::string& ctl, std::vector<int> disks) {
    CVirtualFolder* c = Open(ctl);
    for (int d : disks) Open(ctl + "\\Channel0\\Disk" + std::to_string(d));
    doc->setFreeDiskAvailable(true);
    doc->SetCommandNode(c);
    doc->OnCommand(kCmdCreateArray);
    auto* array = AsFolder(c->FindChild("New Array"));
    for (int d : disks) {
      doc->SetCommandNode(Node("\\HOST7\\" + ctl + "\\Channel0\\Disk" + std::to_string(d)));
      doc->OnCommand(kCmdAddToNewArray);
    }
    doc->SetCommandNode(nullptr);
    return array;
  }
  std::unique_ptr<ArrayPage> page;
};

TEST_F(ArrayPageTest, ShowsAnExistingArrayByModel) {
  page->ShowNode(Open("IOP1\\Array0"));
  EXPECT_EQ(page->controlSet(), ArrayPage::ControlSet::Qx);
  const auto& c = page->controls();
  EXPECT_EQ(c.name, "Data");
  EXPECT_EQ(c.level, "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_EQ(c.blockSize, 16);
  EXPECT_EQ(c.blockMax, 64);
  EXPECT_EQ(c.sizeText, "2097151 MB (2047.999 GB)");
  EXPECT_EQ(c.statusText, "Synchronizing 37%");
  EXPECT_FALSE(c.autoDetect);
  EXPECT_TRUE(c.writeBack);
  auto e = page->enables();
  EXPECT_TRUE(e.commit && e.name && e.autoDetect && e.writeBack);
  EXPECT_FALSE(e.level || e.readCache || e.resetStats);

  page->ShowNode(Open("IOP2\\Array0"));
  EXPECT_EQ(page->controlSet(), ArrayPage::ControlSet::Standard);
  EXPECT_EQ(page->controls().sizeText, "1023 MB");
  EXPECT_EQ(page->controls().statusText, "Functional");
  EXPECT_EQ(page->controls().readCache, 1);
  EXPECT_EQ(page->controls().writeCache, 1);
  EXPECT_EQ(page->controls().stats[0], "90");
  EXPECT_EQ(page->controls().blockSize, 64);  // no Block Size: the default
  EXPECT_EQ(page->controls().blockMax, 1024);
  e = page->enables();
  EXPECT_TRUE(e.readCache && e.writeCache && e.resetStats);
  EXPECT_FALSE(e.commit);  // nothing modified and no check methods
  page->SetReadCache(0);
  EXPECT_EQ(page->controls().writeCache, 0);
  EXPECT_FALSE(page->enables().writeCache);
  EXPECT_TRUE(page->enables().commit);

  agent.root.Child("IOP2")->Remove("IsQx6");
  agent.root.Child("IOP2")->name = "IOP3";
  agent.root.Child("IOP3")->Child("Array0")->Child("name")->value = "X";
  doc->root()->FindByPath("\\HOST7")->Reload();
  Pump();
  page->ShowNode(Open("IOP3\\Array0"));
  EXPECT_EQ(page->controlSet(), ArrayPage::ControlSet::Unchanged);
}

TEST_F(ArrayPageTest, BufferChecksGoInOrderAndStopAtAFailure) {
  CVirtualFolder* array = Open("IOP1\\Array0");
  page->ShowNode(array);
  page->SetAutoDetect(true);
  page->SetWriteBack(false);
  page->Commit();
  EXPECT_EQ(Invoked(), (std::vector<std::string>{"\\IOP1\\Array0|SetAutoSeqRandDet@1",
                                                 "\\IOP1\\Array0|SetWriteBackCache@0"}));
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrRebootForSetting});
  EXPECT_TRUE(page->controls().autoDetect);
  // What was sent is the new baseline: a second Commit sends nothing.
  page->Commit();
  EXPECT_EQ(Invoked().size(), 2u);

  // The first call fails: the second is not made and the failure is shown.
  page->ShowNode(Open("IOP2\\Array0"));
  page->ShowNode(array);
  array->setOpen(false);  // its invokes now fail at once
  page->SetAutoDetect(true);
  page->SetWriteBack(false);
  ui.boxes.clear();
  page->Commit();
  EXPECT_EQ(Invoked().size(), 2u);
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].text, "Connection Error");
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Stop);
}

TEST_F(ArrayPageTest, RenameIsLocalThenInvoked) {
  CVirtualFolder* array = Open("IOP1\\Array0");
  page->ShowNode(array);
  const std::size_t mark = agent.received.size();
  page->SetName("Backup");
  page->Commit();
  Pump();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\IOP1\\Array0|rename@Backup"});
  EXPECT_EQ(array->GetProperty("name", "", true), "Backup");
  for (const CMessage& m : agent.Since(mark)) EXPECT_NE(m.code, kReqSetProperty) << m.text;
  EXPECT_TRUE(ui.boxes.empty());

  for (const char* bad : {"123456789012345678901", "a@b", "\"x"}) {
    page->SetName(bad);
    ui.boxes.clear();
    page->Commit();
    EXPECT_EQ(Invoked().size(), 1u) << bad;
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, pages::kBadArrayNameText);
  }
}

TEST_F(ArrayPageTest, CachePolicySendsOnlyShownFields) {
  CVirtualFolder* array = Open("IOP2\\Array0");
  page->ShowNode(array);
  page->SetReadCache(0);
  page->Commit();
  page->SetReadCache(1);
  page->SetWriteCache(1);
  page->Commit();
  EXPECT_EQ(Invoked(), (std::vector<std::string>{"\\IOP2\\Array0|SetCachePolicy@ReadCachePolicy@0",
                                                 "\\IOP2\\Array0|SetCachePolicy@ReadCachePolicy@1@WriteCachePolicy@1"}));
  EXPECT_EQ(BoxIds(), (std::vector<int>{kStrCacheReboot, kStrCacheReboot}));
  // A failed call shows the failure instead of the reboot text.
  array->setOpen(false);
  page->SetReadCache(0);
  ui.boxes.clear();
  page->Commit();
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"Connection Error"});
  // On the buffer model the cache controls are hidden: nothing of them is sent.
  page->ShowNode(Open("IOP1\\Array0"));
  page->SetReadCache(1);
  page->Commit();
  EXPECT_EQ(Invoked().size(), 2u);
}

TEST_F(ArrayPageTest, StatisticsRefreshOnTheSixteenthTickOfTheStandardModel) {
  page->ShowNode(Open("IOP2\\Array0"));
  agent.root.Child("IOP2")->Child("Array0")->Child("ReadCacheHit")->value = "95";
  for (int i = 0; i < ArrayPage::kStatisticsPeriod; ++i) page->RefreshPage();
  Pump();
  EXPECT_EQ(page->controls().stats[0], "90");
  page->RefreshPage();  // reads: the answers come as hints
  Pump();
  CVirtualFolder* array = page->GetFolder();
  page->OnUpdate(kHintChildArrived, array->FindChild("ReadCacheHit"));
  EXPECT_EQ(page->controls().stats[0], "95");
  // Reset Cache stats asks the next tick to read again.
  page->ResetCacheStats();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\IOP2\\Array0|ResetCacheStats@"});
}

TEST_F(ArrayPageTest, TypedValuesSurviveTheRefresh) {
  CVirtualFolder* array = Open("IOP1\\Array0");
  page->ShowNode(array);
  page->SetName("Typed");
  agent.root.Child("IOP1")->Child("Array0")->Child("percent")->value = "150";
  array->Reload();
  Pump();
  page->ShowNode(array);  // the pane shows the same node again after a reload
  page->OnUpdate(kHintChildArrived, array->FindChild("name"));
  page->OnUpdate(kHintChildArrived, array->FindChild("percent"));
  EXPECT_EQ(page->controls().name, "Typed");
  EXPECT_EQ(page->controls().statusText, "Synchronizing 0%");
  page->Reset();
  EXPECT_EQ(page->controls().name, "Data");
  page->SetName("Typed");
  page->ShowNode(Open("IOP2\\Array0"));
  page->ShowNode(array);
  EXPECT_EQ(page->controls().name, "Data");
}

TEST_F(ArrayPageTest, CreateSendsTheHandlesReadAndCleansUpAfterSuccess) {
  CVirtualFolder* array = NewArray("IOP1", {0, 1, 2});
  ASSERT_NE(array, nullptr);
  CVirtualFolder* ctl = Node("\\HOST7\\IOP1");
  page->ShowNode(array);
  EXPECT_TRUE(page->isNewArray());
  EXPECT_EQ(page->controls().level, "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_TRUE(page->enables().level && page->enables().commit && page->enables().name);
  page->SetName("NAME");
  page->SetBlockSize(16);
  Pump();
  const std::size_t mark = agent.received.size();
  page->Commit();
  Pump();
  const auto sent = agent.Since(mark);  // the create, then the disks read again
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0], CMessage(kReqChangeFolder, sent[0].id, kStatusRequest, "\\"));
  EXPECT_EQ(sent[1], CMessage(kReqChangeFolder, sent[0].id, kStatusRequest, "IOP1"));
  EXPECT_EQ(sent[2], CMessage(kReqInvoke, sent[0].id, kStatusRequest,
                              "CreateArray@NAME@RAID5(PARITY-DISTRIBUTED)@3@11@12@13@16@1@1"));
  EXPECT_EQ(ui.optionDialogs, 1);
  EXPECT_EQ(ctl->FindChild("New Array"), nullptr);
  EXPECT_FALSE(ctl->keepChildren());
  CVirtualFolder* d0 = Node("\\HOST7\\IOP1\\Channel0\\Disk0");
  EXPECT_FALSE(d0->inNewArray());
  EXPECT_FALSE(d0->flags() & (CVirtualFolder::kFlagNew | CVirtualFolder::kFlagPassive));
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrRebootAfterInit});
  EXPECT_TRUE(doc->lastInitialization());
}

TEST_F(ArrayPageTest, CreateTextsByModelAndLevel) {
  struct Case {
    const char* ctl;
    std::vector<int> disks;
    const char* level;
    int block;
    std::optional<CreateArrayOptions> options;
    int dialogs;
    const char* sent;  // null: nothing
    int box;
  } cases[] = {
      {"IOP2", {0, 1, 2}, "RAID5(PARITY-DISTRIBUTED)", 16, {}, 0, "CreateArray@NAME@RAID5(PARITY-DISTRIBUTED)@3@11@12@13@16", kStrRebootForSetting},
      {"IOP1", {0, 1}, "RAID0(STRIPING)", 16, {}, 0, "CreateArray@NAME@RAID0(STRIPING)@2@11@12@16", kStrRebootForSetting},
      {"IOP1", {0}, "SPAN", 16, {}, 0, "CreateArray@NAME@SPAN@1@11@64", kStrRebootForSetting},
      {"IOP1", {0, 1}, "RAID1(MIRROR)", 16, CreateArrayOptions{false, true}, 1, "CreateArray@NAME@RAID1(MIRROR)@2@11@12@64@0@1", kStrRebootForSetting},
      {"IOP1", {0, 1, 2}, "RAID1(MIRROR)", 64, CreateArrayOptions{}, 0, nullptr, kStrRaid1Count},
      {"IOP1", {0, 1, 2}, "RAID0+1(STRIPE-MIRRORING)", 64, CreateArrayOptions{}, 0, nullptr, kStrRaid01Count},
      {"IOP1", {0, 1}, "RAID3(PARITY-DEDICATED)", 64, CreateArrayOptions{}, 0, nullptr, kStrRaid35Count},
      {"IOP1", {0, 1}, "RAID7", 64, CreateArrayOptions{}, 0, nullptr, kStrUnknownLevel},
      {"IOP1", {0, 1, 2}, "RAID5(PARITY-DISTRIBUTED)", 128, CreateArrayOptions{}, 0, nullptr, kStrBadBlockSize},
      {"IOP1", {0, 1, 2}, "RAID5(PARITY-DISTRIBUTED)", 3, CreateArrayOptions{}, 0, nullptr, kStrBadBlockSize},
      {"IOP1", {0, 1, 2}, "RAID5(PARITY-DISTRIBUTED)", 16, std::nullopt, 1, nullptr, 0},  // Cancel
  };
  for (const Case& c : cases) {
    CVirtualFolder* array = NewArray(c.ctl, c.disks);
    ASSERT_NE(array, nullptr);
    page->ShowNode(array);
    page->SetName("NAME");
    page->SetLevel(c.level);
    page->SetBlockSize(c.block);
    ui.createOptions = c.options;
    ui.optionDialogs = 0;
    ui.boxes.clear();
    const std::size_t mark = agent.invoked.size();
    page->Commit();
    EXPECT_EQ(ui.optionDialogs, c.dialogs) << c.level;
    if (c.sent) {
      EXPECT_EQ(Invoked(mark), std::vector<std::string>{std::string("\\") + c.ctl + "|" + c.sent});
    } else {
      EXPECT_EQ(Invoked(mark), std::vector<std::string>{}) << c.level;
      // Refused or cancelled: the console-made array and its members stay.
      EXPECT_EQ(Node(std::string("\\HOST7\\") + c.ctl)->FindChild("New Array"), array);
      EXPECT_EQ(pages::MemberDisks(array, kNodeIopDisk).size(), c.disks.size());
      CArrayAction(doc.get(), array).DeleteArray();
    }
    EXPECT_EQ(BoxIds(), c.box ? std::vector<int>{c.box} : std::vector<int>{}) << c.level;
  }
}

TEST_F(ArrayPageTest, CreateRefusesMembersNotReadAndArraysThatLeft) {
  CVirtualFolder* array = NewArray("IOP1", {0, 1, 2});
  CVirtualFolder* ctl = Node("\\HOST7\\IOP1");
  page->ShowNode(array);
  // A member's handle is not known: refused, asked again, nothing created.
  CVirtualFolder* d1 = Node("\\HOST7\\IOP1\\Channel0\\Disk1");
  d1->RemoveChildNode(d1->FindChild("handle"));
  const std::size_t mark = agent.received.size();
  page->Commit();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kMembersUnreadText});
  EXPECT_EQ(ui.optionDialogs, 0);
  Pump();
  bool asked = false;
  for (const CMessage& m : agent.Since(mark)) {
    EXPECT_NE(m.code, kReqInvoke);
    asked |= m.code == kReqListRights;
  }
  EXPECT_TRUE(asked);
  ASSERT_NE(d1->FindChild("handle"), nullptr);
  // Two members with one handle are refused too.
  d1->FindChild("handle")->setValue("11;6");
  ui.boxes.clear();
  page->Commit();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kMembersUnreadText});
  d1->FindChild("handle")->setValue("12;6");

  // The array was pruned while its page was shown: nothing is sent and nothing breaks.
  ctl->RemoveChildNode(array);
  ui.boxes.clear();
  page->Commit();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kArrayLeftText});
  EXPECT_TRUE(agent.invoked.empty());
}

TEST_F(ArrayPageTest, AnArrayPrunedWhileTheOptionsAreOpenIsNotCreated) {
  CVirtualFolder* array = NewArray("IOP1", {0, 1, 2});
  CVirtualFolder* ctl = Node("\\HOST7\\IOP1");
  ui.splitter = SplitterMode::ListOnly;
  page->ShowNode(array);
  EXPECT_EQ(ui.splitter, SplitterMode::BothPanes);
  ui.duringModal = [&] {
    ui.duringModal = nullptr;
    ctl->RemoveChildNode(array);
  };
  page->Commit();
  EXPECT_EQ(ui.optionDialogs, 1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kArrayLeftText});
  EXPECT_TRUE(Invoked().empty());
}

TEST_F(ArrayPageTest, FailedCreateKeepsTheArray) {
  CVirtualFolder* array = NewArray("IOP1", {0, 1, 2});
  CVirtualFolder* ctl = Node("\\HOST7\\IOP1");
  page->ShowNode(array);
  ctl->setOpen(false);  // the invoke now fails at once
  page->Commit();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Connection Error"});
  EXPECT_EQ(ctl->FindChild("New Array"), array);
  EXPECT_EQ(pages::MemberDisks(array, kNodeIopDisk).size(), 3u);
  EXPECT_TRUE(Node("\\HOST7\\IOP1\\Channel0\\Disk0")->inNewArray());
}

}  // namespace
}  // namespace kelm::console::testing
