#include "platform/com/connection_point.h"

#include <algorithm>

namespace plat::com {

HRESULT ConnectionPointBase::QueryInterface(const Guid& iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IUnknown::kIid && iid != IConnectionPoint::kIid) return E_NOINTERFACE;
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT ConnectionPointBase::GetConnectionInterface(Guid* iid) {
  if (!iid) return E_POINTER;
  *iid = eventIid_;
  return S_OK;
}

HRESULT ConnectionPointBase::Advise(IUnknown* sink, std::uint32_t* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!sink) return E_POINTER;
  void* itf = nullptr;
  if (FAILED(sink->QueryInterface(eventIid_, &itf)) || !itf) return CONNECT_E_CANNOTCONNECT;
  // Cookies are never reused, so a stale cookie cannot take back somebody else's sink.
  std::uint32_t c = nextCookie_++;
  if (nextCookie_ == 0) nextCookie_ = 1;
  sinks_.push_back({c, ComPtr<IUnknown>::adopt(static_cast<IUnknown*>(itf))});
  *cookie = c;
  return S_OK;
}

HRESULT ConnectionPointBase::Unadvise(std::uint32_t cookie) {
  auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.cookie == cookie; });
  if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
  ComPtr<IUnknown> keep = std::move(it->itf);  // released after the list is consistent again
  sinks_.erase(it);
  return S_OK;
}

}  // namespace plat::com
