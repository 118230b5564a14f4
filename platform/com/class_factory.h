#pragma once
// Class objects and the four entry points of a library that serves classes in process.
#include <functional>

#include "platform/com/object.h"

namespace plat::com {

struct IClassFactory : IUnknown {
  static constexpr Guid kIid = guid("{00000001-0000-0000-C000-000000000046}");
  // outer must be null: no class here supports aggregation (CLASS_E_NOAGGREGATION).
  virtual HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) = 0;
  virtual HRESULT LockServer(bool lock) = 0;
};

// A class object that makes each instance with a function. lockServer counts the module's locks.
class ClassFactory final : public Object<IClassFactory> {
 public:
  using Maker = std::function<HRESULT(const Guid& iid, void** out)>;
  using Locker = std::function<void(bool lock)>;
  ClassFactory(Maker maker, Locker locker) : maker_(std::move(maker)), locker_(std::move(locker)) {}

  HRESULT CreateInstance(IUnknown* outer, const Guid& iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return maker_(iid, out);
  }
  HRESULT LockServer(bool lock) override {
    if (locker_) locker_(lock);
    return S_OK;
  }

 private:
  Maker maker_;
  Locker locker_;
};

// Creates a T and queries it for iid; the object goes again when nobody wanted it.
template <class T, class... Args>
HRESULT createAndQuery(const Guid& iid, void** out, Args&&... args) {
  ComPtr<T> obj = makeObject<T>(std::forward<Args>(args)...);
  if (!obj) return E_OUTOFMEMORY;
  return obj->QueryInterface(iid, out);
}

// Context flags of activation.
enum : std::uint32_t {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
};

// Results of activation beyond the common ones.
constexpr HRESULT CO_E_DLLNOTFOUND = hr(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = hr(0x800401F9);
constexpr HRESULT REGDB_E_KEYMISSING = hr(0x80040152);
constexpr HRESULT CO_E_NOTINITIALIZED = hr(0x800401F0);  // no event loop on the calling thread
constexpr HRESULT RPC_E_DISCONNECTED = hr(0x80010108);   // the local server's channel is gone

}  // namespace plat::com

// The entry points a component library exports (looked up by name with dlsym).
extern "C" {
using KelmDllGetClassObject = plat::HRESULT (*)(const plat::com::Guid* clsid, const plat::com::Guid* iid, void** out);
using KelmDllCanUnloadNow = plat::HRESULT (*)();
using KelmDllRegisterServer = plat::HRESULT (*)();
using KelmDllUnregisterServer = plat::HRESULT (*)();
}

// Marks a symbol of a component library as exported (components build with hidden visibility).
#define KELM_EXPORT extern "C" __attribute__((visibility("default")))
