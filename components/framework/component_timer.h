#pragma once
// A component's process-wide timer (every family starts one when its first node is built). While it
// runs it holds a lock on the component's library, so that unloading unused libraries can never
// unmap code the timer is about to call; stopping it gives the lock back.
#include <chrono>
#include <functional>
#include <optional>

#include "platform/loop/event_loop.h"

namespace kelm::fw {

class ComponentTimer {
 public:
  ComponentTimer() = default;
  ComponentTimer(const ComponentTimer&) = delete;
  ComponentTimer& operator=(const ComponentTimer&) = delete;
  ~ComponentTimer() { Stop(); }

  // A periodic timer on the calling thread's loop; false, and nothing started, on a thread
  // without a loop. Starting a running timer replaces it (the lock is held once).
  bool Start(std::chrono::milliseconds period, std::function<void()> tick);
  // Safe from the timer's own callback.
  void Stop();
  bool Running() const { return timer_.has_value(); }
  // For a process that is ending, whose loop may be gone already: forgets the timer without
  // touching the loop. The lock stays, which no longer matters.
  void Abandon();

 private:
  std::optional<plat::Timer> timer_;
};

}  // namespace kelm::fw
