#pragma once
// Outgoing interfaces: a container hands out one connection point per event interface; sinks are
// advised with a cookie and taken back with it.
#include <cstdint>
#include <vector>

#include "platform/com/unknown.h"

namespace plat::com {

struct IConnectionPoint : IUnknown {
  static constexpr Guid kIid = guid("{B196B286-BAB4-101A-B69C-00AA00341D07}");
  virtual HRESULT GetConnectionInterface(Guid* iid) = 0;
  // The sink must offer the event interface (CONNECT_E_CANNOTCONNECT otherwise); *cookie is never 0.
  virtual HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) = 0;
  // CONNECT_E_NOCONNECTION for a cookie that is not advised.
  virtual HRESULT Unadvise(std::uint32_t cookie) = 0;
};

struct IConnectionPointContainer : IUnknown {
  static constexpr Guid kIid = guid("{B196B284-BAB4-101A-B69C-00AA00341D07}");
  // CONNECT_E_NOCONNECTION when the object has no connection point for iid.
  virtual HRESULT FindConnectionPoint(const Guid& iid, IConnectionPoint** out) = 0;
};

// A connection point embedded in its container: its reference count is the container's, so it
// lives exactly as long as the object that fires through it.
class ConnectionPointBase : public IConnectionPoint {
 public:
  ConnectionPointBase(IUnknown& owner, const Guid& eventIid) : owner_(owner), eventIid_(eventIid) {}
  ~ConnectionPointBase() override = default;
  ConnectionPointBase(const ConnectionPointBase&) = delete;
  ConnectionPointBase& operator=(const ConnectionPointBase&) = delete;

  HRESULT QueryInterface(const Guid& iid, void** out) override;
  std::uint32_t AddRef() override { return owner_.AddRef(); }
  std::uint32_t Release() override { return owner_.Release(); }
  HRESULT GetConnectionInterface(Guid* iid) override;
  HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) override;
  HRESULT Unadvise(std::uint32_t cookie) override;

  const Guid& eventIid() const { return eventIid_; }
  std::size_t sinkCount() const { return sinks_.size(); }
  // Drops every sink (the owner is going away).
  void clear() { sinks_.clear(); }

 protected:
  struct Sink {
    std::uint32_t cookie;
    ComPtr<IUnknown> itf;  // the sink's event interface, held as queried
  };
  // The sinks as they are now, in advise order; firing walks this copy, so a sink may advise or
  // unadvise (itself or others) while it is being called.
  std::vector<Sink> snapshot() const { return sinks_; }

 private:
  IUnknown& owner_;
  Guid eventIid_;
  std::vector<Sink> sinks_;
  std::uint32_t nextCookie_ = 1;
};

// A connection point for the event interface E.
template <class E>
class ConnectionPoint final : public ConnectionPointBase {
 public:
  explicit ConnectionPoint(IUnknown& owner) : ConnectionPointBase(owner, E::kIid) {}

  // Calls f(E&) on every sink advised when the call starts, in advise order.
  template <class F>
  void fire(F&& f) const {
    for (const Sink& s : snapshot()) f(*static_cast<E*>(s.itf.get()));
  }
};

}  // namespace plat::com
