#pragma once
// A screen that shows nothing and answers every question with its safe refusal (OK boxes, cancelled
// dialogs, no reboot). Benchmarks and system tests derive from it and script only what they need.
#include "console/core/ui_services.h"

namespace kelm::console {

class NullUiServices : public UiServices {
 public:
  int MessageBox(const MessageBoxRequest& r) override { return r.buttons == MsgButtons::YesNo ? kIdNo : kIdOk; }
  void Beep(std::uint32_t) override {}
  void SetWaitCursor(bool) override {}
  void SetUserText(const std::string&) override {}
  void SetActivity(int) override {}
  std::optional<FontChoice> PickFont(const FontChoice&) override { return std::nullopt; }
  std::optional<ColorRef> PickColour(ColorRef) override { return std::nullopt; }
  std::optional<LoginInput> RunLoginDialog(const std::string&, const std::string&) override { return std::nullopt; }
  void FocusOutline() override {}
  void SelectInOutline(CPea*) override {}
  void EditLabel(CPea*) override {}
  void OpenRebuildWizard(CPea*, CPea*) override {}
  void OpenEventViewer(CPea*) override {}
  std::optional<std::string> PickSaveFile(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  SplitterMode ShowOnlyPane(SplitterPane) override { return SplitterMode::BothPanes; }
  SplitterMode ShowAllPanes() override { return SplitterMode::BothPanes; }
  std::optional<CreateArrayOptions> RunCreateArrayOptions() override { return std::nullopt; }
  void CloseMainWindow() override {}
  bool RebootMachine() override { return false; }
};

}  // namespace kelm::console
