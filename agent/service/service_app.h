#pragma once
// The application base of the agent and the message server: one instance per program, the
// service words of the command line, install and remove, and the service life cycle (service
// mode under systemd, "win98" foreground mode on the named stop event, "SvcDeb" on the terminal),
// handed to the derived program through virtual operations.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/service/service_control.h"
#include "platform/service/syslog_sender.h"

namespace kelm {

// The first service word on a command line, with the arguments after it.
enum class ServiceWord { kNone, kSvcDeb, kWin98, kSvcInstall, kSvcRemove };
struct ServiceCommand {
  ServiceWord word = ServiceWord::kNone;
  std::vector<std::string> rest;  // the arguments after the word
};
// Words follow a leading '-' or '/' and compare without regard to case; other arguments are
// skipped; the first word found decides.
ServiceCommand ScanServiceWords(const std::vector<std::string>& args);

enum class RunMode { kService = 0, kWin98 = 1, kSvcDeb = 2 };
enum class ServiceState { kStopped, kStartPending, kRunning, kPaused, kStopPending };

struct ServiceNames {
  std::string serviceName;  // "ZODUzAve"
  std::string displayName;  // "Velkari RAID message agent"
};

// HKEY_LOCAL_MACHINE key that holds one subkey of values per installed service.
inline constexpr std::string_view kServiceKeyPath = "SOFTWARE\\Velkari Technology, Inc.\\Service";

class CServiceApp {
 public:
  explicit CServiceApp(ServiceNames names);
  virtual ~CServiceApp();
  CServiceApp(const CServiceApp&) = delete;
  CServiceApp& operator=(const CServiceApp&) = delete;

  // Runs the program for its arguments (without the program name) and gives the exit code:
  // no argument runs the service; a service word runs its action; anything else ends at once
  // (exit code 1, as does a second instance).
  int InitInstance(const std::vector<std::string>& args);

  // Life-cycle hooks. OnServiceStart gives 0 when started, else an error code (with the
  // program's own code in `specific`); the others give 0 to accept the control.
  virtual std::uint32_t OnServiceStart(const std::vector<std::string>& args, std::uint32_t& specific) = 0;
  virtual int OnServiceStop() = 0;
  virtual int OnServicePause() { return 0; }
  virtual int OnServiceContinue() { return 0; }
  // Modes 1 and 2: returns when the program is to stop (stop event, Ctrl-C, SIGTERM, or
  // RequestStop); pause and continue signals go to their hooks meanwhile.
  virtual void ServiceRun();

  // Writes the unit and the service key (after removing both); false with the reason logged.
  bool InstallService();
  // Deletes the unit and then the service key; false with the reason logged.
  bool RemoveService();
  plat::Result<void> WriteServiceKey();
  // A key that is not there is no failure.
  plat::Result<void> DeleteServiceKey();

  // From any thread: the program cannot go on (its worker died). Service mode reports the
  // service stopped with this error; the foreground modes stop.
  void RequestStop(std::string reason, int errorCode = 1);

  // Status lines for the service manager and the log; a daemon shows no message boxes, so
  // their texts come here.
  void ReportStatus(std::string_view status);
  void Log(plat::service::EventType type, std::string_view text);

  RunMode runMode() const { return runMode_; }
  ServiceState state() const { return state_.load(); }
  const ServiceNames& names() const { return names_; }
  std::string MutexName() const { return names_.serviceName + "-Mutex"; }
  std::string StopEventName() const { return names_.serviceName + "-ServiceStop"; }
  // The program installed by InstallService (this executable unless set).
  plat::Result<std::filesystem::path> ProgramPath() const;
  void SetProgramPath(std::filesystem::path p) { programPath_ = std::move(p); }
  // The logs also go to standard error (foreground modes, tests).
  void SetLogToStderr(bool on) { logToStderr_ = on; }

 private:
  std::string ServiceKeyPath() const;
  int ServiceMain();
  int RunForeground(RunMode mode, const std::vector<std::string>& args);
  void HandleControl(plat::service::Control c);
  // Tells the service manager; a message that did not go is logged (the manager may then time
  // the service out or miss its state).
  void Notify(std::string_view state);

  ServiceNames names_;
  RunMode runMode_ = RunMode::kService;
  std::atomic<ServiceState> state_{ServiceState::kStopped};
  std::optional<plat::service::ControlSignals> signals_;
  std::atomic<bool> stopRequested_{false};
  std::mutex reasonMutex_;
  std::string stopReason_;
  int stopError_ = 0;
  std::filesystem::path programPath_;
  bool logToStderr_ = false;
  std::unique_ptr<plat::service::SyslogSender> syslog_;
};

}  // namespace kelm
