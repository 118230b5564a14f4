#pragma once
// Everything the console's logic asks of the screen. The Qt layer implements it; tests script it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
  std::uint32_t colour = 0;
};

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
  virtual std::optional<std::uint32_t> PickColour(std::uint32_t start) = 0;
  // The Login dialog, caption "Login to " + agentName, showing the user name of the stored token.
  virtual std::optional<LoginInput> RunLoginDialog(const std::string& userName, const std::string& agentName) = 0;
  // Pane actions that commands ask for.
  virtual void FocusOutline() = 0;
  virtual void SelectInOutline(CPea* node) = 0;
  virtual void EditLabel(CPea* node) = 0;
  virtual void OpenRebuildWizard(CPea* array, CPea* disk) = 0;
  virtual void OpenEventViewer(CPea* node) = 0;
};

}  // namespace kelm::console
