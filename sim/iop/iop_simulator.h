#pragma once
// The simulated Palindrex driver as kelmsim serves it: its own device "i2oexec" (the direct path),
// or SCSI ports "Scsi<k>:" whose miniport takes the wrapped requests (the tunnel path), and, as a
// fault, a port of another adapter that answers the probe with its own signature.
#include <array>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/devio/device_server.h"
#include "sim/core/simulator.h"
#include "sim/iop/card_model.h"
#include "sim/iop/driver.h"

namespace sim::iop {

constexpr int kScsiPorts = 10;

struct Serving {
  bool direct = true;
  int tunnelPort = -1;   // the first tunnel port; the second card's is the next one
  int foreignPort = -1;  // a port of another adapter
};

class IopSimulator final : public Simulator {
 public:
  IopSimulator() = default;
  ~IopSimulator() override;

  std::string name() const override { return "iop"; }
  plat::Result<void> configure(const std::vector<std::string>& lines) override;
  void configureDefault() override;
  plat::Result<void> start() override;
  void stop() override;
  void watches(std::vector<Watch>& out) override;
  void ready(int fd, short revents, std::int64_t nowMs) override;
  std::int64_t advance(std::int64_t nowMs) override;
  std::string status() const override;
  bool fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) override;

  CardModel& model() { return model_; }

 private:
  plat::Result<void> publish();
  // Writes the driver file while a path is served, removes it otherwise.
  plat::Result<void> installDriverFile();
  bool wanted(int server) const;
  void onRequest(int server, plat::devio::DeviceServer::Request r);
  static std::uint64_t key(int server, std::uint64_t connection) {
    return static_cast<std::uint64_t>(server) << 48 | connection;
  }
  plat::Result<void> parsePath(const std::vector<std::string>& w);

  CardModel model_;
  Driver driver_{model_};
  Serving serving_;
  // Scsi0: to Scsi9:, then the driver's own device.
  std::array<std::unique_ptr<plat::devio::DeviceServer>, kScsiPorts + 1> servers_;
  bool started_ = false;
};

std::unique_ptr<Simulator> makeIopSimulator();

// The driver file the simulator installs while its driver serves, beside the IDE driver's, so that
// whatever probes the drivers folder finds it.
std::filesystem::path driverFilePath();

}  // namespace sim::iop
