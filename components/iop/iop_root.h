#pragma once
// The root of Vantrel's tree: finds up to two Palindrex controllers.
#include "components/framework/river_node.h"

namespace kelm::iop {

inline constexpr int kControllers = 2;
inline constexpr const char* kTypeFound = "VELKARI I2O RAID (QX6000 Compatible)";
inline constexpr const char* kTypeMissing = "Driver not found";

class CVantrelRoot final : public fw::CRiverNode {
 public:
  CVantrelRoot() : CRiverNode(fw::kSerialRoot, fw::kSerialRoot) {}
  void Build();
};

}  // namespace kelm::iop
