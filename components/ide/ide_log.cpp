#include "components/ide/ide_log.h"

#include <map>

#include "platform/service/syslog_sender.h"

namespace tirrow {

namespace {

std::function<void(const std::string&)>& ErrorLog() {
  static std::function<void(const std::string&)> log;
  return log;
}

// The reason each failing request was last logged with; used on the component's thread only.
std::map<std::string, std::string>& Failing() {
  static std::map<std::string, std::string> failing;
  return failing;
}

}  // namespace

void SetErrorLog(std::function<void(const std::string&)> log) {
  ErrorLog() = std::move(log);
  Failing().clear();
}

void LogError(const std::string& text) {
  if (ErrorLog()) return ErrorLog()(text);
  static plat::service::SyslogSender sender("tirrow");
  (void)sender.send(plat::service::EventType::Error, {}, text);  // a log that cannot take it drops it
}

std::string WithReason(std::string_view text, const plat::Error& error) {
  std::string out(text);
  out += " (";
  out += error.message.empty() ? "error " + std::to_string(error.code) : error.message;
  out += ")";
  return out;
}

void LogFailureOnce(const std::string& what, const plat::Error& error) {
  auto [it, added] = Failing().try_emplace(what, error.message);
  if (!added && it->second == error.message) return;
  it->second = error.message;
  LogError(WithReason(what, error));
}

void ClearFailure(const std::string& what) { Failing().erase(what); }

}  // namespace tirrow
