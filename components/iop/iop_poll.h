#pragma once
// The component's one-second poll: the process-wide lists of arrays and controllers, the shared
// controller refresh counter and the timer that the first array starts. Everything runs on the
// thread that owns the nodes, so nothing is locked.
#include <vector>

#include "components/framework/component_timer.h"

namespace kelm::iop {

class CIopArray;
class CIopController;

class PollList {
 public:
  // A controller is refreshed when the shared counter taken reaches this.
  static constexpr int kRefreshAt = 135;
  static PollList& Get();

  // The first array starts the timer on the current thread's loop (when it has one).
  void AddArray(CIopArray* a);
  void RemoveArray(CIopArray* a);
  void AddController(CIopController* c) { controllers_.push_back(c); }
  // The timer goes with the last node, so that an unused component can be unloaded.
  void RemoveController(CIopController* c);

  // One tick: every array's poll, then the controllers' turns at the shared counter.
  void Tick();

  int Counter() const { return counter_; }
  bool TimerRunning() const { return timer_.Running(); }
  const std::vector<CIopArray*>& Arrays() const { return arrays_; }
  const std::vector<CIopController*>& Controllers() const { return controllers_; }
  void ResetCounter() { counter_ = 0; }  // for tests: as a freshly loaded component

 private:
  PollList() = default;
  ~PollList() { timer_.Abandon(); }  // the loop may be gone when the process ends
  void StopWhenUnused();

  std::vector<CIopArray*> arrays_;
  std::vector<CIopController*> controllers_;
  int counter_ = 0;
  fw::ComponentTimer timer_;
};

}  // namespace kelm::iop
