#include "components/framework/component_timer.h"

#include "components/framework/river_node.h"

namespace kelm::fw {

bool ComponentTimer::Start(std::chrono::milliseconds period, std::function<void()> tick) {
  plat::EventLoop* loop = plat::EventLoop::current();
  if (!loop) return false;
  if (!timer_) Module().lock(true);
  timer_ = loop->timer(period, true, std::move(tick));
  return true;
}

void ComponentTimer::Stop() {
  if (!timer_) return;
  timer_.reset();  // stops it
  Module().lock(false);
}

void ComponentTimer::Abandon() {
  if (!timer_) return;
  // A Timer stops its loop's timer when destroyed: this one is left undestroyed on purpose.
  (void)new plat::Timer(std::move(*timer_));
  timer_.reset();
}

}  // namespace kelm::fw
