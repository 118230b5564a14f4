#pragma once
// What every device simulator offers the kelmsim daemon: it is configured from its section of the
// scenario, publishes its devices, is driven by file-descriptor readiness and by model time, prints
// its model and takes injected faults. A new simulator implements this and is listed in kelmsim's main.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace sim {

struct Watch {
  int fd;
  short events;  // POLLIN / POLLOUT
};

class Simulator {
 public:
  virtual ~Simulator() = default;
  // The name of its scenario section and of its fault prefix ("serial").
  virtual std::string name() const = 0;
  // Lines of its scenario section (comments and blank lines removed); the reason on bad input.
  virtual plat::Result<void> configure(const std::vector<std::string>& lines) = 0;
  // The model that stands when the scenario has no section for it.
  virtual void configureDefault() = 0;
  // Publishes its devices under the root prefix.
  virtual plat::Result<void> start() = 0;
  virtual void stop() = 0;

  // Descriptors to watch now, and what to do when one is ready.
  virtual void watches(std::vector<Watch>& out) = 0;
  virtual void ready(int fd, short revents, std::int64_t nowMs) = 0;
  // Advances the model to `nowMs` (model time). Returns the model time of its next own deadline, or -1.
  virtual std::int64_t advance(std::int64_t nowMs) = 0;

  // Real milliseconds until it has output to send on its own (a delayed reply), or -1.
  virtual int realWaitMs() const { return -1; }

  virtual std::string status() const = 0;
  // Handles a fault it knows: true with a reply; false when the name is not its own.
  virtual bool fault(const std::string& name, const std::vector<std::string>& args, std::string* reply) = 0;
};

using SimulatorFactory = std::unique_ptr<Simulator> (*)();

// The reply to a fault a model carried out (its "ok: ..." text) or refused (the reason).
inline std::string faultReply(const plat::Result<std::string>& done) {
  return done ? *done : "error: " + done.message() + "\n";
}

}  // namespace sim
