#pragma once
// The kelmsim daemon: loads the scenario, starts every simulator, and runs one event loop over their
// descriptors, the model clock and the control socket (one text command per connection, its reply
// written without blocking).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/loop/event_loop.h"
#include "sim/core/model_clock.h"
#include "sim/core/simulator.h"

namespace sim {

std::filesystem::path controlSocketPath();
std::filesystem::path pidFilePath();

class Daemon {
 public:
  Daemon(std::vector<std::unique_ptr<Simulator>> simulators, ModelClock& clock)
      : sims_(std::move(simulators)), clock_(clock) {}
  ~Daemon();

  // Splits the scenario into sections ("[name]" lines) and configures each simulator; a simulator
  // without a section gets its default model. Without a file every simulator gets its default.
  plat::Result<void> configure(const std::optional<std::filesystem::path>& scenario);
  plat::Result<void> configureText(const std::string& text);
  // Starts the simulators and listens on the control socket.
  plat::Result<void> start();
  // Runs until a stop command or requestStop(); the error when the loop fails.
  plat::Result<void> run();
  // Safe from any thread.
  void requestStop();

  // One control command line; the reply text. Used by the control socket and by tests.
  std::string command(const std::string& line);
  void advance();

  // Control clients served at once; a command and its reply must be done within the time-out.
  static constexpr std::size_t kMaxClients = 16;
  static constexpr std::chrono::milliseconds kClientTimeout{5000};
  // A reply larger than this is cut: what a client's output buffer holds at most.
  static constexpr std::size_t kMaxReply = 1 << 20;

 private:
  struct Client {
    plat::UniqueFd fd;
    plat::FdWatch watch;  // after fd: removed before the descriptor closes
    plat::Timer expiry;
    std::string in;
    std::string out;
    std::size_t sent = 0;
  };
  void acceptClients();
  void serveClient(std::uint64_t id, std::uint32_t events);
  void dropClient(std::uint64_t id) { clients_.erase(id); }
  // After every event: output that became due, model time, the descriptors to watch and the next wake-up.
  void pass();

  std::vector<std::unique_ptr<Simulator>> sims_;
  ModelClock& clock_;
  std::unique_ptr<plat::EventLoop> loop_;
  plat::UniqueFd listenFd_;
  plat::FdWatch listenWatch_;
  std::map<std::uint64_t, Client> clients_;
  std::uint64_t nextClient_ = 1;
  std::vector<plat::FdWatch> simWatches_;
  plat::Timer wake_;
  std::atomic<bool> stop_{false};
};

// Sends one command to a running daemon and returns its reply; the error when no daemon answers.
plat::Result<std::string> sendCommand(const std::string& line, int timeoutMs = 10000);

}  // namespace sim
