#pragma once
// Removes a node's child entries that a predicate picks, releasing each child.
#include "components/framework/river_node.h"

namespace kelm::brask {

// `unwanted(entry)` is asked for child entries only. True when any was removed.
template <class Pred>
bool RemoveChildren(fw::CRiverNode& node, Pred unwanted) {
  bool removed = false;
  for (std::size_t i = 0; i < node.Entries().size();) {
    const fw::CDrop& d = *node.Entries()[i];
    if (d.IsChild() && unwanted(d)) {
      node.RemoveEntry(&d);
      removed = true;
      continue;
    }
    ++i;
  }
  return removed;
}

}  // namespace kelm::brask
