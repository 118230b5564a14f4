#include "components/serial/poll_registry.h"

#include <chrono>

#include "components/framework/node_list.h"
#include "components/framework/river_node.h"
#include "components/serial/brask_root.h"
#include "components/serial/serial_array.h"
#include "components/serial/serial_controller.h"

namespace kelm::brask {

using fw::Contains;

PollRegistry& PollRegistry::Get() {
  static PollRegistry registry;
  return registry;
}

PollRegistry::~PollRegistry() {
  // Roots still alive when the process ends: their loop may be gone already, so the timer is
  // abandoned rather than stopped on it.
  timer_.Abandon();
}

void PollRegistry::AddRoot(CBraskRoot* root) {
  if (roots_.empty()) tick_ = 0;  // the first root is polled on the first tick
  roots_.push_back(root);
  // A thread without a loop starts nothing: whoever owns the nodes calls Tick itself.
  if (!timer_.Running()) timer_.Start(std::chrono::milliseconds(1000), [this] { Tick(); });
}

void PollRegistry::RemoveRoot(CBraskRoot* root) {
  fw::EraseFrom(roots_, root);
  if (!roots_.empty()) return;
  timer_.Stop();  // safe from the timer's own callback
}

void PollRegistry::RemoveController(CSerialController* c) { fw::EraseFrom(controllers_, c); }

void PollRegistry::RemoveArray(CSerialArray* a) { fw::EraseFrom(arrays_, a); }

bool PollRegistry::HasRoot(const void* node) const {
  return std::any_of(roots_.begin(), roots_.end(), [&](const CBraskRoot* r) {
    return static_cast<const void*>(static_cast<const fw::CRiverNode*>(r)) == node;
  });
}

template <class Node>
bool PollRegistry::Attached(Node* node) const {
  const fw::CRiverNode* n = node;
  for (int depth = 0; n && depth < 16; ++depth) {
    if (!n->Parent()) return HasRoot(n);
    n = n->Parent();
  }
  return false;
}

void PollRegistry::Tick() {
  const std::uint64_t tick = tick_++;
  if (roots_.empty()) return;
  // Polls may drop nodes (a root that loses its link drops its controllers), so each list is
  // walked from a copy and every node is checked to be still listed, and held, before its poll.
  const auto roots = roots_;
  for (std::size_t k = 0; k < roots.size(); ++k) {
    if ((tick + k) % kPollEvery != 0 || !Contains(roots_, roots[k])) continue;
    plat::com::ComPtr<CBraskRoot> keep(roots[k]);
    roots[k]->Poll();
  }
  if (tick % kPollEvery != 0) return;
  const auto controllers = controllers_;
  for (CSerialController* c : controllers) {
    if (!Contains(controllers_, c) || !Attached(c)) continue;
    plat::com::ComPtr<CSerialController> keep(c);
    c->Poll();
  }
  const auto arrays = arrays_;
  for (CSerialArray* a : arrays) {
    if (!Contains(arrays_, a) || !Attached(a)) continue;
    plat::com::ComPtr<CSerialArray> keep(a);
    a->Poll();
  }
}

}  // namespace kelm::brask
