#include "agent/core/com_socket_object.h"

#include "agent/core/halvorn_doc.h"
#include "agent/core/svr_socket.h"

namespace kelm::agent {

using plat::FAILED;
using plat::SUCCEEDED;

CComSocketObject::~CComSocketObject() { DropConnection(); }

void CComSocketObject::DropConnection() {
  if (CSvrSocketCom* c = std::exchange(connection_, nullptr)) c->Release();
}

plat::HRESULT CComSocketObject::ProcessMessage(std::int32_t code, std::int32_t serial, std::int32_t status,
                                               const std::string& text) {
  if (code == kReqComClose) {
    if (CSvrSocketCom* c = std::exchange(connection_, nullptr)) {
      doc_.RemoveConnection(c);
      c->Release();
    }
    return plat::S_OK;
  }
  // The client's first record makes its connection; a later 4112 keeps it (each client has
  // its own object, so nobody else's connection can be replaced here).
  if (!connection_) connection_ = doc_.AddComConnection(this);
  doc_.QueueLocal(this, CMessage(code, serial, status, text));
  return plat::S_OK;
}

plat::HRESULT CComSocketObject::FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) {
  if (!out) return plat::E_POINTER;
  *out = nullptr;
  if (iid != IComSocketEvents::kIid) return plat::CONNECT_E_NOCONNECTION;
  point_.AddRef();
  *out = &point_;
  return plat::S_OK;
}

bool CComSocketObject::Fire(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text) {
  if (point_.sinkCount() == 0) return false;
  plat::com::ComPtr<CComSocketObject> hold(this);
  point_.fire([&](IComSocketEvents& e) { e.SendReply(code, serial, status, text); });
  return true;
}

}  // namespace kelm::agent
