#include "console/ui/console_app.h"

#include <QApplication>
#include <QSessionManager>
#include <QThread>
#include <cerrno>
#include <cstdio>

#include "platform/kernel/module_path.h"
#include "platform/loop/qt/qt_loop.h"
#include "console/ui/page_hosts.h"

namespace kelm::console::ui {

ConsoleApp::ConsoleApp(DocumentOptions options, const plat::Clock& clock)
    : options_(std::move(options)), clock_(clock), loop_(plat::makeQtLoop(clock)) {
  if (options_.programPath.empty()) {
    if (auto p = plat::kernel::modulePath()) options_.programPath = p->string();
  }
}

ConsoleApp::~ConsoleApp() {
  EndSession();
  if (doc_) {
    // The frame's end: the local agent's stop, waiting only for an agent that waits on it.
    doc_->StopLocalAgent([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); });
  }
  frame_.reset();
  doc_.reset();
}

ConsoleApp::Start ConsoleApp::InitInstance(bool show) {
  if (IsWindows9x()) {
    // Only there does the console start the agent itself.
  }
  auto guard = plat::kernel::NamedMutex::create("Ombrisk-Mutex");
  if (!guard) {
    if (guard.code() == EEXIST) {
      std::fprintf(stderr, "kelm: another console is running on this machine\n");
      return Start::AlreadyRunning;
    }
    std::fprintf(stderr, "kelm: starting without the single-console guard: %s\n", guard.message().c_str());
  } else {
    guard_.emplace(std::move(*guard));
  }
  // The property pane takes its pages from the registry when it is made.
  RegisterPageForms();
  doc_ = std::make_unique<CDremmoralDoc>(ui_, *loop_, clock_, options_);
  frame_ = std::make_unique<CMainFrame>(*doc_, ui_);
  frame_->OnCreate();
  if (show) frame_->RestoreWindowPos();
  if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QObject::connect(app, &QGuiApplication::commitDataRequest, &connections_,
                     [this](QSessionManager&) { EndSession(); });
    QObject::connect(app, &QCoreApplication::aboutToQuit, &connections_, [this] { EndSession(); });
  }
  return Start::Started;
}

void ConsoleApp::EndSession() {
  if (ended_ || !doc_) return;
  ended_ = true;
  if (frame_) frame_->SaveState();
  doc_->Close();
}

int KelmMain(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kelm"));
  ConsoleApp console;
  if (console.InitInstance() == ConsoleApp::Start::AlreadyRunning) return 0;
  return QApplication::exec();
}

}  // namespace kelm::console::ui
