#include "components/ide/ide_poll.h"

#include <algorithm>
#include <chrono>

#include "components/ide/ide_log.h"
#include "components/ide/ide_nodes.h"

namespace tirrow {

namespace {

template <class T>
bool Contains(const std::vector<T*>& list, const T* item) {
  return std::ranges::find(list, item) != list.end();
}

}  // namespace

CIdePoll& CIdePoll::Get() {
  static CIdePoll poll;
  return poll;
}

CIdePoll::~CIdePoll() {
  // Nodes alive when the process ends: their loop may be gone, so the timer is abandoned.
  (void)timer_.release();
  // A driver still held at exit stops waiting on the device before it goes.
  if (driver_) driver_->Shutdown();
}

void CIdePoll::AddRoot(CTirrowRoot* root) {
  if (roots_.empty()) fullRead_ = 0;
  roots_.push_back(root);
  if (!driver_ && root->Driver()) {
    driver_ = root->Driver();
    driver_->SetTablesChanged([this](const TableChanges& c) { RefreshChanged(c); });
  }
}

void CIdePoll::RemoveRoot(CTirrowRoot* root) {
  std::erase(roots_, root);
  if (!roots_.empty()) return;
  StopTimer();
  if (driver_) driver_->SetTablesChanged(nullptr);
  driver_.reset();
}

void CIdePoll::RefreshChanged(const TableChanges& changes) {
  if (!driver_) return;
  std::shared_ptr<CMaroveltDriver> driver = driver_;
  // An array whose record, or one of whose members' disk rows, changed.
  const auto arrays = arrays_;
  for (CIdeArray* a : arrays) {
    if (!Contains(arrays_, a)) continue;
    const int slot = a->Slot();
    bool changed = slot >= 0 && static_cast<std::size_t>(slot) < kArraySlots && changes.arrays[static_cast<std::size_t>(slot)];
    if (auto info = driver->Array(slot); info && !changed) {
      for (const auto& m : info->present) {
        if (static_cast<std::size_t>(m.diskIndex) < kDiskSlots && changes.disks[static_cast<std::size_t>(m.diskIndex)])
          changed = true;
      }
    }
    if (!changed) continue;
    plat::com::ComPtr<CIdeArray> keep(a);
    a->RefreshArray();
  }
  const auto controllers = controllers_;
  for (CIdeController* c : controllers) {
    if (!Contains(controllers_, c)) continue;
    const int i = c->Index();
    if (i < 0 || static_cast<std::size_t>(i) >= kMaxControllers || !changes.controllers[static_cast<std::size_t>(i)])
      continue;
    plat::com::ComPtr<CIdeController> keep(c);
    c->RefreshController();
  }
}

void CIdePoll::StopTimer() {
  timer_.reset();  // safe from the timer's own callback
  if (moduleLocked_) {
    moduleLocked_ = false;
    kelm::fw::Module().lock(false);
  }
}

void CIdePoll::AddArray(CIdeArray* a) {
  arrays_.push_back(a);
  if (timer_ || roots_.empty()) return;
  plat::EventLoop* loop = plat::EventLoop::current();
  if (!loop) return;  // a thread without a loop: its owner calls Tick itself
  timer_ = std::make_unique<plat::Timer>(loop->timer(std::chrono::milliseconds(1000), true, [this] { Tick(); }));
  if (!moduleLocked_) {
    kelm::fw::Module().lock(true);  // the library stays loaded while its timer can call into it
    moduleLocked_ = true;
  }
}

void CIdePoll::RemoveArray(CIdeArray* a) { std::erase(arrays_, a); }

void CIdePoll::RemoveController(CIdeController* c) { std::erase(controllers_, c); }

void CIdePoll::Tick() {
  if (!driver_) return;
  std::shared_ptr<CMaroveltDriver> driver = driver_;
  // 1. Queued events; without any, a changed disk table counts as the change. A request that fails
  // counts as no change, and is logged while it goes on failing only when its reason changes.
  const std::vector<EventRecordBytes> events =
      ValueOrLogOnce(driver->ReadDriverEvents(), {}, "Read driver events - driver request failed");
  const bool changed = !events.empty() ||
                       ValueOrLogOnce(driver->DetectDiskChange(), false, "Detect disk change - driver request failed");
  // 2. Task progress.
  const int activity = ValueOrLogOnce(driver->PollActivity(), 0, "Read activity - driver request failed");
  if (arrays_.empty()) return;
  // 3. Arrays. Refreshes may drop nodes, so the lists are walked from copies and each node is
  // checked to be still listed, and held, before it is touched.
  const auto arrays = arrays_;
  for (CIdeArray* a : arrays) {
    if (!Contains(arrays_, a)) continue;
    if (activity != 0 || changed) {
      plat::com::ComPtr<CIdeArray> keep(a);
      a->RefreshArray();
    }
  }
  if (controllers_.empty()) return;
  // 4. Controllers, each on its own counter.
  const int percent = driver->CurrentPercent();
  const auto controllers = controllers_;
  for (CIdeController* c : controllers) {
    if (!Contains(controllers_, c)) continue;
    plat::com::ComPtr<CIdeController> keep(c);
    c->PollTick(changed, percent, events);
  }
  // 5. The full read.
  if (fullRead_++ == kFullReadTicks) {
    OkOrLogOnce(driver->ReadDriverState(), "Read driver tables - driver request failed");
    fullRead_ = 1;
  }
}

}  // namespace tirrow
