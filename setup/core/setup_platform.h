#pragma once
// What the finish of the setup wizard reaches outside itself, each behind a small interface so
// that tests replace it: named objects, the service manager, the administrator's answers, the
// copy's progress window, waiting, and starting the installer.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

namespace kelm::setup {

class NamedObjects {
 public:
  virtual ~NamedObjects() = default;
  // Whether a live process holds the mutex; an error when that cannot be told.
  virtual plat::Result<bool> MutexHeld(std::string_view name) = 0;
  // Sets the event that a program in its foreground mode waits on; ENXIO when nobody waits.
  virtual plat::Result<void> SetEvent(std::string_view name) = 0;
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Whether the service manager runs the service (its unit is active).
  virtual plat::Result<bool> Runs(std::string_view service) = 0;
  // Asks the service manager to stop it; EACCES when the caller may not.
  virtual plat::Result<void> Stop(std::string_view service) = 0;
};

class Prompts {
 public:
  virtual ~Prompts() = default;
  // A question with OK and Cancel: true for OK.
  virtual bool OkCancel(const std::string& text) = 0;
  virtual void Message(const std::string& text) = 0;
};

// The copy progress window: a bar from 0 to 100 and one line of text.
class ProgressWindow {
 public:
  virtual ~ProgressWindow() = default;
  virtual void Show(const std::string& caption, const std::string& text) = 0;
  virtual void SetPercent(int percent) = 0;
  virtual void Hide() = 0;
};

// Lets time pass while the window stays alive (the real one runs the event loop meanwhile).
class Pacer {
 public:
  virtual ~Pacer() = default;
  virtual void Pause(std::uint32_t ms) = 0;
};

class Launcher {
 public:
  virtual ~Launcher() = default;
  // Starts the program with these arguments (no shell) in that working directory, so that it
  // outlives this process.
  virtual plat::Result<void> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                   const std::filesystem::path& workingDir) = 0;
};

}  // namespace kelm::setup
