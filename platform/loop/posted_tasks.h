#pragma once
// Calls an object defers to its loop (a drain after the current callback, a release once the
// stack has unwound), owned like a Timer: destroying the PostedTasks drops every task of it that
// has not run yet, so a deferred call can never reach an object that has gone.
//
// post() may be called from any thread while the owner lives; the owner is destroyed, and the
// tasks run, on the loop's thread.
#include <functional>
#include <memory>

#include "platform/loop/event_loop.h"

namespace plat {

class PostedTasks {
 public:
  PostedTasks() = default;
  PostedTasks(const PostedTasks&) = delete;
  PostedTasks& operator=(const PostedTasks&) = delete;
  ~PostedTasks() { stop(); }

  // Runs task on the loop's thread, in posting order, unless this is stopped or destroyed first.
  void post(EventLoop& loop, std::function<void()> task);
  // Drops every task not run yet, and every one posted from now on (the owner is going). On the
  // loop's thread.
  void stop() { *live_ = false; }

 private:
  // Shared with every posted task; false once they must not run. Never replaced, so another
  // thread may post while the owner's thread stops.
  std::shared_ptr<bool> live_ = std::make_shared<bool>(true);
};

}  // namespace plat
