#pragma once
// For tests: runs a started simulator's device loop on a thread of its own, as the daemon would,
// while the test sends requests through platform/devio. Every call into the simulator goes
// through locked(), so the test and the loop never touch it at once.
#include <poll.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/core/simulator.h"

namespace sim::testing {

class ServingThread {
 public:
  explicit ServingThread(Simulator& sim) : sim_(sim), thread_([this] { serve(); }) {}
  ~ServingThread() {
    stop_ = true;
    thread_.join();
  }
  ServingThread(const ServingThread&) = delete;
  ServingThread& operator=(const ServingThread&) = delete;

  template <class F>
  auto locked(F&& f) {
    std::lock_guard lock(mutex_);
    return f(sim_);
  }
  // The fault's reply; empty when the simulator does not know it.
  std::string fault(const std::string& name, const std::vector<std::string>& args = {}) {
    return locked([&](Simulator& s) {
      std::string reply;
      return s.fault(name, args, &reply) ? reply : std::string();
    });
  }
  void advanceTo(std::int64_t ms) {
    locked([&](Simulator& s) {
      modelMs_ = ms;
      return s.advance(ms);
    });
  }

 private:
  void serve() {
    while (!stop_) {
      std::vector<Watch> watches;
      locked([&](Simulator& s) { s.watches(watches); });
      std::vector<pollfd> fds;
      for (auto& w : watches) fds.push_back({w.fd, w.events, 0});
      if (::poll(fds.data(), fds.size(), 10) <= 0) continue;
      locked([&](Simulator& s) {
        for (auto& p : fds)
          if (p.revents) s.ready(p.fd, p.revents, modelMs_);
      });
    }
  }

  Simulator& sim_;
  std::mutex mutex_;
  std::atomic<bool> stop_{false};
  std::int64_t modelMs_ = 0;
  std::thread thread_;  // last: it starts once everything it uses stands
};

}  // namespace sim::testing
