#pragma once
// Walking a Tirrow tree in tests: child paths, values, child names and a notification counter.
#include <atomic>
#include <string>
#include <vector>

#include "components/framework/river_node.h"

namespace tirrow::testing {

struct Counter final : plat::com::Object<kelm::fw::IRAIDEvent> {
  plat::HRESULT RAIDNotification(std::uint32_t code) override {
    if (code == kelm::fw::kNotifyChanged) ++fired;
    return plat::S_OK;
  }
  std::atomic<int> fired{0};
};

// A sink counting the node's change notifications.
inline plat::com::ComPtr<Counter> Advise(kelm::fw::CRiverNode* n) {
  auto sink = plat::com::makeObject<Counter>();
  plat::com::ComPtr<plat::com::IConnectionPoint> cp;
  if (n->FindConnectionPoint(kelm::fw::IRAIDEvent::kIid, cp.put()) == plat::S_OK) {
    std::uint32_t cookie = 0;
    cp->Advise(sink.get(), &cookie);
  }
  return sink;
}

// The node at "child/child/...", or null.
inline kelm::fw::CRiverNode* Cd(kelm::fw::CRiverNode* n, const std::string& path) {
  std::size_t start = 0;
  while (n && start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    n = n->ChildByName(path.substr(start, end - start));
    start = end + 1;
  }
  return n;
}

// An entry's value through IRiver::get; "<none>" when the node or the entry is missing.
inline std::string Get(kelm::fw::CRiverNode* n, const std::string& name) {
  std::string v = "<none>";
  if (n) n->get(name, &v);
  return v;
}

inline std::vector<std::string> Children(kelm::fw::CRiverNode* n) {
  std::vector<std::string> names;
  for (const auto& e : n->Entries()) {
    if (e->IsChild()) names.push_back(e->name);
  }
  return names;
}

}  // namespace tirrow::testing
