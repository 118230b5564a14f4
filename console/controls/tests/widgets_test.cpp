// The controls as widgets: what the glyphs look like on screen, and how the children behave.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QMainWindow>
#include <QStyleOptionToolBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include "console/controls/animate_static.h"
#include "console/controls/flat_toolbar.h"
#include "console/controls/ip_address_edit.h"
#include "console/controls/list_ctrls.h"
#include "console/controls/size_dock.h"
#include "console/controls/spin_edit_cell.h"
#include "console/controls/time_edit.h"
#include "platform/testing/temp_root.h"
#include "platform/registry/profile.h"

namespace kelm::controls {
namespace {

const QString kStrip = QStringLiteral(":/kelm/controls/sample_toolbar.xpm");

// A docked bar with the sample strip; the first glyph's outline pixel at (2, 1) is black.
struct Bar {
  Bar() {
    bar.SetButtons({1, 2, 0, 3});
    EXPECT_TRUE(bar.LoadBitmap(kStrip));
    bar.setForegroundTest([] { return true; });
    bar.resize(bar.sizeHint());
    bar.show();
  }
  QPoint glyphPixel(int index, QPoint inGlyph) const {
    return bar.GetItemRect(index).topLeft() + bar.model().glyphOffset(bar.GetButtonStyle(index)) + inGlyph;
  }
  CFlatToolbar bar;
};

TEST(FlatToolbarWidget, DisabledGlyphIsEmbossedOnScreen) {
  Bar b;
  const SysColors c = b.bar.colors();
  const QImage normal = b.bar.grab().toImage();
  const QPoint outline = b.glyphPixel(0, QPoint(2, 1));
  EXPECT_EQ(normal.pixel(outline) | 0xFF000000u, c.text);
  b.bar.SetButtonStyle(0, kStyleDisabled);
  const QImage disabled = b.bar.grab().toImage();
  EXPECT_EQ(disabled.pixel(outline) | 0xFF000000u, c.shadow);
  EXPECT_EQ(disabled.pixel(outline + QPoint(1, 1)) | 0xFF000000u, c.highlight);
}

TEST(FlatToolbarWidget, CheckedGlyphShowsTheDither) {
  Bar b;
  const SysColors c = b.bar.colors();
  ASSERT_NE(c.face, c.highlight) << "the palette must tell the two apart";
  b.bar.SetButtonStyle(1, kStyleCheckBox | kStyleChecked);
  const QImage img = b.bar.grab().toImage();
  // The 'open' glyph's top rows are face: on a checked button they become the checkerboard.
  const QPoint p = b.glyphPixel(1, QPoint(8, 0));
  const QRgb a = img.pixel(p) | 0xFF000000u, n = img.pixel(p + QPoint(1, 0)) | 0xFF000000u;
  EXPECT_TRUE((a == c.face && n == c.highlight) || (a == c.highlight && n == c.face)) << std::hex << a << " " << n;
  EXPECT_EQ(img.pixel(b.bar.GetItemRect(1).topLeft()) | 0xFF000000u, c.frame) << "sunken";
}

TEST(FlatToolbarWidget, AClickSendsTheCommandOnce) {
  Bar b;
  QSignalSpy commands(&b.bar, &CFlatToolbar::command);
  QSignalSpy prompts(&b.bar, &CFlatToolbar::statusPrompt);
  QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.bar.GetItemRect(1).center());
  ASSERT_EQ(commands.count(), 1);
  EXPECT_EQ(commands.at(0).at(0).toInt(), 2);
  ASSERT_EQ(prompts.count(), 2);
  EXPECT_EQ(prompts.at(0).at(0).toInt(), 2);
  EXPECT_EQ(prompts.at(1).at(0).toInt(), kIdlePrompt);
  QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.bar.GetItemRect(2).center());
  EXPECT_EQ(commands.count(), 1) << "a separator does nothing";
  b.bar.setCmdUiUpdater([](CFlatToolCmdUI& ui) { ui.Enable(ui.id() != 2); });
  QTest::mouseClick(&b.bar, Qt::LeftButton, {}, b.bar.GetItemRect(1).center());
  EXPECT_EQ(commands.count(), 1) << "a disabled button is not tracked";
}

TEST(FlatToolbarWidget, GlyphsFollowAPaletteChange) {
  Bar b;
  QPalette pal = b.bar.palette();
  pal.setColor(QPalette::ButtonText, QColor(0x20, 0x40, 0x60));
  pal.setColor(QPalette::Button, QColor(0xE0, 0xD0, 0xC0));
  b.bar.setPalette(pal);
  const QImage img = b.bar.grab().toImage();
  EXPECT_EQ(img.pixel(b.glyphPixel(0, QPoint(2, 1))) | 0xFF000000u, 0xFF204060u) << "black became the text colour";
  EXPECT_EQ(img.pixel(b.glyphPixel(0, QPoint(0, 0))) | 0xFF000000u, 0xFFE0D0C0u) << "light grey became the face";
}

TEST(FlatToolbarWidget, MissingStripPaintsNoButtons) {
  CFlatToolbar bar;
  bar.SetButtons({1});
  EXPECT_FALSE(bar.LoadBitmap(QStringLiteral(":/no/such.xpm")));
  bar.resize(bar.sizeHint());
  const QImage img = bar.grab().toImage();
  EXPECT_EQ(img.pixel(bar.GetItemRect(0).center()) | 0xFF000000u, bar.colors().face);
}

TEST(FlatToolbarWidget, TheHostMovesTheBarByItsGripper) {
  QMainWindow frame;
  auto* host = new CFlatToolbarHost(QStringLiteral("Bar"), &frame);
  host->bar()->SetButtons({1, 2});
  host->bar()->LoadBitmap(kStrip);
  frame.addToolBar(Qt::TopToolBarArea, host);
  frame.setCentralWidget(new QWidget);
  frame.resize(400, 300);
  frame.show();
  QApplication::processEvents();
  EXPECT_FALSE(host->bar()->model().floating);
  QStyleOptionToolBar opt;
  opt.initFrom(host);
  const QRect handle = host->style()->subElementRect(QStyle::SE_ToolBarHandle, &opt, host);
  EXPECT_EQ(handle.width(), host->bar()->GetItemRect(0).left()) << "the handle is the gripper, up to the first button";
  // A press on the gripper goes past the bar to the tool bar, which starts moving it.
  const QPoint grip = host->bar()->mapTo(host, QPoint(5, 5));
  QTest::mousePress(host->bar(), Qt::LeftButton, {}, QPoint(5, 5));
  for (int i = 1; i <= 10; ++i) QTest::mouseMove(host, grip + QPoint(0, 15 * i));
  QTest::mouseRelease(host, Qt::LeftButton, {}, grip + QPoint(0, 150));
  QApplication::processEvents();
  EXPECT_TRUE(host->isFloating()) << "dragged out of its dock by the gripper";
  EXPECT_TRUE(host->bar()->model().floating) << "a floating bar has no gripper";
  frame.addToolBar(Qt::LeftToolBarArea, host);
  QApplication::processEvents();
  EXPECT_TRUE(host->bar()->model().vertical) << "docked left: items run top to bottom";
}

TEST(SpinEditCellWidget, StepsAndTheSuffix) {
  CSpinEditCell cell;
  cell.resize(80, 22);
  cell.Setup(4, 4, 64, 2, kSpinPower);
  EXPECT_TRUE(cell.edit()->isReadOnly());
  QSignalSpy changed(&cell, &CSpinEditCell::changed);
  for (int i = 0; i < 5; ++i) cell.stepBy(+1);
  EXPECT_EQ(cell.GetValue(), 4);
  EXPECT_EQ(changed.count(), 5);
  CSpinEditCell fixed;
  fixed.resize(80, 22);
  fixed.Setup(7, 0, 10, 0);
  EXPECT_TRUE(fixed.spin()->isHidden());
  fixed.stepBy(+1);
  EXPECT_EQ(fixed.GetText(), QStringLiteral("7")) << "step 0: the value cannot change";
  CSpinEditCellEx day;
  day.resize(90, 22);
  day.Setup(21, 1, 31, 1);
  EXPECT_EQ(day.suffix(), QStringLiteral("st"));
  day.stepBy(+1);
  EXPECT_EQ(day.suffix(), QStringLiteral("nd"));
  EXPECT_EQ(day.edit()->maxLength(), 2);
}

// In a layout the cell is as tall as a line edit: the arrows stay big enough to click.
TEST(SpinEditCellWidget, ALayoutGivesItALineEditsHeight) {
  QWidget form;
  auto* rows = new QVBoxLayout(&form);
  auto* cell = new CSpinEditCell(&form);
  cell->setFixedWidth(100);
  cell->Setup(10, 0, 60, 1);
  rows->addWidget(cell);
  rows->addStretch();
  form.resize(300, 400);
  form.show();
  QApplication::processEvents();
  QLineEdit reference;
  EXPECT_GE(cell->height(), reference.sizeHint().height());
  EXPECT_GE(cell->spin()->height(), reference.sizeHint().height());
}

TEST(TimeEditWidget, TwelveHourNoonAndFocusRules) {
  CTimeEdit t;
  t.resize(160, 22);
  t.Create(12, 5, 9, kTimeHour | kTimeMinute | kTimeSecond | kTime12Hour);
  EXPECT_EQ(t.hourEdit()->text(), QStringLiteral("12"));
  EXPECT_EQ(t.minuteEdit()->text(), QStringLiteral("05"));
  t.show();
  EXPECT_EQ(t.ampmList()->indexAt(QPoint(2, 2)).row(), 1) << "PM in view";
  int h = -1, m = -1, s = -1;
  t.GetTime(&h, &m, &s);
  EXPECT_EQ(h, 12) << "noon comes back as noon";
  EXPECT_EQ(m, 5);
  EXPECT_EQ(s, 9);
  t.SetTime(0, 0, 0);
  t.GetTime(&h, &m, &s);
  EXPECT_EQ(h, 0);
  // Leaving a field cuts it to its range.
  t.minuteEdit()->setText(QStringLiteral("75"));
  t.hourEdit()->setText(QStringLiteral("15"));
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(t.minuteEdit(), &out);
  QApplication::sendEvent(t.hourEdit(), &out);
  EXPECT_EQ(t.minuteEdit()->text(), QStringLiteral("00"));
  EXPECT_EQ(t.hourEdit()->text(), QStringLiteral("12"));
  // The spin steps the part that last had the focus, within its range.
  QFocusEvent in(QEvent::FocusIn);
  QApplication::sendEvent(t.hourEdit(), &in);
  t.stepBy(+1);
  EXPECT_EQ(t.hourEdit()->text(), QStringLiteral("1"));
  QApplication::sendEvent(t.ampmList(), &in);
  t.stepBy(+1);
  t.GetTime(&h, &m, &s);
  EXPECT_EQ(h, 13) << "1 PM";
}

TEST(AddressEditWidget, ClampFieldsAndCount) {
  CIPAddressEdit a;
  a.resize(135, 22);
  a.CreateFields();
  int w = 0, x = 0, y = 0, z = 0;
  EXPECT_EQ(a.GetAddress(&w, &x, &y, &z), 4);
  EXPECT_EQ(w, 127);
  QSignalSpy commands(&a, &CIPAddressEdit::command);
  a.field(1)->clear();
  QTest::keyClicks(a.field(1), QStringLiteral("300"));
  EXPECT_EQ(a.field(1)->text(), QStringLiteral("255"));
  EXPECT_EQ(commands.count(), 3);
  EXPECT_EQ(commands.at(0).at(0).toInt(), kAddressFieldCommand);
  a.field(2)->setText(QStringLiteral("999"));  // as a paste would
  EXPECT_EQ(a.field(2)->text(), QStringLiteral("255"));
  a.field(3)->clear();
  EXPECT_EQ(a.GetAddress(&w, &x, &y, &z), 3);
  EXPECT_EQ(z, 0);
  EXPECT_EQ(a.field(0)->width(), (135 - 15) / 4);
  EXPECT_EQ(a.field(1)->x(), (135 - 15) / 4 + 5);
}

TEST(NoticeListWidget, PopupKeysAndCopies) {
  CNoticeListCtrl grid;
  grid.resize(300, 200);
  grid.SetColumns(3, {QStringLiteral("Event"), QStringLiteral("Mail"), QStringLiteral("Log")});
  std::vector<int> values = {0, 1, 0};
  const int row = grid.FindOrAddItem(QStringLiteral("Disk failed"), values);
  values[1] = 0;  // the caller's array is its own; the row keeps its copy
  EXPECT_EQ(grid.topLevelItem(row)->text(1), QStringLiteral("Yes"));
  EXPECT_EQ(grid.FindOrAddItem(QStringLiteral("Disk failed"), {}), row);
  grid.setChooser([](QPoint) { return 1; });
  QSignalSpy changed(&grid, &CNoticeListCtrl::noticeChanged);
  grid.setCurrentItem(grid.topLevelItem(row));
  grid.topLevelItem(row)->setSelected(true);
  QTest::keyClick(&grid, Qt::Key_F3);
  ASSERT_EQ(changed.count(), 1);
  EXPECT_EQ(changed.at(0).at(1).value<std::vector<int>>(), (std::vector<int>{0, 1, 1}));
  EXPECT_EQ(grid.topLevelItem(row)->text(2), QStringLiteral("Yes"));
  QTest::keyClick(&grid, Qt::Key_F4);
  QTest::keyClick(&grid, Qt::Key_F11);
  EXPECT_EQ(changed.count(), 1) << "no column 3 or 10 in a grid of 3 columns";
  // A left click selects a row; a second one on the selected row opens the popup for its cell.
  const int other = grid.FindOrAddItem(QStringLiteral("Array critical"), {0, 0, 0});
  const QPoint cell = grid.visualRect(grid.model()->index(other, 1)).center();
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell);
  EXPECT_TRUE(grid.topLevelItem(other)->isSelected());
  EXPECT_EQ(changed.count(), 1);
  QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell);
  ASSERT_EQ(changed.count(), 2);
  EXPECT_EQ(changed.at(1).at(0).toInt(), other);
  EXPECT_EQ(grid.values(other), (std::vector<int>{0, 1, 0}));
  grid.SetOption(false);
  QTest::keyClick(&grid, Qt::Key_F2);
  EXPECT_EQ(changed.count(), 2) << "popup switched off";
}

TEST(AnimateStaticWidget, FramesTicksAndStop) {
  CAnimateStatic anim;
  const QImage strip(QStringLiteral(":/kelm/controls/spinner.xpm"));
  ASSERT_FALSE(strip.isNull());
  ASSERT_TRUE(anim.LoadFrames(strip, 0xFFFF00FF, 8, 100));
  EXPECT_EQ(anim.frameCount(), 8);
  EXPECT_EQ(anim.size(), QSize(32, 32));
  EXPECT_EQ(qAlpha(anim.frame(0).pixel(0, 0)), 0) << "the mask colour is transparent";
  EXPECT_TRUE(anim.isRunning());
  anim.tick();
  anim.tick();
  EXPECT_EQ(anim.currentFrame(), 2);
  anim.setStopped(true);
  anim.tick();
  EXPECT_EQ(anim.currentFrame(), 2);
  EXPECT_FALSE(anim.isRunning());
  EXPECT_FALSE(anim.LoadFrames(QImage(), 0, 8, 100));
  EXPECT_EQ(anim.frameCount(), 0);
}

TEST(SizeDockWidget, BarsKeepTheirSizesInTheProfile) {
  plat::testing::TempRoot root;
  const plat::reg::Profile profile("Velkari Technology Inc.", "Kelm");
  CSizeDockFrame frame;
  frame.setCentralWidget(new QWidget);
  frame.resize(1000, 800);
  auto* outline = new CSizeControlBar(QStringLiteral("Outline"), &frame);
  ASSERT_TRUE(outline->Create(&frame));
  outline->setWidget(new QWidget);
  frame.addSizeBar(Qt::LeftDockWidgetArea, outline);
  EXPECT_EQ(outline->model().side, DockSide::Left);
  outline->model().vertDockSize = QSize(222, 500);
  frame.SaveSizeBarState(profile, "Main");
  EXPECT_EQ(profile.getInt("Main-size_1", "VertDockSize_cx", 0), 222);
  outline->model().vertDockSize = QSize(10, 10);
  frame.LoadSizeBarState(profile, "Main");
  EXPECT_EQ(outline->model().vertDockSize.width(), 222);
  QSignalSpy told(outline, &CSizeControlBar::sizedOrDocked);
  outline->setFloating(true);
  QApplication::processEvents();
  ASSERT_GE(told.count(), 1);
  EXPECT_TRUE(told.last().at(2).toBool());
  EXPECT_EQ(outline->model().side, DockSide::Floating);
  const CFlatToolbarModel& caption = outline->caption()->model();
  const int sizeButton = caption.CommandToIndex(kCaptionSizeCommand);
  ASSERT_GE(sizeButton, 0);
  EXPECT_TRUE(caption.GetButtonStyle(sizeButton) & kStyleDisabled) << "no maximise while floating";
  const int before = told.count();
  outline->setFloating(false);
  QApplication::processEvents();
  EXPECT_GT(told.count(), before) << "told when docked again too";
  EXPECT_FALSE(told.last().at(2).toBool());
  EXPECT_EQ(frame.style()->pixelMetric(QStyle::PM_DockWidgetSeparatorExtent, nullptr, &frame), kSliderWidth);
}

TEST(SizeDockWidget, MaximiseInARowAndRestore) {
  CSizeDockFrame frame;
  frame.setCentralWidget(new QWidget);
  frame.resize(800, 600);
  CSizeControlBar* bars[2];
  for (auto*& bar : bars) {
    bar = new CSizeControlBar(QStringLiteral("Bar"), &frame);
    ASSERT_TRUE(bar->Create(&frame, QRect(0, 0, 200, 400)));
    bar->setWidget(new QWidget);
    frame.addSizeBar(Qt::LeftDockWidgetArea, bar);
  }
  frame.show();
  QApplication::processEvents();
  frame.fitRows();
  const int first = bars[0]->model().vertDockSize.height();
  const int second = bars[1]->model().vertDockSize.height();
  frame.toggleMaximise(bars[0]);
  EXPECT_EQ(bars[0]->model().maxState, kMaxSelf);
  EXPECT_EQ(bars[1]->model().maxState, kMaxOther);
  EXPECT_GT(bars[0]->model().vertDockSize.height(), first);
  EXPECT_EQ(bars[0]->model().vertDockSize.height() + bars[1]->model().vertDockSize.height(), first + second)
      << "the row keeps its length";
  EXPECT_EQ(bars[0]->caption()->model().button(0).image, 1) << "the size button shows restore";
  frame.toggleMaximise(bars[0]);
  EXPECT_EQ(bars[0]->model().maxState, kMaxNone);
  EXPECT_EQ(bars[0]->model().vertDockSize.height(), first);
  EXPECT_EQ(bars[1]->model().vertDockSize.height(), second);
}

}  // namespace
}  // namespace kelm::controls
