// The intelligent-I/O controller page: its texts by model, the cache policy checks and text, and the
// controller settings' pass, against the scripted agent.
#include "console/core/pages/controller_page.h"
#include "console/core/strings.h"
#include "console/core/tests/page_test_support.h"

namespace kelm::console::testing {
namespace {

using pages::ControllerPage;

class ControllerPageTest : public PageTest {
 protected:
  void SetUp() override {
    PageTest::SetUp();
    FakeNode* s = agent.root.Folder("IOP2", kNodeIopController);
    s->Add("IsQx6", "pr-", "0");
    s->Add("CacheFlushFrequency", "pr-", "10");
    s->Add("DirtyThresholdStart", "pr-", "60");
    s->Add("DirtyThresholdStop", "pr-", "40");
    s->Add("CacheSize", "pr-", "67108864");
    s->Add("CacheBlockSize", "pr-", "8192");
    s->Add("RWCacheSize", "pr-", "33554432");
    s->Add("ProcessorMemory", "pr-", "16777216");
    s->Add("ProcessorType", "pr-", "3");
    s->Add("HWVersion", "pr-", "B1");
    s->Add("ModuleList", "pr-", Letters(ModuleBytes()));
    s->Add("SetCachePolicy", "m--", "60");
    FakeNode* q = agent.root.Folder("IOP1", kNodeIopController);
    q->Add("IsQx6", "pr-", "1");
    q->Add("GetSmart", "pr-", "1");
    q->Add("GetHDCache", "pr-", "0");
    q->Add("GetRebuildPriority", "pr-", "0");
    q->Add("GetAutoFlushFreq", "pr-", "5");
    for (const char* m : {"SetSmart", "SetHDCache", "SetRebuildPriority", "SetAutoFlushFreq", "SetBBU", "SetOptimal",
                          "SetBufferCount"}) {
      q->Add(m, "m--", "60");
    }
    Start();
    page = std::make_unique<ControllerPage>(*doc);
  }
  std::unique_ptr<ControllerPage> page;
};

TEST_F(ControllerPageTest, ShowsTheStandardModel) {
  page->ShowNode(Open("IOP2"));
  EXPECT_EQ(page->controlSet(), ControllerPage::ControlSet::Standard);
  const auto& c = page->controls();
  EXPECT_EQ(c.flush, 10);
  EXPECT_EQ(c.start, 60);
  EXPECT_EQ(c.stop, 40);
  EXPECT_EQ(c.cacheSize, "64.00");
  EXPECT_EQ(c.cacheBlockSize, "8.00");
  EXPECT_EQ(c.rwCacheSize, "32.00");
  EXPECT_EQ(c.memory, "16.00");
  EXPECT_EQ(c.processor, "ARM series");
  EXPECT_EQ(c.hardware, "B1");
  ASSERT_EQ(c.modules.size(), 1u);
  EXPECT_EQ(c.modules[0].name + "|" + c.modules[0].version + "|" + c.modules[0].date + "|" + c.modules[0].size,
            "FIRMWARE|0102|31/12/2001|524288");
  EXPECT_FALSE(page->enables().cacheCommit);
  EXPECT_TRUE(page->enables().cacheCells);
  EXPECT_FALSE(page->enables().settingsCommit);
}

TEST_F(ControllerPageTest, CachePolicyIsCheckedBeforeItIsSent) {
  page->ShowNode(Open("IOP2"));
  struct Case {
    int flush, start, stop;
    int box;
  } cases[] = {{10, 50, 45, kStrBadThresholds}, {10, 95, 10, kStrBadThresholds}, {30, 60, 40, kStrBadFlushTimer},
               {-1, 60, 40, kStrBadFlushTimer}};
  for (const Case& c : cases) {
    page->SetFlush(c.flush);
    page->SetStart(c.start);
    page->SetStop(c.stop);
    EXPECT_TRUE(page->enables().cacheCommit);
    ui.boxes.clear();
    ui.beeps.clear();
    page->CommitCachePolicy();
    EXPECT_EQ(BoxIds(), std::vector<int>{c.box}) << c.start << "/" << c.stop;
    EXPECT_EQ(ui.beeps, std::vector<std::uint32_t>{kBeepHand});
  }
  EXPECT_TRUE(Invoked().empty());
  page->SetFlush(10);
  page->SetStart(60);
  page->SetStop(40);
  ui.boxes.clear();
  page->CommitCachePolicy();
  EXPECT_EQ(Invoked(), std::vector<std::string>{
                           "\\IOP2|SetCachePolicy@CacheFlushFrequency@10@DirtyThresholdStart@60@DirtyThresholdStop@40"});
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrCacheReboot});
  EXPECT_FALSE(page->enables().cacheCommit);
  // The QX model shows no cache policy: nothing of it goes.
  page->ShowNode(Open("IOP1"));
  page->SetFlush(10);
  page->CommitCachePolicy();
  EXPECT_EQ(Invoked().size(), 1u);
}

TEST_F(ControllerPageTest, SettingsGoInOrderAndStopAtTheFirstFailure) {
  CVirtualFolder* ctl = Open("IOP1");
  page->ShowNode(ctl);
  EXPECT_EQ(page->controlSet(), ControllerPage::ControlSet::Qx);
  EXPECT_TRUE(page->controls().smart);
  EXPECT_EQ(page->controls().autoFlush, 5);
  auto e = page->enables();
  EXPECT_TRUE(e.smart && e.hdCache && e.rebuildPriority && e.autoFlush && e.settingsCommit);
  EXPECT_FALSE(e.bbu);
  // Nothing changed: nothing goes, not even the hidden optimisation and buffer count.
  page->CommitSettings();
  EXPECT_TRUE(Invoked().empty());
  EXPECT_TRUE(ui.boxes.empty());

  page->SetSmart(false);
  page->SetHdCache(true);
  page->SetRebuildPriority(true);
  page->SetAutoFlush(30);
  page->CommitSettings();
  EXPECT_EQ(Invoked(), (std::vector<std::string>{"\\IOP1|SetSmart@0", "\\IOP1|SetHDCache@1",
                                                 "\\IOP1|SetRebuildPriority@1", "\\IOP1|SetAutoFlushFreq@30"}));
  EXPECT_EQ(BoxIds(), std::vector<int>{kStrRebootForSetting});

  // Only the rebuild priority: no message.
  page->SetRebuildPriority(false);
  ui.boxes.clear();
  page->CommitSettings();
  EXPECT_EQ(Invoked(4), std::vector<std::string>{"\\IOP1|SetRebuildPriority@0"});
  EXPECT_TRUE(ui.boxes.empty());

  // A failure stops the pass there and is shown.
  ctl->setOpen(false);
  page->SetSmart(true);
  page->SetAutoFlush(10);
  page->CommitSettings();
  EXPECT_EQ(Invoked().size(), 5u);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Connection Error"});
}

TEST_F(ControllerPageTest, TypedCellsSurviveTheRefresh) {
  CVirtualFolder* ctl = Open("IOP2");
  page->ShowNode(ctl);
  page->SetStart(70);
  agent.root.Child("IOP2")->Child("HWVersion")->value = "B2";
  agent.root.Child("IOP2")->Child("DirtyThresholdStop")->value = "30";
  ctl->Reload();
  Pump();
  page->ShowNode(ctl);
  page->OnUpdate(kHintChildArrived, ctl->FindChild("HWVersion"));
  EXPECT_EQ(page->controls().start, 70);
  EXPECT_EQ(page->controls().stop, 40);  // the cache cells are one edit
  EXPECT_EQ(page->controls().hardware, "B2");
  page->ResetCachePolicy();
  EXPECT_EQ(page->controls().start, 60);
  EXPECT_EQ(page->controls().stop, 30);
}

}  // namespace
}  // namespace kelm::console::testing
