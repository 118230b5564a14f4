#pragma once
// The object model's root interface and the intrusive pointer that counts it.
#include <cstdint>
#include <utility>

#include "platform/base/hresult.h"
#include "platform/com/guid.h"

namespace plat::com {

// Every interface derives from IUnknown and carries its identifier as `kIid`.
struct IUnknown {
  static constexpr Guid kIid = guid("{00000000-0000-0000-C000-000000000046}");
  // On success *out holds one reference for the caller; on failure it is null.
  virtual HRESULT QueryInterface(const Guid& iid, void** out) = 0;
  virtual std::uint32_t AddRef() = 0;
  virtual std::uint32_t Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Owns one reference to an interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference on p.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  ComPtr(const ComPtr<U>& o) : ComPtr(static_cast<T*>(o.get())) {}
  ~ComPtr() { reset(); }

  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  // Adopts a reference the caller already owns (as handed out by QueryInterface or a factory).
  static ComPtr adopt(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* detach() { return std::exchange(p_, nullptr); }
  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Releases what is held and gives the slot for an out parameter.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

  // QueryInterface for another interface; null when the object does not offer it.
  template <class U>
  ComPtr<U> as() const {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(U::kIid, r.putVoid());
    return r;
  }

 private:
  T* p_ = nullptr;
};

// Creates an object with one reference held by the returned pointer.
template <class T, class... Args>
ComPtr<T> makeObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

}  // namespace plat::com
