#pragma once
// Reading a component's tree in tests: nodes by path, values, child names, and a sink that counts
// the notifications fired on a node, and the event records a controller has waiting.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/framework/component_types.h"
#include "components/framework/interfaces.h"
#include "components/framework/river_node.h"
#include "platform/com/object.h"

namespace kelm::fw::testing {

class Notifications final : public plat::com::Object<IRAIDEvent> {
 public:
  plat::HRESULT RAIDNotification(std::uint32_t code) override {
    codes.push_back(code);
    return plat::S_OK;
  }
  std::vector<std::uint32_t> codes;
};

// The node at "a/b/c" below `node`; null when a step is missing.
inline CRiverNode* ChildAt(CRiverNode* node, const std::string& path) {
  std::size_t start = 0;
  while (node && start <= path.size()) {
    std::size_t slash = path.find('/', start);
    node = node->ChildByName(path.substr(start, slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return node;
}

inline std::string ValueOf(CRiverNode* node, const std::string& name) { return node->GetAttr(name, "<none>"); }

inline std::vector<std::string> ChildNames(CRiverNode* node) {
  std::vector<std::string> names;
  for (const auto& d : node->Entries())
    if (d->IsChild()) names.push_back(d->name);
  return names;
}

// A sink advised on the node for the rest of the node's life.
inline plat::com::ComPtr<Notifications> Watch(CRiverNode* node) {
  auto sink = plat::com::makeObject<Notifications>();
  plat::com::IConnectionPoint* cp = nullptr;
  EXPECT_EQ(node->FindConnectionPoint(IRAIDEvent::kIid, &cp), plat::S_OK);
  if (!cp) return sink;
  std::uint32_t cookie = 0;
  cp->Advise(static_cast<IRAIDEvent*>(sink.get()), &cookie);
  cp->Release();
  return sink;
}

// Every record the log has waiting, decoded.
inline std::vector<EventRecord> Drain(IEventLog& log) {
  std::vector<EventRecord> out;
  std::uint32_t n = 0;
  log.GetNewCount(&n);
  for (std::uint32_t i = 0; i < n; ++i) {
    std::string rec;
    log.ReadEventLog(&rec, nullptr);
    if (auto r = EventRecord::parse(rec)) out.push_back(*r);
  }
  return out;
}

}  // namespace kelm::fw::testing
