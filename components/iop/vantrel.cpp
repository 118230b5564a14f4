// libvantrel.so: the intelligent-I/O family component's four exports.
#include "components/framework/component_module.h"
#include "components/iop/iop_root.h"
#include "platform/com/inproc_server.h"

using namespace kelm;

KELM_EXPORT plat::HRESULT DllGetClassObject(const plat::com::Guid* clsid, const plat::com::Guid* iid, void** out) {
  return fw::GetClassObject(fw::kVantrel, clsid, iid, out, [](const fw::Guid& want, void** obj) {
    auto root = plat::com::makeObject<iop::CVantrelRoot>();
    root->Build();
    return root->QueryInterface(want, obj);
  });
}

KELM_EXPORT plat::HRESULT DllCanUnloadNow() { return fw::CanUnloadNow(); }

KELM_EXPORT plat::HRESULT DllRegisterServer() {
  return fw::RegisterComponent(fw::kVantrel, fw::ThisModulePath().valueOr({}));
}

KELM_EXPORT plat::HRESULT DllUnregisterServer() { return fw::UnregisterComponent(fw::kVantrel); }
