#pragma once
// The serial subsystem simulator: the model and its line, served on a pseudo-terminal that is
// published as a link at the device path of Com1.
#include <filesystem>
#include <memory>

#include "platform/base/unique_fd.h"
#include "platform/base/clock.h"
#include "sim/core/simulator.h"
#include "sim/serial/subsystem.h"
#include "sim/serial/wire.h"

namespace sim::serial {

class SerialSimulator final : public Simulator {
 public:
  explicit SerialSimulator(plat::Clock& real = plat::systemClock());
  ~SerialSimulator() override;

  std::string name() const override { return "serial"; }
  plat::Result<void> configure(const std::vector<std::string>& lines) override;
  void configureDefault() override { subsystem_.loadDefault(); }
  plat::Result<void> start() override { return plug(); }
  void stop() override;
  void watches(std::vector<Watch>& out) override;
  void ready(int fd, short revents, std::int64_t nowMs) override;
  std::int64_t advance(std::int64_t nowMs) override {
    lastModelMs_ = nowMs;
    return subsystem_.advance(nowMs);
  }
  int realWaitMs() const override;
  std::string status() const override;
  bool fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) override;

  // The cable: the pseudo-terminal is closed (and its link removed), or made afresh and published.
  plat::Result<void> plug();
  void unplug();
  bool plugged() const { return master_.valid(); }
  std::filesystem::path linkPath() const;

  Subsystem& subsystem() { return subsystem_; }
  Wire& wire() { return wire_; }

 private:
  void flush();

  plat::Clock& real_;
  Subsystem subsystem_;
  Wire wire_{subsystem_};
  plat::UniqueFd master_;
  plat::UniqueFd keeper_;  // our own slave descriptor, so the line never hangs up between host opens
  std::string slaveName_;
  Bytes pendingOut_;
  std::int64_t lastModelMs_ = 0;
};

std::unique_ptr<Simulator> makeSerialSimulator();

}  // namespace sim::serial
