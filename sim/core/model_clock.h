#pragma once
// Model time of the simulators: real monotonic time (or none, when frozen for tests) plus whatever
// the `step` fault added.
#include <atomic>
#include <cstdint>

#include "platform/base/clock.h"

namespace sim {

class ModelClock {
 public:
  ModelClock(plat::Clock& real, bool frozen) : real_(real), frozen_(frozen), start_(real.monotonicMs()) {}
  std::int64_t nowMs() const { return (frozen_ ? 0 : real_.monotonicMs() - start_) + stepped_.load(); }
  void step(std::int64_t ms) { stepped_ += ms; }
  bool frozen() const { return frozen_; }
  // Real milliseconds until model time reaches `modelMs` (unbounded when frozen).
  std::int64_t realDelayUntil(std::int64_t modelMs) const {
    if (frozen_) return -1;
    std::int64_t d = modelMs - nowMs();
    return d < 0 ? 0 : d;
  }

 private:
  plat::Clock& real_;
  bool frozen_;
  std::int64_t start_;
  std::atomic<std::int64_t> stepped_{0};
};

}  // namespace sim
