#include "components/iop/iop_api.h"

#include <cstdio>
#include <cstdlib>

#include "platform/service/syslog_sender.h"

namespace kelm::iop {

namespace {

Environment& environment() {
  static Environment env;
  return env;
}

void sendToLog(std::string_view text) {
  static plat::service::SyslogSender sender("vantrel");
  (void)sender.send(plat::service::EventType::Information, {}, text);  // a log that takes nothing loses the line
}

int LocaleLanguage() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return std::string_view(v).substr(0, 5) == "en_GB" ? 2057 : 1033;
  }
  return 1033;
}

}  // namespace

plat::Result<std::uint32_t> ApiChannel::Call(std::uint16_t command, std::initializer_list<ApiIn> request,
                                             std::initializer_list<ApiOut> reply) {
  ControllerDevice dev(handle);
  return dev.SendApiMessage(address, command, std::span<const ApiIn>(request.begin(), request.size()),
                            std::span<const ApiOut>(reply.begin(), reply.size()));
}

plat::Result<void> StatusOf(std::uint16_t command, const plat::Result<std::uint32_t>& status) {
  if (!status) return status.error();
  if (*status == 0) return plat::success();
  char text[64];
  std::snprintf(text, sizeof text, "the card answered command 0x%04X with status %u", command, *status);
  return plat::Error{kCardRefused, text};
}

plat::Result<void> ApiChannel::Ok(std::uint16_t command, std::initializer_list<ApiIn> request,
                                  std::initializer_list<ApiOut> reply) {
  return StatusOf(command, Call(command, request, reply));
}

plat::Result<std::uint32_t> ApiChannel::Read(std::uint16_t command, std::initializer_list<ApiIn> request) {
  std::uint32_t v = 0;
  if (auto done = Ok(command, request, {ApiOut::Scalar(v)}); !done) return done.error();
  return v;
}

plat::Result<std::vector<std::uint8_t>> ApiChannel::Params(std::uint16_t operation, std::uint16_t group,
                                                           std::initializer_list<std::uint16_t> fields) {
  ControllerDevice dev(handle);
  return dev.GetI2OParams(operation, 0, group, std::span<const std::uint16_t>(fields.begin(), fields.size()), 1024);
}

plat::Result<void> ApiChannel::Identify() {
  ControllerDevice dev(handle);
  std::array<std::uint8_t, kIdentifyReply> reply{};
  if (auto done = dev.ExecControlRequest(address.controller, 1, 33, 1, reply); !done) return done;
  address.targetId = TargetIdOf(reply);
  return plat::success();
}

void ApiUser::InheritApi(fw::CRiverNode* parent) {
  if (auto* p = dynamic_cast<ApiUser*>(parent)) api_ = p->api_;
}

const Environment& Env() {
  Environment& env = environment();
  if (!env.clock) env.clock = &plat::systemClock();
  if (!env.log) env.log = sendToLog;
  if (!env.language) env.language = LocaleLanguage();
  return env;
}

void SetEnvironment(Environment env) { environment() = std::move(env); }

void LogFailure(std::string_view what, const plat::Error& why) {
  std::string line(what);
  line += ": ";
  line += why.message;
  Env().log(line);
}

int Atoi(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace kelm::iop
