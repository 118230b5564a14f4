#include "platform/loop/posted_tasks.h"

namespace plat {

void PostedTasks::post(EventLoop& loop, std::function<void()> task) {
  loop.post([live = live_, task = std::move(task)] {
    if (*live) task();
  });
}

}  // namespace plat
