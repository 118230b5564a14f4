#include "components/iop/iop_api.h"

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

std::optional<std::uint32_t> ApiChannel::Call(std::uint16_t command, std::initializer_list<ApiIn> request,
                                              std::initializer_list<ApiOut> reply) {
  ControllerDevice dev(handle);
  return dev.SendApiMessage(address, command, std::span<const ApiIn>(request.begin(), request.size()),
                            std::span<const ApiOut>(reply.begin(), reply.size()));
}

std::optional<std::uint32_t> ApiChannel::Read(std::uint16_t command, std::initializer_list<ApiIn> request) {
  std::uint32_t v = 0;
  if (!Ok(command, request, {ApiOut::Scalar(v)})) return std::nullopt;
  return v;
}

std::optional<std::vector<std::uint8_t>> ApiChannel::Params(std::uint16_t operation, std::uint16_t group,
                                                            std::initializer_list<std::uint16_t> fields) {
  ControllerDevice dev(handle);
  return dev.GetI2OParams(operation, 0, group, std::span<const std::uint16_t>(fields.begin(), fields.size()), 1024);
}

bool ApiChannel::Identify() {
  ControllerDevice dev(handle);
  std::array<std::uint8_t, kIdentifyReply> reply{};
  if (!dev.ExecControlRequest(address.controller, 1, 33, 1, reply)) return false;
  address.targetId = TargetIdOf(reply);
  return true;
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

int Atoi(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace kelm::iop
