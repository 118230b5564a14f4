#pragma once
// The flat tool bar without a window: button records, their rectangles and hit test, the
// press/hot state machine and the command-UI rules. The widget paints and routes events; every
// decision is made here, so it is tested without a screen.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <functional>
#include <vector>

namespace kelm::controls {

// Style and state bits of a button record.
enum ButtonStyle : std::uint32_t {
  kStyleSeparator = 0x0001,
  kStyleCheckBox = 0x0002,  // toggles on click
  kStyleChecked = 0x10000,
  kStylePressed = 0x20000,
  kStyleDisabled = 0x40000,
  kStyleIndeterminate = 0x100000,
  kStyleHot = 0x800000,  // under the mouse; drawn raised
};

// The idle prompt sent to the status bar when a press ends.
inline constexpr int kIdlePrompt = 0xE001;
// Buttons sit this far past the gripper of a docked bar.
inline constexpr int kGripperOffset = 3;

struct ToolButton {
  int id = 0;
  std::uint32_t style = 0;
  int image = 0;  // for a separator: its width in pixels
  bool operator==(const ToolButton&) const = default;
};

struct ToolbarMetrics {
  QSize button{23, 22};
  QSize image{16, 15};
  int topBorder = 3;
  int bottomBorder = 3;
  int gap = 8;
  int sharedBorder = 0;  // neighbouring buttons overlap by this much
  bool newLook = true;

  // The older look: wider buttons, a narrower gap and one shared border pixel.
  static ToolbarMetrics classic() { return ToolbarMetrics{{24, 22}, {16, 15}, 3, 3, 6, 1, false}; }
};

class CFlatToolbarModel;

// The command-UI object of one button during an update.
class CFlatToolCmdUI {
 public:
  CFlatToolCmdUI(CFlatToolbarModel& bar, int index);
  int id() const { return id_; }
  int index() const { return index_; }
  void Enable(bool on = true);
  // 0 unchecked, 1 checked, 2 indeterminate; the button becomes a check box.
  void SetCheck(int check = 1);
  void SetRadio(bool on = true) { SetCheck(on ? 1 : 0); }
  void SetText(const char*) {}

 private:
  CFlatToolbarModel& bar_;
  int index_;
  int id_;
};

// The owner's handler for command-UI updates; it may leave a button as it is.
using CmdUiUpdater = std::function<void(CFlatToolCmdUI&)>;

class CFlatToolbarModel {
 public:
  ToolbarMetrics metrics;
  bool vertical = false;  // docked left or right: items run top to bottom
  bool floating = false;  // no gripper
  QRect client;           // the bar's client rectangle

  // One record per id: non-zero a button with the next image, 0 a separator.
  void SetButtons(const std::vector<int>& ids);
  // A tool bar resource: version, glyph width, glyph height, item count, then the ids.
  bool LoadToolBar(const std::vector<std::uint16_t>& resource);
  void SetSizes(QSize button, QSize image);

  int count() const { return static_cast<int>(buttons_.size()); }
  const ToolButton& button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
  std::uint32_t GetButtonStyle(int index) const { return button(index).style; }
  // True when the button must be redrawn.
  bool SetButtonStyle(int index, std::uint32_t style);
  void SetButtonInfo(int index, int id, std::uint32_t style, int image);
  int CommandToIndex(int id) const;

  // The client rectangle less the borders (and the gripper room of a docked bar).
  QRect insideRect() const;
  // Length of an item along the bar.
  int extent(int index) const;
  QRect GetItemRect(int index) const;
  // The button under the point, or -1; never a separator.
  int HitTest(QPoint point) const;
  // Size of the bar that holds every item.
  QSize fixedSize() const;
  // Where the glyph sits inside a button of this style.
  QPoint glyphOffset(std::uint32_t style) const;

  // Runs the updater over every button that is not a separator.
  void updateCommandUi(const CmdUiUpdater& update);
  void updateButtonUi(int index, const CmdUiUpdater& update);

  int tracking = -1;  // the button being pressed
  int hot = -1;       // the button under the mouse

 private:
  friend class CFlatToolCmdUI;
  QMargins insideMargins() const;
  std::vector<ToolButton> buttons_;
};

// What the widget must do after an event, in order.
struct ToolbarEffect {
  enum Kind { Redraw, Capture, ReleaseCapture, StatusPrompt, Command, UpdateCommandUi, Default };
  Kind kind;
  int value = 0;  // the button index for Redraw, the id for StatusPrompt and Command
  bool operator==(const ToolbarEffect&) const = default;
};

struct ToolbarMouse {
  enum Kind { Down, Move, Up, Cancel };
  Kind kind;
  QPoint point;
  bool haveCapture = true;  // while tracking: the capture is still ours
  bool foreground = true;   // the application's main window is the active one
};

struct ToolbarTransition {
  CFlatToolbarModel state;
  std::vector<ToolbarEffect> effects;
};

// One mouse event: the bar's new state and what to do with it. The new state is to be taken
// before the effects run, so a command that changes the bar sees the bar as the click left it.
ToolbarTransition stepToolbar(CFlatToolbarModel bar, const ToolbarMouse& event, const CmdUiUpdater& update,
                              bool statusPrompt = true);

}  // namespace kelm::controls
