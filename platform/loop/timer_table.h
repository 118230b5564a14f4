#pragma once
// The timers of one loop, kept against the loop's clock. Every loop implementation keeps its
// timers here and only decides how to wake up for the earliest deadline.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/loop/event_loop.h"

namespace plat {

class TimerTable {
 public:
  TimerId start(std::int64_t now, std::chrono::milliseconds interval, bool periodic, std::function<void()> fn);
  // True when the id was still there.
  bool cancel(TimerId id) { return timers_.erase(id) != 0; }
  // The earliest deadline; nothing when there is no timer.
  std::optional<std::int64_t> earliest() const;
  bool anyDue(std::int64_t now) const;
  // Runs every timer due at `now` in deadline order. A callback may start or cancel timers,
  // its own included; a periodic timer whose expirations were missed is called once for all.
  void runDue(std::int64_t now);

 private:
  struct Entry {
    std::int64_t deadline;
    std::int64_t period;  // 0 for one-shot
    std::shared_ptr<std::function<void()>> fn;
  };
  TimerId last_ = 0;
  std::map<TimerId, Entry> timers_;
};

}  // namespace plat
