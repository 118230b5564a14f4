#pragma once
// The console program's start and end: the single-instance guard, the document on the Qt loop,
// the main frame and its placement; the session's end saves once and stops the local agent.
#include <QObject>
#include <memory>
#include <optional>

#include "console/core/document.h"
#include "console/ui/main_frame.h"
#include "console/ui/qt_ui.h"
#include "platform/kernel/named_objects.h"
#include "platform/loop/event_loop.h"

namespace kelm::console::ui {

// The agent's own start on the oldest desktop systems; never on this platform.
constexpr bool IsWindows9x() { return false; }

class ConsoleApp {
 public:
  // A QApplication must exist. The options reach the document (tests give a channel or a clock).
  explicit ConsoleApp(DocumentOptions options = {}, const plat::Clock& clock = plat::systemClock());
  ~ConsoleApp();
  ConsoleApp(const ConsoleApp&) = delete;
  ConsoleApp& operator=(const ConsoleApp&) = delete;

  enum class Start { Started, AlreadyRunning };
  // InitInstance: the guard, then the document and the frame, shown at its saved placement.
  Start InitInstance(bool show = true);
  // The session's end: bars, placement and profiles saved, once.
  void EndSession();

  CMainFrame* frame() const { return frame_.get(); }
  CDremmoralDoc* doc() const { return doc_.get(); }
  QtUiServices& ui() { return ui_; }
  plat::EventLoop& loop() { return *loop_; }

 private:
  DocumentOptions options_;
  const plat::Clock& clock_;
  QtUiServices ui_;
  std::unique_ptr<plat::EventLoop> loop_;
  std::optional<plat::kernel::NamedMutex> guard_;
  std::unique_ptr<CDremmoralDoc> doc_;
  std::unique_ptr<CMainFrame> frame_;
  QObject connections_;
  bool ended_ = false;
};

// The program's main.
int KelmMain(int argc, char** argv);

}  // namespace kelm::console::ui
