#pragma once
// The sizes of a resizable docking bar and of the rows of bars on one side of the frame, without
// a window: the three sizes and the maximised state, the dynamic layout, persistence in the
// profile, which changes are reported to the bar, row fitting and maximise within a row. The
// widgets hand the results to QMainWindow::resizeDocks().
#include <QRect>
#include <QSize>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace plat::reg {
class Profile;
}

namespace kelm::controls {

// The framework's layout mode bits for a dynamic layout.
enum LayoutMode : std::uint32_t {
  LM_STRETCH = 0x01,
  LM_HORZ = 0x02,
  LM_MRUWIDTH = 0x04,
  LM_HORZDOCK = 0x08,
  LM_VERTDOCK = 0x10,
  LM_LENGTHY = 0x20,
  LM_COMMIT = 0x40,
};

// What OnSizedOrDocked is told.
enum SizedFlags : int {
  kSizedChanged = 1,   // the size changed
  kSizedFloated = 2,   // the bar has just become floating
  kSizedHorzDock = 4,  // the bar is docked top or bottom
};

enum class DockSide { Floating, Top, Bottom, Left, Right };

inline bool isHorzDock(DockSide s) { return s == DockSide::Top || s == DockSide::Bottom; }

// Maximise state bits: 1 this bar is maximised in its row, 2 another bar of its row is.
enum MaxState : int { kMaxNone = 0, kMaxSelf = 1, kMaxOther = 2 };

class CSizeControlBarModel {
 public:
  QSize floatSize;
  QSize horzDockSize;
  QSize vertDockSize;
  int maxState = kMaxNone;
  QSize savedSize;
  std::uint32_t savedStyle = 0;
  DockSide side = DockSide::Left;
  bool dynamicSize = true;  // only such bars follow the dynamic layout
  bool stretch = true;
  int mruWidth = 32767;
  std::uint32_t style = 0;

  // The starting sizes: from the given rectangle, or (default) from the parent's client area.
  void Create(QSize parentClient, std::optional<QRect> rect = std::nullopt);

  bool floating() const { return side == DockSide::Floating; }
  // The size in use: floating, docked top or bottom, or docked left or right.
  QSize& sizeInUse();
  QSize fixedLayout() const;
  QSize CalcDynamicLayout(int length, std::uint32_t mode);

  // Section "<profile name>-size_<index>".
  static std::string sectionName(const std::string& profileName, int index);
  void LoadState(const plat::reg::Profile& profile, const std::string& profileName, int index);
  bool SaveState(const plat::reg::Profile& profile, const std::string& profileName, int index);

  // 0 clears the state; another state saves the size in use, restoring writes it back.
  void setMaxState(int state);
  void restore();

  // After a change of position: the flags for OnSizedOrDocked, or nothing when it is not to be
  // called. The bar is told whenever its floating flag changes, in both directions.
  std::optional<int> positionChanged(QSize client, bool isFloating);

  // Caption buttons (0 size, 1 close) in the bar's inside rectangle; 13 x 13 each.
  QRect captionButtonRect(int n, const QRect& inside) const;
  // Image 0-3 of the size button, by orientation and maximise state; 4 is the close image.
  int sizeButtonImage() const;
  // The length along the row that the caption area takes (the bar's minimum).
  int minimumLength() const;

  static constexpr QSize kCaptionButton{13, 13};
  static constexpr QSize kCaptionImage{7, 7};
  static constexpr int kCaptionButtons = 2;

 private:
  QSize lastClient_;
  bool lastFloating_ = false;
  bool seen_ = false;
};

// One bar of a row, as the row fitting sees it.
struct RowBar {
  int length = 0;
  int minimum = 0;
  bool sizeable = true;
  bool visible = true;
};

inline constexpr int kSliderWidth = 5;

// The bars' new lengths so that the row fills `available`: what is missing or left over is shared
// among the sizeable bars in proportion to what each can give, the last taking the remainder.
std::vector<int> fitRow(int available, const std::vector<RowBar>& bars, int sharedBorder = 0);

// Maximise one bar of a row: the others give up to their minimum, the bar grows by all of it.
// On a left or right dock the bars after it keep 8 pixels of what they could give.
struct RowMaximise {
  std::vector<int> lengths;
  std::vector<int> states;  // the maximise state of each bar
};
RowMaximise maximiseInRow(const std::vector<RowBar>& bars, int index, bool verticalDock);

}  // namespace kelm::controls
