#pragma once
// Everything the console's logic asks of the screen. The Qt layer implements it; tests script it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "console/core/colorref.h"

namespace kelm {
class CPea;
}

namespace kelm::console {

enum class MsgButtons { Ok, OkCancel, YesNo };
enum class MsgIcon { None, Stop, Exclamation, Information, Question };
enum MsgAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// A message box: by string id (text then holds the table's text), or a literal text (id 0).
struct MessageBoxRequest {
  int stringId = 0;
  std::string text;
  std::string caption;
  MsgButtons buttons = MsgButtons::Ok;
  MsgIcon icon = MsgIcon::None;
  bool systemModal = false;
};

// Sound kinds for Beep.
inline constexpr std::uint32_t kBeepHand = 0x10;           // MB_ICONHAND
inline constexpr std::uint32_t kBeepDefault = 0xFFFFFFFF;  // the plain beep

// What the Login dialog gives on OK.
struct LoginInput {
  std::string userName;
  std::string password;
  bool save = false;
};

// A font as the console stores it (an opaque 60-byte description) with its text colour.
struct FontChoice {
  std::vector<std::uint8_t> description;
  ColorRef colour = 0;
};

// The splitter's panes: the list pane on top, the property pane below.
enum class SplitterPane { List, Property };
// What the splitter shows: both panes, or one pane filling the area.
enum class SplitterMode { BothPanes, ListOnly, PropertyOnly };

// The create-array options dialog (caption "Option for Create Array"): both boxes start ticked.
struct CreateArrayOptions {
  bool initialize = true;  // "Enable Initialization"
  bool gbBoundary = true;  // the array size counted with 1 GB = 1000 MB
};

// Every call below may run a nested event loop on the screen (a message box or dialog does), during
// which records arrive and nodes can be pruned. A caller that uses a node after a call holds it
// counted (PeaRef) across the call and checks that it is still in the tree afterwards
// (CDremmoralDoc::IsInTree); nothing is sent for a node that left.
class UiServices {
 public:
  virtual ~UiServices() = default;
  // The answer (kIdOk, kIdCancel, kIdYes, kIdNo).
  virtual int MessageBox(const MessageBoxRequest& request) = 0;
  virtual void Beep(std::uint32_t kind) = 0;
  virtual void SetWaitCursor(bool on) = 0;
  // The status bar's user pane text and activity lamp (-1 idle).
  virtual void SetUserText(const std::string& text) = 0;
  virtual void SetActivity(int value) = 0;
  virtual std::optional<FontChoice> PickFont(const FontChoice& start) = 0;
  virtual std::optional<ColorRef> PickColour(ColorRef start) = 0;
  // The Login dialog, caption "Login to " + agentName, showing the user name of the stored token.
  virtual std::optional<LoginInput> RunLoginDialog(const std::string& userName, const std::string& agentName) = 0;
  // Pane actions that commands ask for.
  virtual void FocusOutline() = 0;
  virtual void SelectInOutline(CPea* node) = 0;
  virtual void EditLabel(CPea* node) = 0;
  virtual void OpenRebuildWizard(CPea* array, CPea* disk) = 0;
  virtual void OpenEventViewer(CPea* node) = 0;

  // The save-file picker: a default file name, a default extension ("log") and a filter in the
  // "Text (*.x)|*.x|All Files (*.*)|*.*||" form; overwriting asks first. The chosen path, or none.
  virtual std::optional<std::string> PickSaveFile(const std::string& defaultName, const std::string& defaultExt,
                                                  const std::string& filter) = 0;
  // The splitter: one pane fills the area, or both panes show again. Each answers the previous mode.
  virtual SplitterMode ShowOnlyPane(SplitterPane pane) = 0;
  virtual SplitterMode ShowAllPanes() = 0;
  // The create-array options dialog: the choices on Commit, none on Cancel.
  virtual std::optional<CreateArrayOptions> RunCreateArrayOptions() = 0;
  // Closes the main window as its close box would (posted: it runs once the current call returned).
  virtual void CloseMainWindow() = 0;
  // Restarts the machine; false when the system refused. Tests answer without rebooting anything.
  virtual bool RebootMachine() = 0;
};

}  // namespace kelm::console
