#pragma once
// A reference-counted implementation of one or more interfaces.
#include <atomic>

#include "platform/com/unknown.h"

namespace plat::com {

// Implements IUnknown for the listed interfaces. A class that offers more interfaces than it
// inherits here overrides queryMore(); a class that inherits further interfaces forwards the three
// IUnknown operations with KELM_COM_FORWARD_UNKNOWN.
template <class First, class... Rest>
class Object : public First, public Rest... {
 public:
  HRESULT QueryInterface(const Guid& iid, void** out) override { return queryImpl(iid, out); }
  std::uint32_t AddRef() override { return ++refs_; }
  std::uint32_t Release() override {
    std::uint32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }

 protected:
  Object() = default;
  ~Object() override = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT queryImpl(const Guid& iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    void* found = nullptr;
    if (iid == IUnknown::kIid) {
      found = static_cast<IUnknown*>(static_cast<First*>(this));
    } else {
      found = (iid == First::kIid) ? static_cast<void*>(static_cast<First*>(this)) : nullptr;
      ((found = found ? found : (iid == Rest::kIid ? static_cast<void*>(static_cast<Rest*>(this)) : nullptr)), ...);
      if (!found) found = queryMore(iid);
    }
    if (!found) return E_NOINTERFACE;
    *out = found;
    AddRef();
    return S_OK;
  }
  // Further interfaces of a derived class: the interface pointer (no reference taken), or null.
  virtual void* queryMore(const Guid&) { return nullptr; }
  std::uint32_t refCount() const { return refs_; }

 private:
  std::atomic<std::uint32_t> refs_{0};
};

}  // namespace plat::com

// In a class that derives from Object<...> and from further interfaces.
#define KELM_COM_FORWARD_UNKNOWN(Base)                                                \
  ::plat::HRESULT QueryInterface(const ::plat::com::Guid& iid, void** out) override { \
    return Base::QueryInterface(iid, out);                                            \
  }                                                                                   \
  std::uint32_t AddRef() override { return Base::AddRef(); }                          \
  std::uint32_t Release() override { return Base::Release(); }
