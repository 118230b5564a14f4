#pragma once
// Restarting the machine after a setting that needs it (the IDE controller page asks). The console
// holds one rebooter; tests give one that records instead.
#include <functional>

#include "platform/base/result.h"

namespace kelm::console::ui {

class Rebooter {
 public:
  virtual ~Rebooter() = default;
  // Success once the system accepted the reboot.
  virtual plat::Result<void> Reboot() = 0;
};

// The machine's own reboot: the login manager asked over the system bus, and when that fails
// `systemctl reboot` run without a shell. Under a private root (KELM_ROOT: the demo, every test)
// it refuses and tries neither, so that no demo or test restarts the machine it runs on.
class SystemRebooter : public Rebooter {
 public:
  struct Ways {
    std::function<bool()> privateRoot;
    std::function<plat::Result<void>()> loginManager;
    std::function<plat::Result<void>()> systemctl;
  };
  // The real ways.
  SystemRebooter();
  explicit SystemRebooter(Ways ways) : ways_(std::move(ways)) {}
  plat::Result<void> Reboot() override;

 private:
  Ways ways_;
};

}  // namespace kelm::console::ui
