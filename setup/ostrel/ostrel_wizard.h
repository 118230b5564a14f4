#pragma once
// The setup wizard's windows: three pages over the window-free presenters, the copy progress
// window, and the message boxes. A scripted mode takes the administrator's answers from standard
// input and writes every question to standard output, so that the whole program can be driven
// by a test.
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QCheckBox>
#include <QWizard>
#include <QWizardPage>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "setup/core/finish_orchestrator.h"
#include "setup/core/setup_model.h"
#include "setup/core/setup_platform.h"

namespace kelm::setup {

// Questions and messages: message boxes, or lines on standard input and output when scripted.
class QtPrompts : public Prompts {
 public:
  explicit QtPrompts(QWidget* parent, bool scripted) : parent_(parent), scripted_(scripted) {}
  bool OkCancel(const std::string& text) override;
  void Message(const std::string& text) override;
  void setParent(QWidget* parent) { parent_ = parent; }

 private:
  QWidget* parent_;
  bool scripted_;
};

// Lets the event loop run for a while.
class QtPacer : public Pacer {
 public:
  void Pause(std::uint32_t ms) override;
};

class CCopyProgressDlg : public QDialog, public ProgressWindow {
 public:
  CCopyProgressDlg(QWidget* parent, bool scripted);
  void Show(const std::string& caption, const std::string& text) override;
  void SetPercent(int percent) override;
  void Hide() override;

 private:
  QProgressBar* bar_;
  QLabel* text_;
  bool scripted_;
};

class COstrelWizard;

class CSetupWizardStep1 : public QWizardPage {
 public:
  CSetupWizardStep1(COstrelWizard* wizard, int probe);
  int nextId() const override;
  Step1Presenter& presenter() { return presenter_; }
  QComboBox* typeList() { return types_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;

 private:
  Step1Presenter presenter_;
  QComboBox* types_;
};

class CSetupWizardStep2 : public QWizardPage {
 public:
  explicit CSetupWizardStep2(COstrelWizard* wizard);
  void initializePage() override;
  bool validatePage() override;
  int nextId() const override;
  Step2Presenter& presenter() { return presenter_; }
  void SetMode(ProgramMode m);
  void SetHardware(Hardware h);
  void SetMark(int index, bool on);
  void ClickSelectAll();

 private:
  void Show();
  COstrelWizard* wizard_;
  Step2Presenter presenter_;
  bool showing_ = false;
  bool initialised_ = false;
  QListWidget* list_;
  QCheckBox* selectAll_;
  std::array<QRadioButton*, kProgramModeCount> modes_{};
  QLabel* description_;
  QComboBox* hardware_;
};

class CSetupWizardStep3 : public QWizardPage {
 public:
  explicit CSetupWizardStep3(COstrelWizard* wizard);
  void initializePage() override;
  bool validatePage() override;
  const Summary& summary() const { return summary_; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  COstrelWizard* wizard_;
  Summary summary_;
  QLabel* hardware_;
  QLabel* mode_;
  QLabel* components_;
};

class COstrelWizard : public QWizard {
 public:
  enum PageId { kStep1 = 1, kStep2 = 2, kStep3 = 3 };
  COstrelWizard(std::unique_ptr<FinishOrchestrator> finish, Prompts& prompts, int probe);

  CSetupWizardStep1* step1() { return step1_; }
  CSetupWizardStep2* step2() { return step2_; }
  CSetupWizardStep3* step3() { return step3_; }
  Prompts& prompts() { return prompts_; }
  FinishOrchestrator& finish() { return *finish_; }
  // Whether the last Finish ended the wizard.
  bool finished() const { return finished_; }
  void setFinished() { finished_ = true; }
  // While the finish runs (its waits run the event loop), the wizard's buttons are off and it
  // cannot be closed: a second Finish or a Cancel would act in the middle of the first.
  void setBusy(bool busy);
  bool busy() const { return busy_; }
  void reject() override;

 private:
  void ShowAbout();
  std::unique_ptr<FinishOrchestrator> finish_;
  Prompts& prompts_;
  CSetupWizardStep1* step1_;
  CSetupWizardStep2* step2_;
  CSetupWizardStep3* step3_;
  bool finished_ = false;
  bool busy_ = false;
};

// Runs one scripted command against the wizard ("type TEXT", "mode TEXT", "hardware TEXT",
// "mark INDEX on|off", "selectall", "next", "back", "finish", "cancel"); an error text when the
// command is not understood.
std::string RunScriptCommand(COstrelWizard& wizard, const std::string& line);

}  // namespace kelm::setup
