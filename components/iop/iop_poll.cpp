#include "components/iop/iop_poll.h"

#include <chrono>

#include "components/framework/node_list.h"
#include "components/iop/iop_controller.h"
#include "components/iop/iop_nodes.h"

namespace kelm::iop {

using fw::Contains;

PollList& PollList::Get() {
  static PollList list;
  return list;
}

void PollList::AddArray(CIopArray* a) {
  arrays_.push_back(a);
  if (!timer_.Running()) timer_.Start(std::chrono::milliseconds(1000), [this] { Tick(); });
}

void PollList::RemoveArray(CIopArray* a) {
  fw::EraseFrom(arrays_, a);
  StopWhenUnused();
}

void PollList::RemoveController(CIopController* c) {
  fw::EraseFrom(controllers_, c);
  StopWhenUnused();
}

void PollList::StopWhenUnused() {
  if (arrays_.empty() && controllers_.empty()) timer_.Stop();
}

void PollList::Tick() {
  // A poll may drop nodes, so each list is walked from a copy and each node is checked to be
  // still listed, and held, before it runs.
  const auto arrays = arrays_;
  for (CIopArray* a : arrays) {
    if (!Contains(arrays_, a)) continue;
    plat::com::ComPtr<CIopArray> keep(a);
    a->Poll();
  }
  const auto controllers = controllers_;
  for (CIopController* c : controllers) {
    if (!Contains(controllers_, c)) continue;
    const int taken = counter_++;
    if (taken != kRefreshAt) continue;
    counter_ = 1;
    plat::com::ComPtr<CIopController> keep(c);
    c->Scan();
  }
}

}  // namespace kelm::iop
