#pragma once
// What the main frame decides without a window: the saved placement, the list pane's height,
// the pane cycle, the About text and the autostart entry that mirrors the run-on-startup value.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::console {

// Show commands as the placement stores them.
enum ShowCommand : unsigned { kShowNormal = 1, kShowMinimised = 2, kShowMaximised = 3 };
inline constexpr unsigned kPlacementRestoreMaximised = 2;

struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const ScreenRect&) const = default;
};

// "WindowPos": flags, show command, minimised x and y, maximised x and y, normal rectangle.
struct WindowPlacement {
  unsigned flags = 0;
  unsigned showCommand = kShowNormal;
  int minX = -1, minY = -1, maxX = -1, maxY = -1;
  ScreenRect normal;
  bool maximised() const { return showCommand == kShowMaximised; }
};

std::string FormatWindowPos(const WindowPlacement& p);
// Ten decimal values or nothing; an empty or inverted rectangle is malformed. A minimised state
// comes back normal, or maximised when the flags say it was maximised before.
std::optional<WindowPlacement> ParseWindowPos(std::string_view text);
// The rectangle moved onto a screen when less than 64 x 64 of it shows on any; the first screen
// is the primary one.
ScreenRect FitOnScreens(ScreenRect r, const std::vector<ScreenRect>& screens);
inline constexpr int kMinVisible = 64;

// The list pane's height: "ContentSize" 0 (or absent) is 20 % of the client; a saved height is
// clamped so that the property pane keeps room.
inline constexpr int kMinPropertyPane = 60;
int ContentHeight(int saved, int clientHeight);
inline constexpr int kMaxContentSize = 100000;

// Next pane (32844): outline, list, property, outline; unusable panes (hidden, or an empty
// placement) are skipped; from anywhere else the cycle starts at the outline.
enum class Pane { Outline = 0, List = 1, Property = 2, Other = 3 };
std::optional<Pane> NextPane(Pane focus, const std::array<bool, 3>& usable);

// The About dialog's text: the title, a blank and the file version, or "UNKNOWN VERSION".
std::string AboutText(const std::optional<std::string>& version);

// The XDG desktop-entry form of one Exec argument: quoted, with '"', '`', '$' and '\' escaped
// inside the quotes, then every '\' doubled again and '%' written "%%" as the format's string
// escaping and field codes require.
std::string DesktopExecArgument(std::string_view path);
// The machine-wide autostart entry for the console program.
std::string AutostartEntry(std::string_view programPath);
// Where it lives under the root prefix.
std::string AutostartPath();
// Writes or deletes the entry so that it follows the run-on-startup value; false on failure.
bool MirrorAutostart(bool on, std::string_view programPath);

// Once at a time: a poll that finds one running returns at once.
class ReentryGuard {
 public:
  class Scope {
   public:
    explicit Scope(ReentryGuard& g) : g_(g), entered_(!g.busy_) { if (entered_) g_.busy_ = true; }
    ~Scope() { if (entered_) g_.busy_ = false; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    explicit operator bool() const { return entered_; }

   private:
    ReentryGuard& g_;
    bool entered_;
  };
  bool busy() const { return busy_; }

 private:
  bool busy_ = false;
};

}  // namespace kelm::console
