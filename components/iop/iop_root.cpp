#include "components/iop/iop_root.h"

#include "components/framework/component_module.h"
#include "components/framework/version_info.h"
#include "components/iop/iop_controller.h"

namespace kelm::iop {

void CVantrelRoot::Build() {
  InitNode(nullptr, "vantrel", fw::kSerialRoot);
  bool first = false;
  for (int number = 0; number < kControllers; ++number) {
    auto controller = plat::com::makeObject<CIopController>();
    if (!controller->Start(this, number)) continue;
    if (AddChild(controller.get()) && number == 0) first = true;
  }
  fw::CVersionInfo version;
  if (auto self = fw::ThisModulePath(); self && version.Open(*self)) {
    if (auto text = version.String("FileVersion")) SetAttr("FileVersion", fw::kDropReadOnly, *text);
  }
  SetAttr("Type", fw::kDropReadOnly, first ? kTypeFound : kTypeMissing);
}

}  // namespace kelm::iop
