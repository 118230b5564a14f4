#include "setup/core/system_platform.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/base/paths.h"
#include "platform/kernel/named_objects.h"
#include "platform/base/process.h"

namespace kelm::setup {

namespace {

constexpr const char* kSystemd = "org.freedesktop.systemd1";
constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
constexpr const char* kManager = "org.freedesktop.systemd1.Manager";

struct BusDeleter {
  void operator()(sd_bus* b) const { sd_bus_flush_close_unref(b); }
};
using Bus = std::unique_ptr<sd_bus, BusDeleter>;

struct BusError {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  ~BusError() { sd_bus_error_free(&e); }
  // Refusals by policy are the caller's missing rights.
  plat::Error error(const std::string& what, int r) const {
    const bool denied = sd_bus_error_has_name(&e, SD_BUS_ERROR_ACCESS_DENIED) ||
                        sd_bus_error_has_name(&e, SD_BUS_ERROR_INTERACTIVE_AUTHORIZATION_REQUIRED);
    std::string text = what + ": " + (e.message ? e.message : std::strerror(-r));
    return plat::Error{denied ? EACCES : -r, text};
  }
};

std::string unitOf(std::string_view service) { return std::string(service) + ".service"; }

}  // namespace

plat::Result<bool> RealNamedObjects::MutexHeld(std::string_view name) {
  return plat::kernel::NamedMutex::held(name);
}

plat::Result<void> RealNamedObjects::SetEvent(std::string_view name) {
  auto ev = plat::kernel::NamedEvent::open(name);
  if (!ev) return ev.error();
  return ev->set();
}

plat::Result<bool> SystemdServices::Runs(std::string_view service) {
  if (!plat::paths::root().empty()) return false;
  sd_bus* raw = nullptr;
  // No system bus: nothing runs under systemd.
  if (sd_bus_open_system(&raw) < 0) return false;
  Bus bus(raw);
  BusError err;
  sd_bus_message* reply = nullptr;
  const std::string unit = unitOf(service);
  int r = sd_bus_call_method(bus.get(), kSystemd, kManagerPath, kManager, "GetUnit", &err.e, &reply, "s",
                             unit.c_str());
  if (r < 0) {
    // A unit that is not loaded is not running; a refused question is no answer.
    if (sd_bus_error_has_name(&err.e, "org.freedesktop.systemd1.NoSuchUnit")) return false;
    return err.error("asking systemd for " + unit, r);
  }
  const char* objectPath = nullptr;
  r = sd_bus_message_read(reply, "o", &objectPath);
  std::string pathText = r >= 0 && objectPath ? objectPath : "";
  sd_bus_message_unref(reply);
  if (pathText.empty()) return plat::Error{EPROTO, "systemd gave no object for " + unit};
  char* state = nullptr;
  BusError perr;
  r = sd_bus_get_property_string(bus.get(), kSystemd, pathText.c_str(), "org.freedesktop.systemd1.Unit",
                                 "ActiveState", &perr.e, &state);
  if (r < 0) return perr.error("asking systemd for the state of " + unit, r);
  const std::string active = state;
  std::free(state);
  return active == "active" || active == "activating" || active == "reloading";
}

plat::Result<void> SystemdServices::Stop(std::string_view service) {
  sd_bus* raw = nullptr;
  int r = sd_bus_open_system(&raw);
  if (r < 0) return plat::errnoError("connecting to the system bus", -r);
  Bus bus(raw);
  BusError err;
  sd_bus_message* reply = nullptr;
  const std::string unit = unitOf(service);
  r = sd_bus_call_method(bus.get(), kSystemd, kManagerPath, kManager, "StopUnit", &err.e, &reply, "ss",
                         unit.c_str(), "replace");
  sd_bus_message_unref(reply);
  if (r < 0) return err.error("stopping " + unit, r);
  return plat::success();
}

plat::Result<void> SpawnLauncher::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                                        const std::filesystem::path& workingDir) {
  std::vector<std::string> argv{program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  // A session of its own: the installer goes on when the wizard's terminal or session ends.
  auto pid = plat::process::Spawn(argv, {workingDir, true, false});
  if (!pid) return pid.error();
  return plat::success();
}

}  // namespace kelm::setup
