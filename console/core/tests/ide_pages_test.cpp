// The IDE family's array, disk and controller pages against the scripted agent.
#include "console/core/pages/ide_pages.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::IdeArrayPage;
using pages::IdeControllerPage;
using pages::IdeDiskPage;

class IdePagesTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* c = agent.root.Folder("MV0", kNodeIdeController);
    const char* values[][2] = {{"IRQ", "11"},          {"HardWare", "MV-133"}, {"BMB", "0xD000"},
                               {"RBA", "0xC8000"},     {"DV", "1.20"},         {"GetSmart", "1"},
                               {"GetPCIBus", "25"},    {"GetCachePolicy", "0"}, {"GetDisableHotSpare", "0"},
                               {"GetMaintenanceRate", "4"}};
    for (auto& v : values) c->Add(v[0], "prv", v[1]);
    for (const char* m : {"SetSmart", "SetPCIBus", "SetCachePolicy", "SetDisableHotSpare", "SetMaintenanceRate"}) {
      c->Add(m, "m--", "64");
    }
    array = c->Folder("Array1", kNodeIdeArray);
    const char* a[][2] = {{"RAID_Mode", "STRIPING"}, {"Size", "19.1 GB"}, {"percent", "0"}, {"Status", "0"},
                          {"Block Size", "64 (kb)"}, {"Cyls", "2491"},    {"Heads", "255"}, {"Sectors", "63"}};
    for (auto& v : a) array->Add(v[0], "prv", v[1]);
    FakeNode* ch = c->Folder("Channel0", kNodeIdeChannel);
    for (int i = 0; i < 2; ++i) {
      FakeNode* d = ch->Folder("Disk" + std::to_string(i), kNodeIdeDisk);
      d->Add("model", "pr-", "QM-" + std::to_string(i));
      d->Add("Size", "pr-", "9.5 GB");
      d->Add("Status", "prv", i == 0 ? "2147483649" : "512");  // 0x80000001, then assigned
      d->Add("Rebuild", "prv", "0");
      d->Add("Timing_Mode", "pr-", "UDMA Mode 5");
      d->Add("smart", "pr-", "Functional");
    }
    Start();
  }
  FakeNode* array = nullptr;
};

TEST_F(IdePagesTest, ArrayStatusRule) {
  const struct {
    const char* status;
    const char* percent;
    const char* text;
  } cases[] = {{"256", "37", "Synchronizing 37%"}, {"512", "255", "Rebuilding 0%"}, {"768", "5", "Expanding 5%"},
               {"0", "0", "Functional"},           {"2147483649", "0", "Critical"}, {"2147483650", "0", "Offline"},
               {"1024", "0", ""}};
  IdeArrayPage page(*doc);
  for (const auto& c : cases) {
    array->Child("Status")->value = c.status;
    array->Child("percent")->value = c.percent;
    page.ShowNode(Open("MV0\\Array1"));
    EXPECT_EQ(page.texts().status, c.text) << c.status;
  }
}

TEST_F(IdePagesTest, ArrayPaintsItsColoursAndErasesTheStatusLine) {
  // The page's colour values are COLORREF: green is (0, 180, 0) and red is (255, 0, 0).
  EXPECT_EQ(pages::kColourGreen, 0x00B400u);
  EXPECT_EQ(pages::kColourRed, 0x0000FFu);
  IdeArrayPage page(*doc);
  page.ShowNode(Open("MV0\\Array1"));
  EXPECT_EQ(page.texts().mode, "STRIPING");
  EXPECT_EQ(page.texts().size, "19.1 GB");
  EXPECT_EQ(page.texts().cyls, "2491");
  const auto find = [](const DrawList& l, const std::string& text) -> const DrawOp* {
    for (const DrawOp& op : l.ops()) {
      if (op.kind == DrawOp::Kind::Text && op.text == text) return &op;
    }
    return nullptr;
  };
  DrawList out;
  page.Paint(out, 500, 300);
  const DrawOp* status = find(out, "Functional");
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->colour, Rgb(0, 180, 0));
  EXPECT_EQ(status->rect.left, 175);
  EXPECT_EQ(status->rect.top, 40);
  ASSERT_NE(find(out, "Block Size"), nullptr);
  EXPECT_EQ(find(out, "Block Size")->rect.top, 170);
  EXPECT_EQ(find(out, "Sectors")->rect.left, 220);
  EXPECT_EQ(find(out, "63")->rect.top, 140);

  // Only the percent moved: the status line alone is repainted, its rectangle erased first.
  array->Child("Status")->value = "256";
  array->Child("percent")->value = "40";
  page.ShowNode(Open("MV0\\Array1"));
  array->Child("percent")->value = "41";
  Open("MV0\\Array1");
  page.RefreshPage();
  Pump();
  page.RefreshPage();
  EXPECT_EQ(page.texts().status, "Synchronizing 41%");
  EXPECT_TRUE(page.statusLineOnly());
  DrawList line;
  page.PaintStatusLine(line);
  ASSERT_EQ(line.ops().size(), 2u);
  EXPECT_EQ(line.ops()[0].kind, DrawOp::Kind::FillRect);
  EXPECT_EQ(line.ops()[0].rect, IdeArrayPage::kStatusLine);
  EXPECT_EQ(line.ops()[1].colour, Rgb(255, 0, 0));

  // Mirrored arrays show no block size.
  array->Child("RAID_Mode")->value = "MIRRORING";
  page.ShowNode(Open("MV0\\Array1"));
  out.Clear();
  page.Paint(out, 500, 300);
  EXPECT_EQ(find(out, "Block Size"), nullptr);
}

TEST(IdeDiskState, Table) {
  const struct {
    unsigned status;
    int rebuild;
    const char* text;
    const char* usage;
    const char* note;
  } cases[] = {{256, 0, "Functional", "Free", ""},
               {512, 0, "Functional", "Assigned to an array", ""},
               {0x80000001u, 0, "Offline", "-----------", ""},
               {6, 0, "Unknown", "-----------", ""},
               {0x80000002u, 0, "Unknown", "-----------", ""},
               {0xFFFFFFFFu, 0, "Unknown", "-----------", ""},
               {512, 1, "Warning", "Assigned to an array", "(Rebuilding)"},
               {512, 2, "Warning", "Assigned to an array", "(Needs Rebuilding)"}};
  for (const auto& c : cases) {
    const auto s = pages::IdeDiskStateOf(static_cast<int>(c.status), c.rebuild);
    EXPECT_EQ(s.status, c.text) << c.status;
    EXPECT_EQ(s.usage, c.usage) << c.status;
    EXPECT_EQ(s.note, c.note) << c.status;
  }
}

TEST_F(IdePagesTest, DiskTextsResetOnShowNodeAndPaintInTheirColours) {
  IdeDiskPage page(*doc);
  Open("MV0\\Channel0");
  page.ShowNode(Open("MV0\\Channel0\\Disk0"));
  EXPECT_EQ(page.texts().status, "Offline");
  EXPECT_EQ(page.texts().smart, "Unknown");
  EXPECT_EQ(page.texts().model, "QM-0");
  EXPECT_EQ(page.texts().mode, "UDMA Mode 5");
  // A serial disk's state this page does not know shows as unknown, never the previous disk's.
  agent.root.Child("MV0")->Child("Channel0")->Child("Disk1")->Child("Status")->value = "2147483650";
  page.ShowNode(Open("MV0\\Channel0\\Disk1"));
  EXPECT_EQ(page.texts().status, "Unknown");
  EXPECT_EQ(page.texts().smart, "Functional");
  DrawList out;
  page.Paint(out, 400, 200);
  bool red = false;
  for (const DrawOp& op : out.ops()) red |= op.text == "Unknown" && op.colour == Rgb(255, 0, 0);
  EXPECT_TRUE(red);
}

class IdeControllerTest : public IdePagesTest {
 protected:
  void SetUp() override {
    IdePagesTest::SetUp();
    ctl = Open("MV0");
    page = std::make_unique<IdeControllerPage>(*doc);
    page->ShowNode(ctl);
  }
  CVirtualFolder* ctl = nullptr;
  std::unique_ptr<IdeControllerPage> page;
};

TEST_F(IdeControllerTest, ReadsTheSettingsAndEnablesByMethod) {
  const auto& c = page->controls();
  EXPECT_EQ(c.irq, "11");
  EXPECT_EQ(c.busMasterBase, "0xD000");
  EXPECT_EQ(c.romBase, "0xC8000");
  EXPECT_EQ(c.driverVersion, "1.20");
  EXPECT_EQ(c.hardware, "MV-133");
  EXPECT_TRUE(c.smart);
  EXPECT_EQ(c.pciBus, 25);
  EXPECT_EQ(c.maintenanceRate, 4);
  EXPECT_TRUE(page->enables().commit && page->enables().pciBus);
  agent.root.Child("MV0")->Remove("SetPCIBus");
  agent.root.Child("MV0")->Child("SetSmart")->value = "0";
  ctl->Reload();
  Pump();
  page->ShowNode(ctl);
  EXPECT_FALSE(page->enables().pciBus);
  EXPECT_FALSE(page->enables().smart);
  EXPECT_TRUE(page->enables().writeCache);
}

TEST_F(IdeControllerTest, ThePciSliderAloneSendsNoRebootQuestion) {
  page->SetPciBus(40);
  page->RefreshPage();
  Pump();
  EXPECT_EQ(page->controls().pciBus, 40);  // kept through the refresh
  page->Commit();
  EXPECT_EQ(Invoked(), std::vector<std::string>{"\\MV0|SetPCIBus@40"});
  EXPECT_TRUE(ui.boxes.empty());
  page->SetMaintenanceRate(31);
  page->SetDisableHotSpare(true);
  ui.answers = {kIdNo};
  page->Commit();
  EXPECT_EQ(Invoked(), (std::vector<std::string>{"\\MV0|SetPCIBus@40", "\\MV0|SetDisableHotSpare@1",
                                                 "\\MV0|SetMaintenanceRate@31"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{IdeControllerPage::kRebootQuestion});
  EXPECT_EQ(ui.boxes[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(ui.reboots, 0);
  EXPECT_EQ(ui.closeRequests, 0);
}

TEST_F(IdeControllerTest, RebootPromptPaths) {
  struct Case {
    const char* name;
    std::int32_t answer;  // the agent's final answer to SetSmart
    bool rebootSucceeds;
    bool late;  // the agent answers only after the wait ran out
    int reboots;
    int closes;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {"confirmed", kResultFunctional, true, false, 1, 1, {IdeControllerPage::kRebootQuestion}},
      {"reboot refused", kResultFunctional, false, false, 1, 1,
       {IdeControllerPage::kRebootQuestion, IdeControllerPage::kRebootFail}},
      {"setting refused", kResultError, true, false, 0, 0,
       {IdeControllerPage::kRebootQuestion, IdeControllerPage::kNotConfirmed}},
      {"no answer", kResultFunctional, true, true, 0, 0,
       {IdeControllerPage::kRebootQuestion, IdeControllerPage::kNotConfirmed}},
  };
  for (const Case& c : cases) {
    ui.boxes.clear();
    ui.reboots = ui.closeRequests = 0;
    ui.rebootSucceeds = c.rebootSucceeds;
    agent.answers["SetSmart"].result = c.answer;
    page->SetSmart(!page->controls().smart);
    ui.answers = {kIdYes};
    page->Commit();
    // Nothing reboots before the agent answered.
    EXPECT_EQ(ui.reboots, 0) << c.name;
    if (!c.late) Pump();
    clock.advanceMs(IdeControllerPage::kConfirmWait.count());
    loop->runOnce(0);
    Pump();
    EXPECT_EQ(ui.reboots, c.reboots) << c.name;
    EXPECT_EQ(ui.closeRequests, c.closes) << c.name;
    EXPECT_EQ(BoxTexts(), c.texts) << c.name;
    EXPECT_FALSE(page->awaitingConfirmation()) << c.name;
    page->ShowNode(Open("MV0"));  // a fresh start for the next case
  }
}

TEST_F(IdeControllerTest, ACommitThatCannotBeSentAsksNothing) {
  ctl->setOpen(false);
  page->SetSmart(false);
  page->Commit();
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Connection Error"});
  EXPECT_EQ(ui.reboots, 0);
}

}  // namespace
}  // namespace kelm::console::testing
