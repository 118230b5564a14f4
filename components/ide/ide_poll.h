#pragma once
// The component's once-a-second poll of the driver: the process-wide lists of array and
// controller nodes, the full-read counter, and the timer, which runs while a root lives and the
// first array node has been built. Runs on the thread that owns the nodes; nothing is locked.
#include <memory>
#include <vector>

#include "platform/loop/event_loop.h"

namespace tirrow {

class CMaroveltDriver;
struct TableChanges;
class CIdeArray;
class CIdeController;
class CTirrowRoot;

class CIdePoll {
 public:
  static constexpr int kControllerRefreshTicks = 120;
  static constexpr int kEnclosureTicks = 20;
  static constexpr int kFullReadTicks = 360;

  static CIdePoll& Get();

  void AddRoot(CTirrowRoot* root);
  void RemoveRoot(CTirrowRoot* root);
  // The first array node starts the timer (on the current thread's loop, holding a module lock).
  void AddArray(CIdeArray* a);
  void RemoveArray(CIdeArray* a);
  void AddController(CIdeController* c) { controllers_.push_back(c); }
  void RemoveController(CIdeController* c);

  // One tick of the poll.
  void Tick();
  // After a full read, wherever it came from: the array and controller nodes whose rows changed.
  void RefreshChanged(const TableChanges& changes);

  bool TimerRunning() const { return timer_ != nullptr; }
  int FullReadCounter() const { return fullRead_; }

 private:
  CIdePoll() = default;
  ~CIdePoll();
  void StopTimer();

  std::vector<CTirrowRoot*> roots_;
  std::vector<CIdeArray*> arrays_;
  std::vector<CIdeController*> controllers_;
  std::shared_ptr<CMaroveltDriver> driver_;
  int fullRead_ = 0;
  std::unique_ptr<plat::Timer> timer_;
  bool moduleLocked_ = false;
};

}  // namespace tirrow
