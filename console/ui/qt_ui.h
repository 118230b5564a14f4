#pragma once
// UiServices on Qt: message boxes, beep, wait cursor, the status bar's texts, the font and colour
// pickers and the Login dialog; pane requests go to the frame.
#include <QColor>
#include <QDialog>
#include <QFont>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "console/core/ui_services.h"
#include "console/ui/rebooter.h"

class QLineEdit;
class QCheckBox;
class QFontDialog;
class QPushButton;

namespace kelm::controls {
class CAnimateStatic;
}

namespace kelm::console::ui {

class CMainFrame;

// Colours are COLORREF (0x00BBGGRR) in the core.
QColor FromColorRef(ColorRef c);
ColorRef ToColorRef(const QColor& c);

// The 60-byte font description (height, width, escapement, orientation and weight as 32-bit
// little-endian fields, eight byte fields, a 32-byte face name) to and from a QFont. Bounded: the
// face ends at the first NUL within its 32 bytes, the weight is clamped, either sign of height
// is taken as a size.
inline constexpr std::size_t kFontDescriptionSize = 60;
std::optional<QFont> FontFromDescription(const std::vector<std::uint8_t>& d);
std::vector<std::uint8_t> DescriptionFromFont(const QFont& f);

// Dialog 149.
class CLoginDlg : public QDialog {
  Q_OBJECT

 public:
  CLoginDlg(const QString& userName, const QString& agentName, QWidget* parent = nullptr);
  LoginInput input() const;
  QLineEdit* userEdit() const { return user_; }
  QLineEdit* passwordEdit() const { return password_; }
  QCheckBox* saveBox() const { return save_; }
  controls::CAnimateStatic* animation() const { return animation_; }

 private:
  QLineEdit* user_;
  QLineEdit* password_;
  QCheckBox* save_;
  controls::CAnimateStatic* animation_;
};

// The font picker of command 32821: Qt's font widget and a text colour button.
class CFontPickDlg : public QDialog {
  Q_OBJECT

 public:
  CFontPickDlg(const QFont& font, const QColor& colour, QWidget* parent = nullptr);
  QFont font() const;
  QColor colour() const { return colour_; }

 private:
  void showColour();
  QFontDialog* fonts_;
  QPushButton* colourButton_;
  QColor colour_;
};

class QtUiServices : public UiServices {
 public:
  void setFrame(CMainFrame* frame) { frame_ = frame; }
  // Tests replace the dialogs that would wait for a person.
  std::function<std::optional<LoginInput>(const std::string&, const std::string&)> loginOverride;
  std::function<int(const MessageBoxRequest&)> messageOverride;
  // The machine's own unless a test gives its recorder.
  void setRebooter(std::unique_ptr<Rebooter> rebooter) { rebooter_ = std::move(rebooter); }

  int MessageBox(const MessageBoxRequest& request) override;
  void Beep(std::uint32_t kind) override;
  void SetWaitCursor(bool on) override;
  void SetUserText(const std::string& text) override;
  void SetActivity(int value) override;
  std::optional<FontChoice> PickFont(const FontChoice& start) override;
  std::optional<ColorRef> PickColour(ColorRef start) override;
  std::optional<std::string> PickSaveFile(const std::string& defaultName, const std::string& defaultExt,
                                          const std::string& filter) override;
  SplitterMode ShowOnlyPane(SplitterPane pane) override;
  SplitterMode ShowAllPanes() override;
  std::optional<CreateArrayOptions> RunCreateArrayOptions() override;
  void CloseMainWindow() override;
  bool RebootMachine() override;
  std::optional<LoginInput> RunLoginDialog(const std::string& userName, const std::string& agentName) override;
  void FocusOutline() override;
  void SelectInOutline(CPea* node) override;
  void EditLabel(CPea* node) override;
  void OpenRebuildWizard(CPea* array, CPea* disk) override;
  void OpenEventViewer(CPea* node) override;

  int beeps() const { return beeps_; }

 private:
  QWidget* parentWidget() const;
  CMainFrame* frame_ = nullptr;
  std::unique_ptr<Rebooter> rebooter_ = std::make_unique<SystemRebooter>();
  int waitDepth_ = 0;
  int beeps_ = 0;
};

}  // namespace kelm::console::ui
