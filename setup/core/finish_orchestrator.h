#pragma once
// The wizard's Finish: makes sure the console is closed, stops the agent and the message server
// the installation replaces, copies a floppy set to the hard disk, and starts the installer with
// the chosen parts.
#include <filesystem>
#include <string>
#include <vector>

#include "setup/core/medium_files.h"
#include "setup/core/setup_model.h"
#include "setup/core/setup_platform.h"

namespace kelm::setup {

struct SetupSystem {
  NamedObjects* objects = nullptr;
  ServiceManager* services = nullptr;
  Prompts* prompts = nullptr;
  ProgressWindow* progress = nullptr;
  Pacer* pacer = nullptr;
  Files* files = nullptr;
  Launcher* launcher = nullptr;
};

// Where the wizard was started from.
struct SourceLocation {
  std::filesystem::path dir;  // absolute, links kept
  bool fromFloppy = false;
};
// The directory of the program as it was started (argv[0]), made absolute without resolving links,
// and whether it lies in the floppy drive.
SourceLocation SourceOf(const std::string& argv0, const std::filesystem::path& cwd,
                        const std::filesystem::path& floppy);

inline constexpr const char* kConsoleMutex = "Ombrisk-Mutex";
inline constexpr const char* kConsoleRunningText =
    "You seem to be re-installing Kelm on this system. However, Kelm is already active.  Click OK button to close the "
    "Kelm utility and continue with re-installation. Click Cancel to halt re-installation of Kelm.";
inline constexpr const char* kInstallerMissingText = "Unable to find isSetup.exe file";
// How long a stopped service may take to go away, and how often it is looked at meanwhile.
inline constexpr std::uint32_t kStopWaitMs = 30000;
inline constexpr std::uint32_t kStopPollMs = 200;

class FinishOrchestrator {
 public:
  FinishOrchestrator(SetupSystem system, SourceLocation source, std::filesystem::path copyTarget);

  enum class Outcome { kFinished, kStay };
  Outcome OnWizardFinish(const Marks& install);

  const std::filesystem::path& sourceDir() const { return source_.dir; }
  bool copied() const { return copied_; }

 private:
  bool WaitForConsole();
  bool StopService(const std::string& service, const std::string& display, const char* deniedText,
                   const char* what);
  bool CheckDisk(int disk);
  bool CopyFloppySet();
  Outcome Abandon();

  SetupSystem sys_;
  SourceLocation source_;
  std::filesystem::path target_;
  bool copied_ = false;
  // The display names of the services this run stopped, for an abandoned finish to name.
  std::vector<std::string> stopped_;
};

}  // namespace kelm::setup
