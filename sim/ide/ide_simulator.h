#pragma once
// The simulated Marovelt driver as kelmsim serves it: the driver answers on the SCSI port "Scsi<k>:"
// of its card and under its own name "Quellix"; the ports below it belong to other adapters and
// leave the buffer untouched. It also installs the driver file with its version block.
#include <array>
#include <filesystem>
#include <memory>

#include "platform/devio/device_server.h"
#include "sim/core/simulator.h"
#include "sim/ide/driver_model.h"
#include "sim/ide/miniport.h"

namespace sim::ide {

constexpr int kScsiPorts = 10;

// Where the driver file is installed under the root prefix.
std::filesystem::path driverFilePath();
// "2.0" -> (2, 0); nothing beyond 65535.255.
std::optional<std::pair<std::uint16_t, std::uint16_t>> parseDriverVersion(const std::string& text);

class IdeSimulator final : public Simulator {
 public:
  IdeSimulator();
  ~IdeSimulator() override;

  std::string name() const override { return "ide"; }
  plat::Result<void> configure(const std::vector<std::string>& lines) override { return model_.configure(lines); }
  void configureDefault() override { model_.loadDefault(); }
  plat::Result<void> start() override;
  void stop() override;
  void watches(std::vector<Watch>& out) override;
  void ready(int fd, short revents, std::int64_t nowMs) override;
  std::int64_t advance(std::int64_t nowMs) override;
  std::string status() const override;
  bool fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) override;

  DriverModel& model() { return model_; }
  Miniport& miniport() { return miniport_; }

 private:
  // Serves the devices the model's driver state calls for, and nothing else.
  plat::Result<void> publish();
  plat::Result<void> writeDriverFile();
  // The driver file and the devices, as the model now calls for.
  plat::Result<void> install();
  void onRequest(int server, plat::devio::DeviceServer::Request r);
  void deliver();
  static Ticket ticketOf(int server, std::uint64_t id) { return static_cast<Ticket>(server) << 48 | id; }

  DriverModel model_;
  Miniport miniport_{model_};
  // Scsi0: to Scsi9:, then the driver's own name.
  std::array<std::unique_ptr<plat::devio::DeviceServer>, kScsiPorts + 1> servers_;
  bool started_ = false;
  std::int64_t lastModelMs_ = 0;
};

std::unique_ptr<Simulator> makeIdeSimulator();

}  // namespace sim::ide
