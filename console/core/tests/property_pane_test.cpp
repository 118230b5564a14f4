// The property pane: the page for each node type, the layout, and the page presenter base.
#include "console/core/panes/property_pane.h"
#include "console/core/tests/console_test_support.h"

namespace kelm::console::testing {
namespace {

// A page that records what the pane tells it and paints a frame of its size.
class ProbePage : public PagePresenter {
 public:
  explicit ProbePage(CDremmoralDoc& d) : PagePresenter(d) {}
  void RefreshPage() override { ++refreshes; }
  void OnUpdate(int hint, CPea* node) override { updates.emplace_back(hint, node); }
  void OnDisplaySettingsChanged() override { ++displayChanges; }
  void Paint(DrawList& out, int w, int h) override {
    out.FillRect({0, 0, w, h}, document().display().backgroundColor);
    out.MaskedBitmap(215, w - 320, h - 50, kColorWhite);
  }
  void OnShowNode() override { shown.push_back(GetNode()); }
  int refreshes = 0;
  int displayChanges = 0;
  std::vector<std::pair<int, CPea*>> updates;
  std::vector<CPea*> shown;
};

class PropertyPaneTest : public NodeFixture {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    pane = std::make_unique<PropertyPanePresenter>(*doc);
    for (PageId id : {PageId::MyConsole, PageId::Enclosure, PageId::Array, PageId::MaroveltArray, PageId::Channel,
                      PageId::User}) {
      pane->RegisterPage(id, [this](CDremmoralDoc& d) {
        auto p = std::make_unique<ProbePage>(d);
        ++made;
        return p;
      });
    }
    pane->onPageShown = [this](PageId id, PagePresenter*) { shownIds.push_back(id); };
  }
  void TearDown() override { pane.reset(); }
  ProbePage* Shown() { return dynamic_cast<ProbePage*>(pane->shownPage()); }

  std::unique_ptr<PropertyPanePresenter> pane;
  int made = 0;
  std::vector<PageId> shownIds;
};

TEST(PageTable, EveryNodeTypeHasItsPage) {
  const PageId expected[] = {
      PageId::MyConsole,     PageId::Server,         PageId::RaidMachine,        PageId::Array,
      PageId::Controller,    PageId::Channel,        PageId::Disk,               PageId::Enclosure,
      PageId::None,          PageId::None,           PageId::None,               PageId::None,
      PageId::Channel,       PageId::User,           PageId::RaidSystem,         PageId::None,
      PageId::None,          PageId::None,           PageId::MaroveltArray,      PageId::MaroveltController,
      PageId::Channel,       PageId::MaroveltDisk,   PageId::SorventicArray,     PageId::SorventicController,
      PageId::MaroveltDisk,  PageId::SorventicBox,   PageId::None,
  };
  for (int t = 0; t <= 26; ++t) EXPECT_EQ(PageIdForNodeType(t), expected[t]) << t;
  EXPECT_EQ(PageIdForNodeType(-1), PageId::None);
  EXPECT_EQ(PageIdForNodeType(126), PageId::None);
}

TEST_F(PropertyPaneTest, SensorsUnderAnEnclosureShowTheEnclosurePageForTheEnclosure) {
  CVirtualFolder* encl = Make("E", kNodeEnclosure, {});
  CVirtualFolder* temp = Make("T", kNodeTemperature, {}, encl);
  CVirtualFolder* group = Make("G", kNodeSensorGroup, {}, encl);
  CVirtualFolder* loose = Make("L", kNodeTemperature, {});
  EXPECT_EQ(ChoosePage(temp).page, PageId::Enclosure);
  EXPECT_EQ(ChoosePage(temp).node, encl);
  EXPECT_EQ(ChoosePage(group).node, encl);
  EXPECT_EQ(ChoosePage(loose).page, PageId::None);
  EXPECT_EQ(ChoosePage(loose).node, nullptr);

  doc->OnSelectionChanged(temp);
  EXPECT_EQ(pane->shownPageId(), PageId::Enclosure);
  EXPECT_EQ(pane->shownNode(), encl);
  ASSERT_NE(Shown(), nullptr);
  EXPECT_EQ(Shown()->GetNode(), encl);
}

TEST_F(PropertyPaneTest, PagesAreMadeOnceAndTheShownNodeIsCountedAndReleased) {
  CVirtualFolder* a = Make("A", kNodeIdeArray, {});
  CVirtualFolder* b = Make("B", kNodeIdeArray, {});
  const int before = a->RefCount();
  pane->SelectPropertyForm(a);
  ProbePage* page = Shown();
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(a->RefCount(), before + 2);  // the pane and the page
  pane->SelectPropertyForm(b);
  EXPECT_EQ(Shown(), page);  // the same page object
  EXPECT_EQ(made, 1);
  EXPECT_EQ(a->RefCount(), before);
  EXPECT_EQ(page->shown, (std::vector<CPea*>{a, b}));
  // Another page hides the first with ShowNode(null).
  pane->SelectPropertyForm(doc->root());
  EXPECT_EQ(page->GetNode(), nullptr);
  EXPECT_EQ(shownIds, (std::vector<PageId>{PageId::MaroveltArray, PageId::MyConsole}));
  // A type without a page, or without a registered one, shows none.
  pane->SelectPropertyForm(Make("S", kNodeServer, {}));
  EXPECT_EQ(pane->shownPage(), nullptr);
  EXPECT_EQ(pane->shownNode(), nullptr);
  EXPECT_EQ(shownIds.back(), PageId::None);
}

TEST_F(PropertyPaneTest, TheLayoutFollowsSubFoldersExceptForChannels) {
  CVirtualFolder* ctl = Make("C", kNodeIdeController, {});
  CVirtualFolder* arr = Make("A", kNodeIdeArray, {}, ctl);
  CVirtualFolder* chan = Make("Ch", kNodeIdeChannel, {});
  pane->SelectPropertyForm(arr);  // no sub-folders
  EXPECT_EQ(ui.splitter, SplitterMode::PropertyOnly);
  pane->SelectPropertyForm(ctl);
  EXPECT_EQ(ui.splitter, SplitterMode::BothPanes);
  // A channel keeps what its list pane asked for.
  ui.splitter = SplitterMode::ListOnly;
  pane->SelectPropertyForm(chan);
  EXPECT_EQ(ui.splitter, SplitterMode::ListOnly);
  EXPECT_EQ(pane->shownPageId(), PageId::Channel);
}

TEST_F(PropertyPaneTest, HintsRefreshAndPaintReachTheShownPage) {
  CVirtualFolder* a = Make("A", kNodeIdeArray, {{"Status", "0"}});
  CVirtualFolder* other = Make("B", kNodeIdeArray, {});
  pane->SelectPropertyForm(a);
  ProbePage* page = Shown();
  ASSERT_NE(page, nullptr);
  a->NotifyViews(kHintValuesChanged, a);
  other->NotifyViews(kHintValuesChanged, other);
  a->NotifyViews(kHintChildArrived, a->FindChild("Status"));
  EXPECT_EQ(page->updates, (std::vector<std::pair<int, CPea*>>{{kHintValuesChanged, a},
                                                               {kHintChildArrived, a->FindChild("Status")}}));
  // 258 of the shown node shows it again.
  a->NotifyViews(kHintChildrenChanged, a);
  EXPECT_EQ(page->shown.size(), 2u);
  doc->Poll();
  doc->Poll();
  EXPECT_EQ(page->refreshes, 2);
  ui.colour = 0x00123456;
  doc->OnCommand(kCmdBackground);
  EXPECT_EQ(page->displayChanges, 1);
  DrawList list;
  page->Paint(list, 800, 600);
  ASSERT_EQ(list.ops().size(), 2u);
  EXPECT_EQ(list.ops()[0].colour, 0x00123456u);
  EXPECT_EQ(list.ops()[0].rect, (DrawRect{0, 0, 800, 600}));
  EXPECT_EQ(list.ops()[1].bitmapId, 215);
  EXPECT_EQ(list.ops()[1].rect.left, 480);
  EXPECT_EQ(list.ops()[1].rect.top, 550);
  EXPECT_TRUE(list.ops()[1].masked);
}

TEST_F(PropertyPaneTest, APrunedShownNodeIsLetGoAtThePoll) {
  CVirtualFolder* a = Make("A", kNodeIdeArray, {});
  pane->SelectPropertyForm(a);
  ProbePage* page = Shown();
  ASSERT_NE(page, nullptr);
  EXPECT_TRUE(page->NodeInTree());
  Agent()->RemoveChildNode(a);  // still counted by the page
  EXPECT_FALSE(page->NodeInTree());
  doc->Poll();
  EXPECT_EQ(pane->shownPage(), nullptr);
  EXPECT_EQ(page->GetNode(), nullptr);
  EXPECT_EQ(page->refreshes, 0);
}

TEST(ColorRef, RedIsTheLowByte) {
  EXPECT_EQ(Rgb(0, 0, 255), 0x00FF0000u);
  EXPECT_EQ(RedOf(0x00FF0000u), 0);
  EXPECT_EQ(BlueOf(0x00FF0000u), 255);
  EXPECT_EQ(GreenOf(Rgb(1, 2, 3)), 2);
  EXPECT_EQ(kColorBlue, 0x00FF0000u);
}

}  // namespace
}  // namespace kelm::console::testing
