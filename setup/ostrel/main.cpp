// ostrel: the setup wizard. It chooses what to install, stops the running agent and message
// server, copies a floppy set to the hard disk and starts the installer beside it.
//   ostrel [--script]   (--script: answers on standard input, questions on standard output)
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "platform/base/paths.h"
#include "setup/core/finish_orchestrator.h"
#include "setup/core/medium_files.h"
#include "setup/core/system_platform.h"
#include "setup/ostrel/ostrel_wizard.h"

int main(int argc, char** argv) {
  using namespace kelm::setup;
  bool scripted = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--script") == 0) {
      scripted = true;
    } else if (std::strcmp(argv[i], "-Embedding") == 0 || std::strcmp(argv[i], "-Automation") == 0) {
      return 0;  // nothing to serve: started for embedding or automation, it ends at once
    } else {
      std::fprintf(stderr, "usage: ostrel [--script]\n");
      return 2;
    }
  }
  // The source folder is where the program was started from, links kept: a floppy drive
  // reached through a link is still the floppy drive.
  std::error_code ec;
  const SourceLocation source = SourceOf(argv[0], std::filesystem::current_path(ec), plat::paths::removableMediaDir());

  QApplication app(argc, argv);
  RealNamedObjects objects;
  SystemdServices services;
  QtPrompts prompts(nullptr, scripted);
  QtPacer pacer;
  RealFiles files;
  SpawnLauncher launcher;
  CCopyProgressDlg progress(nullptr, scripted);
  SetupSystem system{&objects, &services, &prompts, &progress, &pacer, &files, &launcher};
  auto finish = std::make_unique<FinishOrchestrator>(system, source, plat::paths::windowsDir() / "temp" / "Velka03");
  COstrelWizard wizard(std::move(finish), prompts, ProbeInstalledDriver(driversDir()));
  // The progress window stays a window of its own (modal): the wizard does not own it.
  prompts.setParent(&wizard);

  if (scripted) {
    // One command per turn of the event loop, so that every page is shown as it would be.
    auto* next = new QTimer(&wizard);
    next->setSingleShot(true);
    QObject::connect(next, &QTimer::timeout, &wizard, [&wizard, next] {
      std::string line;
      if (!std::getline(std::cin, line)) {
        wizard.reject();
        return;
      }
      if (!line.empty()) {
        const std::string error = RunScriptCommand(wizard, line);
        if (!error.empty()) std::printf("error: %s\n", error.c_str());
        std::printf("page: %d\n", wizard.currentId());
        std::fflush(stdout);
      }
      if (wizard.isVisible()) next->start(0);
    });
    next->start(0);
  }
  QObject::connect(&wizard, &QDialog::finished, &app, &QApplication::quit);
  wizard.show();
  app.exec();
  return wizard.finished() ? 0 : 1;
}
