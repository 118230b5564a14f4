#pragma once
// The real named objects, service manager and launcher of the setup wizard.
#include "setup/core/setup_platform.h"

namespace kelm::setup {

class RealNamedObjects : public NamedObjects {
 public:
  plat::Result<bool> MutexHeld(std::string_view name) override;
  plat::Result<void> SetEvent(std::string_view name) override;
};

// systemd over D-Bus. Services of a private root (KELM_ROOT) are never the system's.
class SystemdServices : public ServiceManager {
 public:
  plat::Result<bool> Runs(std::string_view service) override;
  plat::Result<void> Stop(std::string_view service) override;
};

// posix_spawn, no shell, in a session of its own.
class SpawnLauncher : public Launcher {
 public:
  plat::Result<void> Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                           const std::filesystem::path& workingDir) override;
};

}  // namespace kelm::setup
