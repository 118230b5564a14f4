#include "console/ui/rebooter.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <memory>

#include "platform/base/paths.h"
#include "platform/base/process.h"

namespace kelm::console::ui {

namespace {

bool UnderPrivateRoot() { return !plat::paths::root().empty(); }

plat::Error Refusal() {
  return plat::Error{EPERM, "not rebooting: KELM_ROOT is set (" + plat::paths::root().string() +
                                "), so this is a demo or a test and the machine is not the console's to restart"};
}

// Each way checks the root again itself: the choice alone must never be what stands between a
// test and the machine.
plat::Result<void> AskLoginManager() {
  if (UnderPrivateRoot()) return Refusal();
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) return plat::errnoError("opening the system bus", -r);
  std::unique_ptr<sd_bus, sd_bus* (*)(sd_bus*)> bus(raw, &sd_bus_flush_close_unref);
  // A polkit question may hold the call; it is bounded all the same.
  (void)sd_bus_set_method_call_timeout(bus.get(), 30'000'000);
  sd_bus_error err = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  r = sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "Reboot", &err, &reply, "b", 1);
  const std::string why = err.message ? err.message : "";
  sd_bus_error_free(&err);
  sd_bus_message_unref(reply);
  if (r < 0) {
    return why.empty() ? plat::errnoError("asking the login manager to reboot", -r)
                       : plat::Error{-r, "asking the login manager to reboot: " + why};
  }
  return plat::success();
}

plat::Result<void> RunSystemctl() {
  if (UnderPrivateRoot()) return Refusal();
  auto ran = plat::process::Run({"systemctl", "reboot"}, {{}, false, true});
  if (!ran) return ran.error();
  if (ran->exitCode != 0) {
    return plat::Error{ECANCELED, "systemctl reboot ended with " + std::to_string(ran->exitCode)};
  }
  return plat::success();
}

}  // namespace

SystemRebooter::SystemRebooter() : ways_{UnderPrivateRoot, AskLoginManager, RunSystemctl} {}

plat::Result<void> SystemRebooter::Reboot() {
  if (ways_.privateRoot()) return Refusal();
  auto asked = ways_.loginManager();
  if (asked) return asked;
  auto ran = ways_.systemctl();
  if (ran) return ran;
  return plat::Error{ran.code(), asked.message() + "; " + ran.message()};
}

}  // namespace kelm::console::ui
