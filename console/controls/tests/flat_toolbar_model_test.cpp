// The flat tool bar's geometry, its mouse state machine and its glyph operations, without a window.
#include <gtest/gtest.h>

#include <QImage>

#include "console/controls/flat_toolbar_model.h"
#include "console/controls/toolbar_image.h"

namespace kelm::controls {
namespace {

CFlatToolbarModel bar(bool floating = false, bool vertical = false) {
  CFlatToolbarModel m;
  m.SetButtons({101, 102, 0, 103, 104});
  m.floating = floating;
  m.vertical = vertical;
  m.client = QRect(0, 0, 300, 28);
  return m;
}

TEST(FlatToolbarGeometry, SeparatorWidthAndGlyphOffsets) {
  CFlatToolbarModel m = bar();
  EXPECT_EQ(m.button(2).style, kStyleSeparator);
  EXPECT_EQ(m.button(2).image, 8) << "gap 8 and no shared border with the new look";
  EXPECT_EQ(m.button(3).image, 2) << "images count buttons only";
  EXPECT_EQ(m.glyphOffset(0), QPoint(3, 3));
  EXPECT_EQ(m.glyphOffset(kStylePressed), QPoint(4, 4));
  EXPECT_EQ(m.glyphOffset(kStyleChecked), QPoint(4, 4));
  CFlatToolbarModel classic;
  classic.metrics = ToolbarMetrics::classic();
  classic.SetButtons({1, 0, 2});
  EXPECT_EQ(classic.button(1).image, 6 + 2 * 1);
  EXPECT_EQ(classic.glyphOffset(0), QPoint(3, 3));
}

TEST(FlatToolbarGeometry, ItemsFollowTheGripperOnlyWhileDocked) {
  const CFlatToolbarModel docked = bar(false);
  const CFlatToolbarModel floating = bar(true);
  const int dockedLeft = docked.GetItemRect(0).left();
  EXPECT_EQ(docked.GetItemRect(0).left() - docked.insideRect().left(), kGripperOffset);
  EXPECT_EQ(floating.GetItemRect(0).left(), floating.insideRect().left());
  EXPECT_EQ(docked.GetItemRect(0).size(), QSize(23, 22));
  EXPECT_EQ(docked.GetItemRect(1).left(), dockedLeft + 23);
  EXPECT_EQ(docked.GetItemRect(2).width(), 8);
  EXPECT_EQ(docked.GetItemRect(3).left(), dockedLeft + 23 + 23 + 8);
  // The fixed size holds the gripper offset too, so the last button is never cut off.
  EXPECT_EQ(docked.fixedSize().width() - floating.fixedSize().width(),
            kGripperOffset + (docked.insideRect().left() - floating.insideRect().left()));
  CFlatToolbarModel sized = docked;
  sized.client = QRect(QPoint(0, 0), docked.fixedSize());
  EXPECT_TRUE(sized.insideRect().contains(sized.GetItemRect(4)));
}

TEST(FlatToolbarGeometry, HitTestMatchesTheItemRectanglesAndSkipsSeparators) {
  for (bool floating : {false, true}) {
    for (bool vertical : {false, true}) {
      CFlatToolbarModel m = bar(floating, vertical);
      m.client = vertical ? QRect(0, 0, 29, 300) : QRect(0, 0, 300, 28);
      for (int i = 0; i < m.count(); ++i) {
        const QRect r = m.GetItemRect(i);
        const int expected = (m.button(i).style & kStyleSeparator) ? -1 : i;
        EXPECT_EQ(m.HitTest(r.center()), expected) << floating << vertical << i;
        EXPECT_EQ(m.HitTest(r.topLeft()), expected);
      }
      const QRect first = m.GetItemRect(0);
      EXPECT_EQ(m.HitTest(vertical ? first.topLeft() - QPoint(0, 1) : first.topLeft() - QPoint(1, 0)), -1)
          << "the gripper is no button";
      EXPECT_EQ(m.HitTest(vertical ? first.topRight() + QPoint(1, 0) : first.bottomLeft() + QPoint(0, 1)), -1)
          << "beyond one button's thickness";
    }
  }
}

TEST(FlatToolbarGeometry, ToolBarResource) {
  CFlatToolbarModel m;
  ASSERT_TRUE(m.LoadToolBar({1, 16, 15, 3, 201, 0, 202}));
  EXPECT_EQ(m.metrics.button, QSize(23, 22));
  EXPECT_EQ(m.metrics.image, QSize(16, 15));
  EXPECT_EQ(m.count(), 3);
  EXPECT_FALSE(m.LoadToolBar({1, 16, 15, 9, 201})) << "fewer ids than the count";
  EXPECT_FALSE(m.LoadToolBar({1, 0, 15, 0}));
}

// A mouse sequence on a bar with a plain button (101), a check box (102) and a disabled one (103).
struct Sequence {
  const char* name;
  std::vector<ToolbarMouse> events;
  std::vector<int> commands;
  int index;                // the button to look at afterwards
  std::uint32_t styleBits;  // its checked/indeterminate/pressed bits afterwards
  std::uint32_t initial = 0;
};

TEST(FlatToolbarMouse, Sequences) {
  CFlatToolbarModel base = bar();
  const QPoint b0 = base.GetItemRect(0).center();
  const QPoint b1 = base.GetItemRect(1).center();
  const QPoint b3 = base.GetItemRect(3).center();
  const QPoint away(250, 40);
  using M = ToolbarMouse;
  const std::vector<Sequence> table = {
      {"click", {{M::Down, b0}, {M::Up, b0}}, {101}, 0, 0},
      {"press, leave, return, release", {{M::Down, b0}, {M::Move, away}, {M::Move, b0}, {M::Up, b0}}, {101}, 0, 0},
      {"press, leave, release", {{M::Down, b0}, {M::Move, away}, {M::Up, away}}, {}, 0, 0},
      {"press one, release on another", {{M::Down, b0}, {M::Up, b1}}, {}, 0, 0},
      {"disabled", {{M::Down, b3}, {M::Up, b3}}, {}, 3, 0},
      {"check box", {{M::Down, b1}, {M::Up, b1}}, {102}, 1, kStyleChecked},
      {"check box twice", {{M::Down, b1}, {M::Up, b1}, {M::Down, b1}, {M::Up, b1}}, {102, 102}, 1, 0},
      {"indeterminate", {{M::Down, b1}, {M::Up, b1}}, {102}, 1, kStyleChecked, kStyleIndeterminate},
      {"capture lost", {{M::Down, b0}, {M::Move, b0, false}, {M::Up, b0}}, {}, 0, 0},
      {"cancel mode", {{M::Down, b0}, {M::Cancel, {}}, {M::Up, b0}}, {}, 0, 0},
      {"separator", {{M::Down, base.GetItemRect(2).center()}, {M::Up, base.GetItemRect(2).center()}}, {}, 2, 0},
  };
  for (const Sequence& s : table) {
    CFlatToolbarModel m = base;
    int check = s.initial == kStyleIndeterminate ? 2 : -1;
    // The owner's command-UI: 102 is a check box that follows the bar, 103 is disabled.
    const CmdUiUpdater update = [&](CFlatToolCmdUI& ui) {
      if (ui.id() == 103) ui.Enable(false);
      if (ui.id() == 102 && check == 2) ui.SetCheck(2);
    };
    m.SetButtonStyle(1, kStyleCheckBox | s.initial);
    std::vector<int> commands;
    for (const ToolbarMouse& e : s.events) {
      ToolbarTransition t = stepToolbar(m, e, update);
      m = std::move(t.state);
      for (const ToolbarEffect& fx : t.effects) {
        if (fx.kind == ToolbarEffect::Command) {
          commands.push_back(fx.value);
          check = -1;  // the command settled the indeterminate state
        }
      }
    }
    EXPECT_EQ(commands, s.commands) << s.name;
    EXPECT_EQ(m.GetButtonStyle(s.index) & (kStyleChecked | kStyleIndeterminate | kStylePressed), s.styleBits)
        << s.name;
    EXPECT_EQ(m.tracking, -1) << s.name;
  }
}

TEST(FlatToolbarMouse, PressedFollowsThePointerUntilRelease) {
  CFlatToolbarModel m = bar();
  const QPoint b0 = m.GetItemRect(0).center();
  m = stepToolbar(m, {ToolbarMouse::Down, b0}, {}).state;
  EXPECT_TRUE(m.GetButtonStyle(0) & kStylePressed);
  m = stepToolbar(m, {ToolbarMouse::Move, QPoint(250, 5)}, {}).state;
  EXPECT_FALSE(m.GetButtonStyle(0) & kStylePressed) << "pops up when the pointer leaves";
  m = stepToolbar(m, {ToolbarMouse::Move, b0}, {}).state;
  EXPECT_TRUE(m.GetButtonStyle(0) & kStylePressed) << "and comes back when it returns";
}

TEST(FlatToolbarMouse, ReleaseStoresTheStyleAndEndsTrackingBeforeTheCommand) {
  CFlatToolbarModel m = bar();
  m.SetButtonStyle(1, kStyleCheckBox);
  const QPoint b1 = m.GetItemRect(1).center();
  m = stepToolbar(m, {ToolbarMouse::Down, b1}, {}).state;
  const ToolbarTransition t = stepToolbar(m, {ToolbarMouse::Up, b1}, {});
  EXPECT_EQ(t.state.tracking, -1);
  EXPECT_EQ(t.state.GetButtonStyle(1), kStyleCheckBox | kStyleChecked);
  const std::vector<ToolbarEffect> expected = {{ToolbarEffect::ReleaseCapture},
                                               {ToolbarEffect::StatusPrompt, kIdlePrompt},
                                               {ToolbarEffect::Command, 102},
                                               {ToolbarEffect::UpdateCommandUi},
                                               {ToolbarEffect::Redraw, 1}};
  EXPECT_EQ(t.effects, expected);
}

TEST(FlatToolbarMouse, HotButtonChangesOnlyInTheForeground) {
  CFlatToolbarModel m = bar();
  const QPoint b0 = m.GetItemRect(0).center();
  const QPoint b3 = m.GetItemRect(3).center();
  ToolbarMouse background{ToolbarMouse::Move, b0, true, false};
  m = stepToolbar(m, background, {}).state;
  EXPECT_EQ(m.hot, -1);
  m = stepToolbar(m, {ToolbarMouse::Move, b0}, {}).state;
  EXPECT_EQ(m.hot, 0);
  EXPECT_TRUE(m.GetButtonStyle(0) & kStyleHot);
  m.SetButtonStyle(3, kStyleDisabled);
  m = stepToolbar(m, {ToolbarMouse::Move, b3}, {}).state;
  EXPECT_FALSE(m.GetButtonStyle(0) & kStyleHot);
  EXPECT_FALSE(m.GetButtonStyle(3) & kStyleHot) << "a disabled button is never raised";
  const ToolbarTransition out = stepToolbar(m, {ToolbarMouse::Move, QPoint(290, 40)}, {});
  EXPECT_EQ(out.state.hot, -1);
  EXPECT_EQ(out.effects.front(), ToolbarEffect{ToolbarEffect::ReleaseCapture});
}

TEST(FlatToolbarMouse, CommandUiRules) {
  CFlatToolbarModel m = bar();
  m.updateCommandUi([](CFlatToolCmdUI& ui) {
    if (ui.id() == 101) ui.Enable(false);
    if (ui.id() == 103) ui.SetCheck(1);
    if (ui.id() == 104) ui.SetRadio(true);
  });
  EXPECT_EQ(m.GetButtonStyle(0), kStyleDisabled);
  EXPECT_EQ(m.GetButtonStyle(3), kStyleCheckBox | kStyleChecked);
  EXPECT_EQ(m.GetButtonStyle(4), kStyleCheckBox | kStyleChecked);
  EXPECT_EQ(m.GetButtonStyle(2), kStyleSeparator) << "separators get no update";
  m.updateCommandUi([](CFlatToolCmdUI& ui) {
    if (ui.id() == 103) ui.SetCheck(2);
  });
  EXPECT_EQ(m.GetButtonStyle(3), kStyleCheckBox | kStyleIndeterminate);
}

// ---- glyph operations ----

const SysColors kColors{0xFFD4D0C8, 0xFF404040, 0xFFF0F0F0, 0xFF102030, 0xFF000000};

TEST(ToolbarImage, RecolouringHonoursTheRealColourTable) {
  QImage two(4, 1, QImage::Format_Indexed8);
  two.setColorCount(2);
  two.setColor(0, 0xFFC0C0C0);
  two.setColor(1, 0xFF000000);
  two.fill(0);
  const QImage out = recolorGlyphs(two, kColors);
  EXPECT_EQ(out.colorCount(), 2);
  EXPECT_EQ(out.color(0), kColors.face);
  EXPECT_EQ(out.color(1), kColors.text);

  QImage rgb(4, 1, QImage::Format_RGB32);
  const QRgb in[4] = {0xFF000000, 0xFF808080, 0xFFC0C0C0, 0xFF123456};
  for (int x = 0; x < 4; ++x) rgb.setPixel(x, 0, in[x]);
  const QImage t = recolorGlyphs(rgb, kColors);
  EXPECT_EQ(t.pixel(0, 0), kColors.text);
  EXPECT_EQ(t.pixel(1, 0), kColors.shadow);
  EXPECT_EQ(t.pixel(2, 0), kColors.face);
  EXPECT_EQ(t.pixel(3, 0), 0xFF123456u) << "other colours stay";
}

// A 16 x 15 glyph on the face colour with one black dot at (5, 6) and a white one at (9, 6).
QImage dotGlyph() {
  QImage g(16, 15, QImage::Format_ARGB32);
  g.fill(kColors.face);
  g.setPixel(5, 6, kColors.text);
  g.setPixel(9, 6, kColors.highlight);
  return g;
}

TEST(ToolbarImage, DisabledGlyphIsEmbossedInHighlightAndShadow) {
  const ToolbarMetrics metrics;
  const QImage b = renderButton(dotGlyph(), metrics, 0, kStyleDisabled, kColors);
  const QPoint dot = QPoint(3, 3) + QPoint(5, 6);
  EXPECT_EQ(b.pixel(dot), kColors.shadow);
  EXPECT_EQ(b.pixel(dot + QPoint(1, 1)), kColors.highlight);
  EXPECT_EQ(b.pixel(QPoint(3, 3) + QPoint(9, 6)), kColors.face) << "highlight pixels vanish from the mask";
  EXPECT_EQ(b.pixel(1, 1), kColors.face);
}

TEST(ToolbarImage, CheckedGlyphSitsOnTheDither) {
  const ToolbarMetrics metrics;
  const QImage b = renderButton(dotGlyph(), metrics, 0, kStyleChecked, kColors);
  const QPoint dot = QPoint(4, 4) + QPoint(5, 6);
  EXPECT_EQ(b.pixel(dot), kColors.text) << "the glyph keeps its colour";
  // Around it, face and highlight alternate pixel by pixel.
  const QRgb a = b.pixel(dot + QPoint(2, 0));
  const QRgb c = b.pixel(dot + QPoint(3, 0));
  EXPECT_NE(a, c);
  EXPECT_TRUE((a == kColors.face && c == kColors.highlight) || (a == kColors.highlight && c == kColors.face));
  EXPECT_EQ(b.pixel(0, 0), kColors.frame) << "sunken edge";
  EXPECT_EQ(b.pixel(22, 21), kColors.highlight);
  const QImage ind = renderButton(dotGlyph(), metrics, 0, kStyleIndeterminate, kColors);
  EXPECT_EQ(ind.pixel(QPoint(3, 3) + QPoint(5, 6)), kColors.shadow) << "indeterminate: greyed glyph";
}

TEST(ToolbarImage, HotAndPressedEdges) {
  const ToolbarMetrics metrics;
  const QImage hot = renderButton(dotGlyph(), metrics, 0, kStyleHot, kColors);
  EXPECT_EQ(hot.pixel(0, 0), kColors.highlight);
  EXPECT_EQ(hot.pixel(22, 21), kColors.frame);
  const QImage pressed = renderButton(dotGlyph(), metrics, 0, kStylePressed | kStyleDisabled, kColors);
  EXPECT_EQ(pressed.pixel(QPoint(4, 4) + QPoint(5, 6)), kColors.text) << "a pressed button shows its glyph as is";
}

TEST(ToolbarImage, MaskAndPassThickensTheGlyph) {
  const QImage m = buildMask(dotGlyph(), 0, QSize(16, 15), QPoint(0, 0), QSize(21, 20), kColors, true, true);
  EXPECT_EQ(m.pixelIndex(5, 6), 0);
  EXPECT_EQ(m.pixelIndex(6, 7), 0);
  EXPECT_EQ(m.pixelIndex(7, 8), 1);
}

}  // namespace
}  // namespace kelm::controls
