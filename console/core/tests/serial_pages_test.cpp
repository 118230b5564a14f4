// The serial family's controller, box and array pages against the scripted agent.
#include "console/core/array_action.h"
#include "console/core/pages/serial_pages.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::SerialArrayPage;
using pages::SerialBoxPage;
using pages::SerialControllerPage;

class SerialPagesTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* c = agent.root.Folder("SC0", kNodeSerialController);
    c->Add("ComportStatus", "pr-", "Connected");
    c->Add("HWVersion", "pr-", "HW 2.1");
    c->Add("RaidapiVersion", "pr-", "1.07");
    c->Add("FirmwareVersion", "pr-", "3.20");
    c->Add("MemorySize", "pr-", "64 MB");
    c->Add("GetAutoFlushFreq", "prv", "5");
    c->Add("GetSmart", "prv", "1");
    c->Add("GetRebuildPriority", "prv", "0");
    c->Add("GetHDCache", "prv", "0");
    c->Add("GetWriteBackCache", "prv", "0");
    for (const char* m : {"SetSmart", "SetHDCache", "SetRebuildPriority", "SetAutoFlushFreq", "CreateArray"}) {
      c->Add(m, "m--", "134217788");
    }
    c->Add("SetWriteBackCache", "m--", "0");  // no rights for this user
    for (int i = 0; i < 7; ++i) {
      FakeNode* d = c->Folder("ch" + std::to_string(i), kNodeIdeChannel)->Folder("Disk" + std::to_string(i), kNodeSerialDisk);
      d->Add("Channel", "pr-", std::to_string(i));
      d->Add("Status", "prv", i == 6 ? "512" : "256");
    }
    for (const char* mode : {"RAID5(PARITY-DISTRIBUTED)", "RAID50"}) {
      FakeNode* a = c->Folder(mode[4] == '5' && mode[5] == '0' ? "Array2" : "Array1", kNodeSerialArray);
      a->Add("RAID_Mode", "pr-", mode);
      a->Add("Size", "pr-", "9.5 GB");
      a->Add("Status", "prv", "0");
      a->Add("percent", "prv", "0");
      a->Add("name", "pr-", "");
      a->Add("Block Size", "pr-", "64");
      a->Add("GetAutoSeqRandDet", "pr-", "1");
      a->Add("ArrayConversion", "m--", "134217788");
      a->Add("ArrayExpansion", "m--", "134217788");
    }
    FakeNode* e = c->Folder("Enclosure7", kNodeSerialEnclosure);
    const char* values[][2] = {{"Temp1", "-1"}, {"Temp2", "40"}, {"Temp3", "25"}, {"Volt5", "5020"}, {"Volt12", "12040"},
                               {"fanrpm1", "50"}, {"fanrpm2", "0"}, {"fanrpm3", "30"}};
    for (auto& v : values) e->Add(v[0], "prv", v[1]);
    for (int i = 4; i <= 8; ++i) e->Add("fanrpm" + std::to_string(i), "prv", "-1");
    Start();
    Open("SC0");
    for (int i = 0; i < 7; ++i) Open("SC0\\ch" + std::to_string(i));
  }
  CVirtualFolder* Disk(int i) { return Node("\\HOST7\\SC0\\ch" + std::to_string(i) + "\\Disk" + std::to_string(i)); }
  CVirtualFolder* NewArray(std::vector<int> disks) {
    CVirtualFolder* c = Node("\\HOST7\\SC0");
    for (int d : disks) Open("SC0\\ch" + std::to_string(d) + "\\Disk" + std::to_string(d));
    doc->SetCommandNode(c);
    doc->OnCommand(kCmdCreateArray);
    auto* array = AsFolder(c->FindChild("Ary0"));
    for (int d : disks) {
      doc->SetCommandNode(Disk(d));
      doc->OnCommand(kCmdAddToNewArray);
    }
    doc->SetCommandNode(nullptr);
    return array;
  }
};

TEST_F(SerialPagesTest, ControllerShowsAndAppliesInOrder) {
  SerialControllerPage page(*doc);
  CVirtualFolder* ctl = Node("\\HOST7\\SC0");
  page.ShowNode(ctl);
  const auto& c = page.controls();
  EXPECT_EQ(c.comport, "Connected");
  EXPECT_EQ(c.hardware, "HW 2.1");
  EXPECT_EQ(c.raidapi, "1.07");
  EXPECT_EQ(c.firmware, "3.20");
  EXPECT_EQ(c.memory, "64 MB");
  EXPECT_TRUE(c.smart);
  auto e = page.enables();
  EXPECT_TRUE(e.smart && e.hdCache && e.rebuildPriority && e.autoFlush && e.apply);
  EXPECT_FALSE(e.writeBack);  // listed with no rights

  page.SetAutoFlush(30);
  page.SetSmart(false);
  page.SetHdCache(true);
  page.SetRebuildPriority(true);
  page.RefreshPage();  // the refresh keeps what was typed
  EXPECT_EQ(page.controls().autoFlush, 30);
  page.Apply();
  EXPECT_EQ(Invoked(), (std::vector<std::string>{"\\SC0|SetSmart@0", "\\SC0|SetHDCache@1", "\\SC0|SetRebuildPriority@1",
                                                 "\\SC0|SetAutoFlushFreq@30"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Setting has been changed"});
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Information);

  ctl->setOpen(false);
  page.SetSmart(true);
  page.SetAutoFlush(10);
  ui.boxes.clear();
  page.Apply();
  EXPECT_EQ(Invoked().size(), 4u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Connection Error"});
  EXPECT_EQ(ui.boxes[0].icon, MsgIcon::Stop);
}

TEST_F(SerialPagesTest, BoxLines) {
  SerialBoxPage page(*doc);
  page.ShowNode(Open("SC0\\Enclosure7"));
  const auto& l = page.lines();
  EXPECT_EQ(l.temps[0], "Error");
  EXPECT_EQ(l.temps[1], "2) Temp: 104.0 F/ 40.0 C");
  EXPECT_EQ(l.temps[2], "3) Temp: 77.0 F/ 25.0 C");
  EXPECT_EQ(l.volt5, "Voltage 5V=5.02");
  EXPECT_EQ(l.volt12, "Voltage 12V=12.04");
  EXPECT_EQ(l.fans[0].text, "1) RPM: 50");
  EXPECT_FALSE(l.fans[0].alarm);
  EXPECT_EQ(l.fans[2].text, "3) Error");
  EXPECT_TRUE(l.fans[2].alarm);
  EXPECT_FALSE(l.fans[7].shown);
}

TEST_F(SerialPagesTest, CreateSendsTheChannelsReadAndLeavesNoPhantom) {
  SerialArrayPage page(*doc);
  CVirtualFolder* ctl = Node("\\HOST7\\SC0");
  CVirtualFolder* array = NewArray({1, 2, 3});
  ASSERT_NE(array, nullptr);
  page.ShowNode(array);
  EXPECT_TRUE(page.createMode());
  EXPECT_EQ(page.controls().name, "Array");
  EXPECT_TRUE(page.enables().apply);
  EXPECT_FALSE(page.enables().checks);
  page.RefreshPage();
  page.SetLevel("RAID5(PARITY-DISTRIBUTED)");
  page.RefreshPage();  // a refresh each second keeps the form as typed
  EXPECT_EQ(page.controls().level, "RAID5(PARITY-DISTRIBUTED)");
  ui.createOptions = CreateArrayOptions{true, false};
  page.Apply();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\SC0|CreateArray@Array@RAID5(PARITY-DISTRIBUTED)@3@1@2@3@64@1@0"});
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrRebootAfterInit});
  EXPECT_EQ(ctl->FindChild("Ary0"), nullptr);
  EXPECT_FALSE(ctl->keepChildren());
  EXPECT_FALSE(Disk(1)->inNewArray());
  // The slots are free again: another array takes its disks at once.
  CVirtualFolder* next = NewArray({4, 5});
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(pages::MemberDisks(next, kNodeSerialDisk).size(), 2u);
}

TEST_F(SerialPagesTest, CreateChecks) {
  struct Case {
    std::vector<int> disks;
    const char* level;
    int block;
    const char* sent;
    int box;
    int dialogs;
  } cases[] = {
      {{4, 5}, "RAID0(STRIPING)", 64, "CreateArray@Array@RAID0(STRIPING)@2@4@5@64", kStrRebootForSetting, 0},
      {{4, 5}, "RAID5(PARITY-DISTRIBUTED)", 32, nullptr, kStrBadBlockSize, 0},
      {{1, 2, 4}, "RAID1(MIRROR)", 64, nullptr, kStrRaid1Count, 0},
      {{0, 1, 2, 4, 5}, "RAID30", 64, nullptr, kStrRaid3050Count, 0},
      {{0, 1}, "RAID9", 64, nullptr, kStrUnknownLevel, 0},
  };
  SerialArrayPage page(*doc);
  for (const Case& c : cases) {
    CVirtualFolder* array = NewArray(c.disks);
    ASSERT_NE(array, nullptr);
    page.ShowNode(array);
    page.SetLevel(c.level);
    page.SetBlockSize(c.block);
    ui.boxes.clear();
    ui.optionDialogs = 0;
    const std::size_t mark = agent.invoked.size();
    page.Apply();
    EXPECT_EQ(Invoked(mark), c.sent ? std::vector<std::string>{std::string("\\SC0|") + c.sent} : std::vector<std::string>{})
        << c.level;
    EXPECT_EQ(BoxIds(), std::vector<int>{c.box}) << c.level;
    EXPECT_EQ(ui.optionDialogs, c.dialogs);
    if (!c.sent) CArrayAction(doc.get(), array).DeleteArray();
  }
  // A member whose Channel is not read is refused: disk 0 would put another disk into the array.
  CVirtualFolder* array = NewArray({4, 5});
  Disk(5)->RemoveChildNode(Disk(5)->FindChild("Channel"));
  page.ShowNode(array);
  page.SetLevel("RAID0(STRIPING)");
  ui.boxes.clear();
  const std::size_t mark = agent.invoked.size();
  page.Apply();
  EXPECT_EQ(Invoked(mark), std::vector<std::string>{});
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kMembersUnreadText});
}

TEST_F(SerialPagesTest, ChangeModeConvertsAndExpandsWithFreeDisksOnly) {
  SerialArrayPage page(*doc);
  CVirtualFolder* array = Open("SC0\\Array1");
  page.ShowNode(array);
  Pump();  // the disks are listed as the page asks for their states
  page.RefreshPage();
  EXPECT_FALSE(page.createMode());
  EXPECT_EQ(page.controls().name, "Array");
  EXPECT_EQ(page.controls().statusText, "Functional");
  // The disk list offers the free disks only (disk 6 is a member).
  std::vector<std::string> offered;
  for (const auto& c : page.candidates()) offered.push_back(c.text);
  EXPECT_EQ(offered, (std::vector<std::string>{"ch0\\Disk0", "ch1\\Disk1", "ch2\\Disk2", "ch3\\Disk3", "ch4\\Disk4",
                                               "ch5\\Disk5"}));

  page.SetLevel("RAID30");
  page.Apply();
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrNoConversion});

  page.SetLevel("RAID0(STRIPING)");
  page.ChooseDisk(4, true);
  page.ChooseDisk(5, true);
  ui.boxes.clear();
  ui.answers = {kIdCancel};
  page.Apply();
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrConfirmConversion});
  EXPECT_TRUE(Invoked().empty());
  page.Apply();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\SC0\\Array1|ArrayConversion@RAID0(STRIPING)@2@4@5"});

  page.Reset();
  page.ChooseDisk(4, true);
  ui.boxes.clear();
  page.Apply();
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrConfirmExpansion});
  EXPECT_EQ(Invoked(1), std::vector<std::string>{"\\SC0\\Array1|ArrayExpansion@1@4"});

  // A chosen disk that is no longer free is refused.
  page.ChooseDisk(4, true);
  Disk(4)->SetLocalIntProperty("Status", 512);
  ui.boxes.clear();
  page.Apply();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{pages::kDiskNotFreeText});
  EXPECT_EQ(Invoked().size(), 2u);

  // RAID50 cannot be expanded.
  page.ShowNode(Open("SC0\\Array2"));
  Pump();
  page.RefreshPage();
  ASSERT_FALSE(page.candidates().empty());
  page.ChooseDisk(0, true);
  ui.boxes.clear();
  page.Apply();
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrNoExpansion});
}

TEST_F(SerialPagesTest, DisksAreReadAgainWhenATaskStartsOrEnds) {
  // As with the component, a disk's state here changes only when its node is read again.
  FakeNode* fakeDisk = agent.root.Child("SC0")->Child("ch4")->Child("Disk4");
  fakeDisk->Child("Status")->type = "pr-";
  Disk(4)->Reload();
  SerialArrayPage page(*doc);
  CVirtualFolder* array = Open("SC0\\Array1");
  page.ShowNode(array);
  Pump();
  page.RefreshPage();
  const auto offered = [&] {
    std::vector<int> ids;
    for (const auto& c : page.candidates()) ids.push_back(c.disk->GetIntProperty("Channel", -1, true));
    return ids;
  };
  ASSERT_EQ(offered(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  FakeNode* fakeArray = agent.root.Child("SC0")->Child("Array1");
  struct Step {
    const char* arrayStatus;
    const char* diskStatus;
    std::vector<int> offered;
  } steps[] = {
      {"768", "512", {0, 1, 2, 3, 5}},  // an expansion onto disk 4 started
      {"768", "256", {0, 1, 2, 3, 5}},  // nothing started or ended: the disks are not read again
      {"0", "256", {0, 1, 2, 3, 4, 5}},  // it ended (here without keeping the disk)
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.arrayStatus);
    fakeArray->Child("Status")->value = step.arrayStatus;
    fakeDisk->Child("Status")->value = step.diskStatus;
    array->Reload();
    Pump();
    page.RefreshPage();
    Pump();
    page.RefreshPage();
    EXPECT_EQ(offered(), step.offered);
  }
}

TEST_F(SerialPagesTest, ChangeControlsWaitForARunningTask) {
  SerialArrayPage page(*doc);
  struct Case {
    const char* status;
    const char* text;
    bool apply;
  } cases[] = {{"256", "Synchronizing 20%", false}, {"512", "Rebuilding 20%", false}, {"768", "Expanding 20%", false},
               {"1024", "Converting 20%", false},   {"1280", "Initializing 20%", true}, {"0", "Functional", true}};
  FakeNode* a = agent.root.Child("SC0")->Child("Array1");
  a->Child("percent")->value = "20";
  for (const Case& c : cases) {
    a->Child("Status")->value = c.status;
    CVirtualFolder* array = Open("SC0\\Array1");
    array->Reload();
    Pump();
    page.ShowNode(array);
    EXPECT_EQ(page.controls().statusText, c.text);
    EXPECT_EQ(page.enables().apply, c.apply) << c.status;
  }
}

}  // namespace
}  // namespace kelm::console::testing
