#pragma once
// The four exports of an in-process server. A component defines them with KELM_EXPORT:
//   KELM_EXPORT plat::HRESULT DllGetClassObject(const plat::com::Guid* clsid, const plat::com::Guid* iid, void** out);
//   KELM_EXPORT plat::HRESULT DllCanUnloadNow();
//   KELM_EXPORT plat::HRESULT DllRegisterServer();
//   KELM_EXPORT plat::HRESULT DllUnregisterServer();
#include <atomic>

#include "platform/com/class_factory.h"

namespace plat::com {

inline constexpr const char* kDllGetClassObject = "DllGetClassObject";
inline constexpr const char* kDllCanUnloadNow = "DllCanUnloadNow";
inline constexpr const char* kDllRegisterServer = "DllRegisterServer";
inline constexpr const char* kDllUnregisterServer = "DllUnregisterServer";

// Counts what keeps a library loaded: live objects and server locks.
class ModuleCount {
 public:
  void objectUp() { ++objects_; }
  void objectDown() { --objects_; }
  void lock(bool on) { on ? ++locks_ : --locks_; }
  bool canUnload() const { return objects_.load() == 0 && locks_.load() == 0; }
  long objects() const { return objects_.load(); }

 private:
  std::atomic<long> objects_{0};
  std::atomic<long> locks_{0};
};

// A number for an object, unique in the process and never handed out again (never 0, at most
// INT32_MAX, so that it prints as a positive "%d").
std::uint32_t newObjectId();

}  // namespace plat::com
