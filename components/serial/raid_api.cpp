#include "components/serial/raid_api.h"

#include <memory>
#include <string>

#include "platform/service/syslog_sender.h"

namespace kelm::brask {

namespace {

RaidApi* installed = nullptr;

Environment& environment() {
  static Environment env;
  return env;
}

void sendToLog(std::string_view text) {
  static plat::service::SyslogSender sender("brask");
  (void)sender.send(plat::service::EventType::Warning, {}, text);  // a log that takes nothing now loses the line
}

}  // namespace

RaidApi& Api() { return installed ? *installed : GlimmoraApi(); }

void SetApi(RaidApi* api) { installed = api; }

const Environment& Env() {
  Environment& env = environment();
  if (!env.sleeper) env.sleeper = &plat::systemSleeper();
  if (!env.clock) env.clock = &plat::systemClock();
  if (!env.log) env.log = sendToLog;
  return env;
}

void SetEnvironment(Environment env) { environment() = std::move(env); }

plat::Result<void> Checked(int code) {
  if (code == 0) return plat::success();
  return plat::Error{code, std::string(Api().raErrorDescription(code)) + " (" + std::to_string(code) + ")"};
}

void LogFailure(std::string_view what, const plat::Error& error) {
  Env().log(std::string(what) + " failed: " + error.message);
}

}  // namespace kelm::brask
