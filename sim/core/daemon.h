#pragma once
// The kelmsim daemon: loads the scenario, starts every simulator, and runs one poll loop over their
// descriptors, the model clock and the control socket (one text command per connection).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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
  bool configure(const std::optional<std::filesystem::path>& scenario, std::string* error);
  bool configureText(const std::string& text, std::string* error);
  // Starts the simulators and listens on the control socket.
  bool start(std::string* error);
  // Runs until a stop command or requestStop().
  void run();
  void requestStop() { stop_ = true; }

  // One control command line; the reply text. Used by the control socket and by tests.
  std::string command(const std::string& line);
  void advance();

 private:
  struct Client {
    int fd;
    std::string in;
    std::chrono::steady_clock::time_point since;
  };
  void acceptClient();
  void serveClient(Client& c);

  std::vector<std::unique_ptr<Simulator>> sims_;
  ModelClock& clock_;
  int listenFd_ = -1;
  std::vector<Client> clients_;
  std::atomic<bool> stop_{false};
};

// Sends one command to a running daemon and returns its reply; nothing when no daemon answers.
std::optional<std::string> sendCommand(const std::string& line, int timeoutMs = 10000);

}  // namespace sim
