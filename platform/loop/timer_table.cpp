#include "platform/loop/timer_table.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace plat {

TimerId TimerTable::start(std::int64_t now, std::chrono::milliseconds interval, bool periodic,
                          std::function<void()> fn) {
  const std::int64_t ms = std::max<std::int64_t>(0, interval.count());
  const TimerId id = ++last_;
  timers_[id] = Entry{now + ms, periodic ? std::max<std::int64_t>(1, ms) : 0,
                      std::make_shared<std::function<void()>>(std::move(fn))};
  return id;
}

std::optional<std::int64_t> TimerTable::earliest() const {
  std::optional<std::int64_t> best;
  for (const auto& [id, t] : timers_) {
    if (!best || t.deadline < *best) best = t.deadline;
  }
  return best;
}

bool TimerTable::anyDue(std::int64_t now) const {
  const auto e = earliest();
  return e && *e <= now;
}

void TimerTable::runDue(std::int64_t now) {
  std::vector<std::pair<std::int64_t, TimerId>> due;
  for (const auto& [id, t] : timers_) {
    if (t.deadline <= now) due.emplace_back(t.deadline, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [deadline, id] : due) {
    auto it = timers_.find(id);
    if (it == timers_.end()) continue;  // cancelled by an earlier callback
    auto fn = it->second.fn;           // survives a cancel from inside the callback
    if (it->second.period == 0) {
      timers_.erase(it);
    } else {
      // Every expiration missed up to now collapses into this one call.
      const std::int64_t p = it->second.period;
      it->second.deadline += p * ((now - it->second.deadline) / p + 1);
    }
    (*fn)();
  }
}

}  // namespace plat
