// The docking bars' sizes: starting sizes, dynamic layout, the profile, change reports, row
// fitting and maximise within a row.
#include <gtest/gtest.h>

#include "console/controls/size_bar_model.h"
#include "platform/testing/temp_root.h"
#include "platform/registry/profile.h"

namespace kelm::controls {
namespace {

TEST(SizeBarModel, StartingSizes) {
  struct Case {
    QSize client;
    std::optional<QRect> rect;
    QSize floatSize, horz, vert;
  };
  const Case cases[] = {
      {QSize(1, 1), QRect(0, 0, 900, 200), QSize(900, 200), QSize(900, 100), QSize(150, 600)},
      {QSize(1000, 800), std::nullopt, QSize(500, 600), QSize(500, 300), QSize(450, 333)},
      {QSize(900, 200), std::nullopt, QSize(450, 150), QSize(450, 75), QSize(112, 300)},
      {QSize(901, 203), std::nullopt, QSize(451, 153), QSize(451, 76), QSize(114, 300)},
  };
  for (const Case& c : cases) {
    CSizeControlBarModel m;
    m.Create(c.client, c.rect);
    EXPECT_EQ(m.floatSize, c.floatSize);
    EXPECT_EQ(m.horzDockSize, c.horz);
    EXPECT_EQ(m.vertDockSize, c.vert);
  }
}

TEST(SizeBarModel, DynamicLayout) {
  CSizeControlBarModel m;
  m.Create(QSize(1000, 800));
  m.side = DockSide::Left;
  EXPECT_EQ(m.CalcDynamicLayout(-1, LM_VERTDOCK), m.vertDockSize) << "asked for the docked size";
  EXPECT_EQ(m.CalcDynamicLayout(-1, LM_MRUWIDTH), m.floatSize);
  EXPECT_EQ(m.CalcDynamicLayout(120, LM_COMMIT | LM_VERTDOCK), QSize(120, 333));
  EXPECT_EQ(m.CalcDynamicLayout(400, LM_COMMIT | LM_VERTDOCK | LM_LENGTHY), QSize(120, 400));
  EXPECT_EQ(m.vertDockSize, QSize(120, 400));
  EXPECT_EQ(m.CalcDynamicLayout(50, LM_COMMIT), m.fixedLayout()) << "docked, neither side named";
  m.side = DockSide::Top;
  EXPECT_EQ(m.CalcDynamicLayout(700, LM_COMMIT | LM_HORZDOCK | LM_HORZ), QSize(700, 300));
  m.side = DockSide::Floating;
  EXPECT_EQ(m.CalcDynamicLayout(333, LM_COMMIT | LM_HORZ | LM_LENGTHY), QSize(500, 333));
  EXPECT_EQ(m.CalcDynamicLayout(77, LM_HORZ), QSize(77, 333)) << "stretched, not committed";
  EXPECT_EQ(m.floatSize, QSize(500, 333));
  m.dynamicSize = false;
  EXPECT_EQ(m.CalcDynamicLayout(10, LM_COMMIT | LM_HORZ), QSize(500, 333));
}

TEST(SizeBarModel, Persistence) {
  plat::testing::TempRoot root;
  const plat::reg::Profile profile("Velkari Technology Inc.", "Kelm");
  CSizeControlBarModel saved;
  saved.Create(QSize(1000, 800));
  saved.side = DockSide::Left;
  saved.setMaxState(kMaxSelf);
  saved.vertDockSize = QSize(450, 700);  // maximised: grown in its row
  ASSERT_TRUE(saved.SaveState(profile, "Main", 2));
  EXPECT_EQ(profile.getInt("Main-size_2", "VertDockSize_cy", 0), 333) << "the restored size is kept";
  EXPECT_EQ(profile.getInt("Main-size_2", "FloatSize_cx", 0), 500);
  EXPECT_EQ(saved.maxState, kMaxNone);

  ASSERT_TRUE(profile.writeInt("Main-size_2", "FloatSize_cx", 0));
  ASSERT_TRUE(profile.writeInt("Main-size_2", "FloatSize_cy", 0));
  ASSERT_TRUE(profile.writeInt("Main-size_2", "HorzDockSize_cx", 640));
  ASSERT_TRUE(profile.writeInt("Main-size_2", "HorzDockSize_cy", 0));
  CSizeControlBarModel loaded;
  loaded.Create(QSize(100, 100));
  loaded.LoadState(profile, "Main", 2);
  EXPECT_EQ(loaded.floatSize, QSize(50, 75)) << "a pair of zeros leaves the size from Create";
  EXPECT_EQ(loaded.horzDockSize, QSize(640, 0)) << "one non-zero value replaces the pair";
  EXPECT_EQ(loaded.vertDockSize, QSize(450, 333));
  CSizeControlBarModel fresh;
  fresh.Create(QSize(100, 100));
  fresh.LoadState(profile, "Main", 7);
  EXPECT_EQ(fresh.floatSize, QSize(50, 75)) << "no section: sizes from Create";
}

TEST(SizeBarModel, ChangeReports) {
  CSizeControlBarModel m;
  m.side = DockSide::Left;
  EXPECT_EQ(m.positionChanged(QSize(100, 200), false), kSizedChanged);
  EXPECT_EQ(m.positionChanged(QSize(100, 200), false), std::nullopt);
  m.side = DockSide::Floating;
  EXPECT_EQ(m.positionChanged(QSize(100, 200), true), kSizedFloated);
  m.side = DockSide::Left;
  EXPECT_EQ(m.positionChanged(QSize(100, 200), false), 0) << "told when docked again, same size or not";
  m.side = DockSide::Top;
  EXPECT_EQ(m.positionChanged(QSize(100, 200), false), kSizedHorzDock) << "top and bottom: every time";
  EXPECT_EQ(m.positionChanged(QSize(300, 200), false), kSizedHorzDock | kSizedChanged);
}

TEST(SizeBarModel, CaptionButtons) {
  CSizeControlBarModel m;
  const QRect inside(0, 0, 100, 100);
  m.side = DockSide::Left;
  EXPECT_EQ(m.captionButtonRect(1, inside), QRect(87, 0, 13, 13));
  EXPECT_EQ(m.captionButtonRect(0, inside), QRect(72, 0, 13, 13));
  EXPECT_EQ(m.sizeButtonImage(), 0);
  m.side = DockSide::Bottom;
  EXPECT_EQ(m.captionButtonRect(0, inside), QRect(0, 15, 13, 13));
  EXPECT_EQ(m.captionButtonRect(1, inside), QRect(0, 0, 13, 13));
  m.setMaxState(kMaxSelf);
  EXPECT_EQ(m.sizeButtonImage(), 3);
}

TEST(RowFitting, SharesTheDifferenceByWhatEachBarCanGive) {
  struct Case {
    int available;
    std::vector<RowBar> bars;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {300, {{200, 18}, {150, 18}}, {169, 126}},  // 355 needed with the slider, 55 too much
      {405, {{200, 18}, {150, 18}}, {228, 172}},
      {300, {{200, 18}, {80, 0, false}, {150, 18}}, {125, 80, 95}},  // no slider beside a fixed bar
      {100, {{18, 18}, {18, 18}}, {18, 77}},                          // nothing to share: the last takes it
      {0, {{200, 18}, {150, 18}}, {0, 0}},                            // never below 0
  };
  for (const Case& c : cases) EXPECT_EQ(fitRow(c.available, c.bars), c.expected) << c.available;
  const std::vector<int> fitted = fitRow(300, {{200, 18}, {150, 18}});
  EXPECT_EQ(fitted[0] + fitted[1] + kSliderWidth, 300);
}

TEST(RowFitting, MaximiseTakesFromTheOthersDownToTheirMinimum) {
  const std::vector<RowBar> bars = {{100, 18}, {200, 18}, {150, 18}};
  const RowMaximise h = maximiseInRow(bars, 1, false);
  EXPECT_EQ(h.lengths, (std::vector<int>{18, 414, 18}));
  EXPECT_EQ(h.states, (std::vector<int>{kMaxOther, kMaxSelf, kMaxOther}));
  const RowMaximise v = maximiseInRow(bars, 1, true);
  EXPECT_EQ(v.lengths, (std::vector<int>{18, 406, 26})) << "8 pixels after it are left on a side dock";
  const RowMaximise small = maximiseInRow({{100, 18}, {26, 18}}, 0, true);
  EXPECT_EQ(small.lengths, (std::vector<int>{108, 18})) << "all of it when 8 or less";
}

}  // namespace
}  // namespace kelm::controls
