#include "setup/core/finish_orchestrator.h"

#include <cerrno>
#include <thread>

#include "agent/core/agent_names.h"
#include "msgserver/pellwick_doc.h"

namespace kelm::setup {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDiskFile[] = {"Ostrel.exe", "isSetup.exe", "data2.cab"};
constexpr const char* kCopyCaption[] = {"Copying files for Disk1", "Copying files for Disk2",
                                        "Copying files for Disk3"};
constexpr const char* kCopyText = "Please wait while copying files to the hard disk...";

bool isDenied(int code) { return code == EACCES || code == EPERM; }

}  // namespace

SourceLocation SourceOf(const std::string& argv0, const fs::path& cwd, const fs::path& floppy) {
  SourceLocation s;
  fs::path program(argv0);
  fs::path dir = program.has_parent_path() ? program.parent_path() : fs::path(".");
  if (dir.is_relative()) dir = cwd / dir;
  dir = dir.lexically_normal();
  // Without a trailing separator, as the messages name it.
  while (dir.has_relative_path() && dir.filename().empty()) dir = dir.parent_path();
  s.dir = dir;
  const fs::path drive = floppy.lexically_normal();
  auto rel = dir.lexically_relative(drive);
  s.fromFloppy = !rel.empty() && *rel.begin() != "..";
  return s;
}

FinishOrchestrator::FinishOrchestrator(SetupSystem system, SourceLocation source, fs::path copyTarget)
    : sys_(system), source_(std::move(source)), target_(std::move(copyTarget)) {}

FinishOrchestrator::Outcome FinishOrchestrator::OnWizardFinish(const Marks& install) {
  // The console goes first: halting there leaves every service running.
  if (!WaitForConsole()) return Abandon();
  if (StopsAgent(install) &&
      !StopService(kelm::agent::kServiceName, kelm::agent::kDisplayName,
                   "Error Stopping Agent, No Admin Previlage?", "Error Stopping Agent"))
    return Abandon();
  if (StopsServer(install) &&
      !StopService(kelm::msgserver::kServiceName, kelm::msgserver::kDisplayName,
                   "Error Stopping Server, No Admin Previlage?", "Error Stopping Server"))
    return Abandon();
  if (!CopyFloppySet()) return Abandon();
  if (!CheckDisk(1)) return Abandon();

  auto installer = sys_.files->Find(source_.dir, "issetup.exe");
  if (!installer) {
    sys_.prompts->Message(kInstallerMissingText);
    return Outcome::kFinished;
  }
  auto started = sys_.launcher->Start(*installer, {PartArgument(install)}, source_.dir);
  if (!started) {
    if (started.code() == ENOENT)
      sys_.prompts->Message(kInstallerMissingText);
    else
      sys_.prompts->Message("Unable to start " + installer->string() + ": " + started.message());
  }
  return Outcome::kFinished;
}

FinishOrchestrator::Outcome FinishOrchestrator::Abandon() {
  if (!stopped_.empty()) {
    std::string names;
    for (const auto& n : stopped_) names += "\n" + n;
    sys_.prompts->Message("The installation was halted. These services were stopped and are not running now:" +
                          names);
  }
  return Outcome::kStay;
}

bool FinishOrchestrator::WaitForConsole() {
  for (;;) {
    // A mutex that cannot be looked at may well be held: ask rather than go on.
    auto held = sys_.objects->MutexHeld(kConsoleMutex);
    if (held && !*held) return true;
    if (!sys_.prompts->OkCancel(kConsoleRunningText)) return false;
  }
}

bool FinishOrchestrator::StopService(const std::string& service, const std::string& display,
                                     const char* deniedText, const char* what) {
  const std::string mutex = service + "-Mutex";
  const auto failed = [&](const plat::Error& e) {
    sys_.prompts->Message(isDenied(e.code) ? std::string(deniedText) : std::string(what) + ": " + e.message);
    return false;
  };
  auto held = sys_.objects->MutexHeld(mutex);
  if (!held) return failed(held.error());
  if (!*held) return true;  // not running: nothing to stop

  auto managed = sys_.services->Runs(service);
  if (!managed) return failed(managed.error());
  if (*managed) {
    if (auto stopped = sys_.services->Stop(service); !stopped) return failed(stopped.error());
  } else if (auto set = sys_.objects->SetEvent(service + "-ServiceStop"); !set) {
    if (set.code() == ENXIO)
      return failed({ENXIO, display + " runs neither under the service manager nor with its stop event"});
    return failed(set.error());
  }

  for (std::uint32_t waited = 0;; waited += kStopPollMs) {
    auto still = sys_.objects->MutexHeld(mutex);
    if (!still) return failed(still.error());
    if (!*still) break;
    if (waited >= kStopWaitMs) {
      sys_.prompts->Message(std::string(what) + ": " + display + " did not stop within " +
                            std::to_string(kStopWaitMs / 1000) + " seconds.");
      return false;
    }
    sys_.pacer->Pause(kStopPollMs);
  }
  stopped_.push_back(display);
  return true;
}

bool FinishOrchestrator::CheckDisk(int disk) {
  static const char* const kPrompt[] = {"Please insert DISK1 into %s", "Please insert DISK2 into %s",
                                        "Please insert DISK3 into %s"};
  for (;;) {
    if (sys_.files->Find(source_.dir, kDiskFile[disk - 1])) return true;
    std::string text = kPrompt[disk - 1];
    text.replace(text.find("%s"), 2, source_.dir.string());
    if (!sys_.prompts->OkCancel(text)) return false;
  }
}

bool FinishOrchestrator::CopyFloppySet() {
  if (!source_.fromFloppy || copied_) return true;
  if (auto ready = sys_.files->PrepareTarget(target_); !ready) {
    sys_.prompts->Message("Unable to prepare " + target_.string() + ": " + ready.message());
    return false;
  }
  if (!CheckDisk(1)) return false;
  for (int disk = 1; disk <= 3; ++disk) {
    if (disk > 1 && !CheckDisk(disk)) return false;
    sys_.progress->Show(kCopyCaption[disk - 1], kCopyText);
    sys_.progress->SetPercent(0);
    // The drive gets a moment to settle before it is read.
    sys_.pacer->Pause(2000);
    CopyProgress progress;
    std::atomic<bool> done{false};
    plat::Result<void> result = plat::success();
    std::thread worker([&] {
      result = CopyDisk(*sys_.files, source_.dir, target_, progress);
      done = true;
    });
    while (!done) {
      sys_.pacer->Pause(100);
      sys_.progress->SetPercent(progress.percent);
    }
    worker.join();
    if (!result) {
      sys_.progress->Hide();
      sys_.prompts->Message(std::string(kCopyCaption[disk - 1]) + " failed: " + result.message());
      return false;
    }
    sys_.progress->SetPercent(disk > 1 ? 99 : progress.percent.load());
    sys_.progress->Hide();
  }
  source_.dir = target_;
  copied_ = true;
  return true;
}

}  // namespace kelm::setup
