#pragma once
// The service manager's side of a daemon: the systemd unit that installs it, the readiness and
// status notifications (sd_notify), and the control signals that stop, pause and continue it.
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace plat::service {

struct UnitSpec {
  std::string name;         // the unit is "<name>.service"
  std::string description;  // the display name
  std::filesystem::path program;
};

// serviceUnitDir()/<name>.service
std::filesystem::path unitPath(std::string_view serviceName);
// The unit's text: a notify-type service started at boot. The program path is quoted when it
// holds a blank; KELM_ROOT, KELM_PORT_BASE and KELM_BROADCAST are carried when set, so an
// installed unit runs in the root it was installed from.
std::string unitText(const UnitSpec& spec);
// Writes the unit atomically (temporary file, fsync, rename), creating the directory.
Result<void> installUnit(const UnitSpec& spec);
// Deletes the unit; a unit that is not there is no error.
Result<void> removeUnit(std::string_view serviceName);

// One sd_notify state line ("READY=1", "STOPPING=1", "STATUS=..."). Without a service manager
// (no NOTIFY_SOCKET) there is nobody to tell, which is no failure; an error when the message did
// not go.
Result<void> notify(std::string_view state);

// What a control signal asks for.
enum class Control {
  Stop,      // SIGTERM, or SIGINT (Ctrl-C)
  Pause,     // SIGUSR1
  Continue,  // SIGUSR2
  Wake,      // wake() was called (another thread has news for the waiter)
  Event,     // the extra descriptor given to wait() became readable
};

// Takes SIGTERM, SIGINT, SIGUSR1 and SIGUSR2 for a signalfd. Create it on the main thread before
// any other thread starts, so that every thread inherits the blocked mask and the signals wait
// for wait() instead of ending the process.
class ControlSignals {
 public:
  static Result<ControlSignals> create();
  ControlSignals(ControlSignals&&) noexcept = default;
  ControlSignals& operator=(ControlSignals&&) noexcept = default;
  // Restores the signal mask that was in force before.
  ~ControlSignals();

  // Waits for the next control; `extraFd`, when given, is watched for readability too. An error
  // when waiting fails: no control can arrive any more.
  Result<Control> wait(int extraFd = -1);
  // Safe from any thread: makes the current or next wait() return Wake.
  void wake() const;

 private:
  ControlSignals(UniqueFd signals, UniqueFd waker, sigset_t old)
      : signals_(std::move(signals)), waker_(std::move(waker)), old_(old) {}
  UniqueFd signals_;
  UniqueFd waker_;
  sigset_t old_{};
};

}  // namespace plat::service
