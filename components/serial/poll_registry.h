#pragma once
// The component's one poll: the process-wide lists of roots, controllers and arrays, one tick
// counter and the one-second timer that walks them. Everything here runs on the thread that owns
// the nodes, so nothing is locked.
#include <cstdint>
#include <memory>
#include <vector>

#include "components/framework/component_timer.h"

namespace kelm::brask {

class CBraskRoot;
class CSerialController;
class CSerialArray;

class PollRegistry {
 public:
  static constexpr int kPollEvery = 10;  // ticks between two polls of one node
  static PollRegistry& Get();

  // The first root starts the timer on the current thread's loop (when it has one) and holds a
  // module lock while the timer runs; the last root to go stops it and gives the lock back.
  void AddRoot(CBraskRoot* root);
  void RemoveRoot(CBraskRoot* root);
  void AddController(CSerialController* c) { controllers_.push_back(c); }
  void RemoveController(CSerialController* c);
  void AddArray(CSerialArray* a) { arrays_.push_back(a); }
  void RemoveArray(CSerialArray* a);

  // One timer tick: root k is polled when (tick + k) is a multiple of 10, and every controller and
  // array that hangs under a root when the tick is; then the counter rises by one.
  void Tick();

  std::uint64_t TickCount() const { return tick_; }
  bool TimerRunning() const { return timer_.Running(); }
  const std::vector<CSerialController*>& Controllers() const { return controllers_; }
  const std::vector<CSerialArray*>& Arrays() const { return arrays_; }
  const std::vector<CBraskRoot*>& Roots() const { return roots_; }

 private:
  PollRegistry() = default;
  ~PollRegistry();
  bool HasRoot(const void* node) const;
  // A node whose chain of parents ends at a live root; nodes a client still holds after their
  // root dropped them are not polled.
  template <class Node>
  bool Attached(Node* node) const;

  std::vector<CBraskRoot*> roots_;
  std::vector<CSerialController*> controllers_;
  std::vector<CSerialArray*> arrays_;
  std::uint64_t tick_ = 0;
  fw::ComponentTimer timer_;  // while a root lives and the thread has a loop
};

}  // namespace kelm::brask
