#pragma once
// The agent's ComSocket object for one local client: ProcessMessage does no request work; it
// makes the client's connection on the first record, removes it on 4113, and queues every other
// record for the document's drain, a task posted to the worker's loop.
#include <cstdint>
#include <string>

#include "message/com_socket.h"
#include "platform/com/connection_point.h"
#include "platform/com/object.h"

namespace kelm::agent {

class CHalvornDoc;
class CSvrSocketCom;

class CComSocketObject final : public plat::com::Object<IComSocket, plat::com::IConnectionPointContainer> {
 public:
  static constexpr plat::com::Guid kIid = plat::com::guid("{6B1C3A70-2E51-4F0B-9A51-7C1F2A3D4E60}");

  explicit CComSocketObject(CHalvornDoc& doc) : doc_(doc), point_(*static_cast<IComSocket*>(this)) {}
  ~CComSocketObject() override;

  plat::HRESULT ProcessMessage(std::int32_t code, std::int32_t serial, std::int32_t status,
                               const std::string& text) override;
  plat::HRESULT FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) override;

  // Fires SendReply to every advised sink; false without a sink.
  bool Fire(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text);
  CSvrSocketCom* Connection() const { return connection_; }
  // The document is going: the connection is no longer ours to hold.
  void DropConnection();

 protected:
  void* queryMore(const plat::com::Guid& iid) override { return iid == kIid ? this : nullptr; }

 private:
  CHalvornDoc& doc_;
  plat::com::ConnectionPoint<IComSocketEvents> point_;
  CSvrSocketCom* connection_ = nullptr;  // one reference held
};

}  // namespace kelm::agent
