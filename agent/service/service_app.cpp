#include "agent/service/service_app.h"

#include <strings.h>

#include <cstdio>

#include "platform/kernel/module_path.h"
#include "platform/kernel/named_objects.h"
#include "platform/registry/registry.h"

namespace kelm {

using plat::service::Control;
using plat::service::EventType;

ServiceCommand ScanServiceWords(const std::vector<std::string>& args) {
  static const struct {
    const char* text;
    ServiceWord word;
  } kWords[] = {{"SvcDeb", ServiceWord::kSvcDeb},
                {"win98", ServiceWord::kWin98},
                {"SvcInstall", ServiceWord::kSvcInstall},
                {"SvcRemove", ServiceWord::kSvcRemove}};
  ServiceCommand cmd;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || (a[0] != '-' && a[0] != '/')) continue;
    for (const auto& w : kWords) {
      if (::strcasecmp(a.c_str() + 1, w.text) == 0) {
        cmd.word = w.word;
        cmd.rest.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
        return cmd;
      }
    }
  }
  return cmd;
}

CServiceApp::CServiceApp(ServiceNames names) : names_(std::move(names)) {
  syslog_ = std::make_unique<plat::service::SyslogSender>(names_.serviceName);
}

CServiceApp::~CServiceApp() = default;

plat::Result<std::filesystem::path> CServiceApp::ProgramPath() const {
  if (programPath_.empty()) return plat::kernel::modulePath();
  return programPath_;
}

void CServiceApp::Log(EventType type, std::string_view text) {
  (void)syslog_->send(type, {}, text);  // a log that cannot be written is no reason to stop
  if (logToStderr_ || runMode_ != RunMode::kService)
    std::fprintf(stderr, "%s: %.*s\n", names_.serviceName.c_str(), static_cast<int>(text.size()), text.data());
}

void CServiceApp::ReportStatus(std::string_view status) {
  std::string line = "STATUS=";
  for (char c : status) line += (c == '\n') ? ' ' : c;
  Notify(line);
}

void CServiceApp::Notify(std::string_view state) {
  if (auto told = plat::service::notify(state); !told) {
    std::string what(state.substr(0, state.find('\n')));
    Log(EventType::Warning, "the service manager was not told " + what + ": " + told.message());
  }
}

int CServiceApp::InitInstance(const std::vector<std::string>& args) {
  auto mutex = plat::kernel::NamedMutex::create(MutexName());
  if (!mutex) return 1;  // a second instance ends without a message

  auto sig = plat::service::ControlSignals::create();
  if (!sig) {
    Log(EventType::Error, "cannot take the control signals: " + sig.message());
    return 1;
  }
  signals_.emplace(std::move(*sig));

  if (args.empty()) return ServiceMain();
  ServiceCommand cmd = ScanServiceWords(args);
  switch (cmd.word) {
    case ServiceWord::kSvcDeb:
      return RunForeground(RunMode::kSvcDeb, cmd.rest);
    case ServiceWord::kWin98:
      return RunForeground(RunMode::kWin98, {});
    case ServiceWord::kSvcInstall:
      return InstallService() ? 0 : 1;
    case ServiceWord::kSvcRemove:
      return RemoveService() ? 0 : 1;
    case ServiceWord::kNone:
      break;
  }
  return 1;
}

void CServiceApp::RequestStop(std::string reason, int errorCode) {
  {
    std::lock_guard<std::mutex> lock(reasonMutex_);
    if (!stopRequested_) {
      stopReason_ = std::move(reason);
      stopError_ = errorCode;
    }
  }
  stopRequested_ = true;
  if (signals_) signals_->wake();
}

void CServiceApp::HandleControl(Control c) {
  switch (c) {
    case Control::Pause:
      if (state_ == ServiceState::kRunning && OnServicePause() == 0) {
        state_ = ServiceState::kPaused;
        ReportStatus("Paused");
      }
      break;
    case Control::Continue:
      if (state_ == ServiceState::kPaused && OnServiceContinue() == 0) {
        state_ = ServiceState::kRunning;
        ReportStatus("Running");
      }
      break;
    default:
      break;
  }
}

int CServiceApp::ServiceMain() {
  runMode_ = RunMode::kService;
  state_ = ServiceState::kStartPending;
  ReportStatus("Starting");
  std::uint32_t specific = 0;
  const std::uint32_t r = OnServiceStart({}, specific);
  if (r != 0) {
    state_ = ServiceState::kStopped;
    std::string why;
    {
      std::lock_guard<std::mutex> lock(reasonMutex_);
      why = stopReason_;
    }
    ReportStatus("Stopped: start failed (error " + std::to_string(r) + ", code " + std::to_string(specific) + ")" +
                 (why.empty() ? std::string() : ": " + why));
    Notify("ERRNO=" + std::to_string(r));
    Log(EventType::Error, "the service did not start" + (why.empty() ? std::string() : ": " + why));
    return 1;
  }
  state_ = ServiceState::kRunning;
  Notify("READY=1\nSTATUS=Running");

  int exitCode = 0;
  for (;;) {
    auto waited = signals_->wait();
    // Nothing can reach the service any more: it stops, saying why, rather than spin.
    if (!waited) Log(EventType::Error, "the service stops: " + waited.message());
    const Control c = waited.valueOr(Control::Stop);
    if (c == Control::Wake && !stopRequested_) continue;
    if (c == Control::Pause || c == Control::Continue) {
      HandleControl(c);
      continue;
    }
    // A stop control, a failed wait, or the program's own stop request.
    if (stopRequested_) {
      std::lock_guard<std::mutex> lock(reasonMutex_);
      if (stopError_ != 0) {
        exitCode = 1;
        Log(EventType::Error, "the service stops: " + stopReason_);
        Notify("ERRNO=" + std::to_string(stopError_));
      }
    }
    state_ = ServiceState::kStopPending;
    Notify("STOPPING=1\nSTATUS=Stopping");
    if (OnServiceStop() == 0) {
      state_ = ServiceState::kStopped;
      ReportStatus("Stopped");
      break;
    }
    if (!waited) break;
  }
  return exitCode;
}

int CServiceApp::RunForeground(RunMode mode, const std::vector<std::string>& args) {
  runMode_ = mode;
  std::uint32_t specific = 0;
  const std::uint32_t r = OnServiceStart(args, specific);
  if (r != 0) {
    std::string why;
    {
      std::lock_guard<std::mutex> lock(reasonMutex_);
      why = stopReason_;
    }
    Log(EventType::Error, "start failed (error " + std::to_string(r) + ")" + (why.empty() ? "" : ": " + why));
    return 1;
  }
  state_ = ServiceState::kRunning;
  if (mode == RunMode::kWin98) InstallService();
  ServiceRun();
  state_ = ServiceState::kStopPending;
  OnServiceStop();
  state_ = ServiceState::kStopped;
  std::lock_guard<std::mutex> lock(reasonMutex_);
  if (stopRequested_ && stopError_ != 0) {
    Log(EventType::Error, "stopped: " + stopReason_);
    return 1;
  }
  return 0;
}

void CServiceApp::ServiceRun() {
  std::optional<plat::kernel::NamedEvent> stopEvent;
  if (runMode_ == RunMode::kWin98) {
    if (auto made = plat::kernel::NamedEvent::create(StopEventName()))
      stopEvent.emplace(std::move(*made));
    else
      Log(EventType::Warning, "the stop event cannot be made (" + made.message() + "); stop with SIGTERM");
  }
  for (;;) {
    auto waited = signals_->wait(stopEvent ? stopEvent->fd() : -1);
    if (!waited) {
      Log(EventType::Error, "stopping: " + waited.message());
      return;
    }
    const Control c = *waited;
    switch (c) {
      case Control::Event: {
        auto set = stopEvent->wait(0);
        if (set && *set == plat::kernel::NamedEvent::WaitResult::Signaled) return;
        if (!set) {
          // A broken event would wake this loop for ever: stop watching it.
          Log(EventType::Warning, "the stop event failed (" + set.message() + "); stop with SIGTERM");
          stopEvent.reset();
        }
        break;
      }
      case Control::Pause:
      case Control::Continue:
        HandleControl(c);
        break;
      case Control::Wake:
        if (stopRequested_) return;
        break;
      case Control::Stop:
        return;
    }
  }
}

bool CServiceApp::InstallService() {
  RemoveService();
  // A unit without its program would start nothing.
  auto program = ProgramPath();
  if (!program) {
    Log(EventType::Error, "install: " + program.message());
    return false;
  }
  auto r = plat::service::installUnit({names_.serviceName, names_.displayName, *program});
  if (!r) {
    Log(EventType::Error, "install: " + r.message());
    return false;
  }
  if (auto written = WriteServiceKey(); !written) {
    Log(EventType::Error, "install: the service key cannot be written: " + written.message());
    return false;
  }
  return true;
}

bool CServiceApp::RemoveService() {
  auto r = plat::service::removeUnit(names_.serviceName);
  if (!r) {
    Log(EventType::Error, "remove: " + r.message());
    return false;
  }
  if (auto deleted = DeleteServiceKey(); !deleted) {
    Log(EventType::Error, "remove: the service key cannot be deleted: " + deleted.message());
    return false;
  }
  return true;
}

std::string CServiceApp::ServiceKeyPath() const { return std::string(kServiceKeyPath) + "\\" + names_.serviceName; }

plat::Result<void> CServiceApp::WriteServiceKey() {
  auto key = plat::reg::Key::create(plat::reg::Hive::LocalMachine, ServiceKeyPath());
  if (!key) return key.error();
  auto program = ProgramPath();
  if (!program) return program.error();
  const plat::reg::Value values[] = {
      plat::reg::Value::string("ServiceName", names_.serviceName),
      plat::reg::Value::string("ServiceDisplayName", names_.displayName),
      plat::reg::Value::string("ServiceBinaryPath", program->string()),
  };
  return key->setValues(values);
}

plat::Result<void> CServiceApp::DeleteServiceKey() {
  auto gone = plat::reg::deleteKey(plat::reg::Hive::LocalMachine, ServiceKeyPath());
  if (!gone && !plat::reg::isNotFound(gone)) return gone;
  return plat::success();
}

}  // namespace kelm
