#pragma once
// Small node classes for the framework tests.
#include <string>
#include <vector>

#include "components/framework/river_node.h"

namespace kelm::fw::testing {

// A node with a property, a writable property, a method and a counter of UpdateAttribute calls.
class Leaf : public CRiverNode {
 public:
  explicit Leaf(int nodeType = kSerialDisk) : CRiverNode(kNodeBase, nodeType) {}
  void UpdateAttribute(CDrop& entry) override { ++updates; }
  int InvokeHandler(const std::string& name, const std::string& arg) override {
    calls.push_back(name + "(" + arg + ")");
    return -1;  // a failing method: invoke still answers S_OK
  }
  int UpdateValues() override {
    SetAttrInt("Status", kDropReadOnlyVolatile, status);
    SetAttr("Label", 0, "default");
    return 1;
  }
  int DeclareMethods() override { return AddMethod("Rebuild", 0x21); }

  int updates = 0;
  int status = 0;
  std::vector<std::string> calls;
};

// A container whose "device" is a list of present device ids.
class Bus : public CRiverContainer {
 public:
  CRiverNode* MakeChild(int deviceId, int, void*) override {
    if (CRiverNode* c = FindChildById(deviceId, kNodeBase)) return c;
    auto leaf = plat::com::makeObject<Leaf>();
    leaf->Init(this, "Disk" + std::to_string(deviceId), deviceId, 0, 0);
    if (!AddChild(leaf.get())) return nullptr;
    ++made;
    return leaf.get();
  }
  void ScanDevices(std::vector<CRiverNode*>& seen) override {
    for (int id : present)
      if (CRiverNode* c = MakeChild(id, 0, DeviceLink())) seen.push_back(c);
  }
  std::vector<int> present;
  int made = 0;
};

}  // namespace kelm::fw::testing
