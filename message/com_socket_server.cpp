#include "message/com_socket_server.h"

#include "platform/com/class_factory.h"
#include "platform/com/object.h"

namespace kelm {

using plat::FAILED;
using plat::HRESULT;
using plat::SUCCEEDED;
using plat::com::ComPtr;

// The sink the server advises on a client's object: writes each reply to that client's stream.
class ComSocketServer::Writer final : public plat::com::Object<IComSocketEvents> {
 public:
  explicit Writer(Client* client) : client_(client) {}
  void detach() { client_ = nullptr; }
  HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text) override;
  HRESULT Invoke(std::int32_t dispId, const std::vector<DispArg>& params, std::int32_t* result) override {
    return plat::E_NOTIMPL;  // the server fires SendReply directly
  }

 private:
  Client* client_;
};

struct ComSocketServer::Client {
  ComSocketServer* server = nullptr;
  std::uint64_t id = 0;
  std::unique_ptr<plat::TcpStream> stream;
  ComPtr<IComSocket> object;
  ComPtr<plat::com::IConnectionPoint> point;
  std::uint32_t cookie = 0;
  ComPtr<Writer> writer;
  // The client's last record was 4113: its session has ended. A later record opens a new one,
  // which the client's going must end again.
  bool closeSent = false;
  plat::Timer dropSoon;    // set once the client overflowed its output
};

HRESULT ComSocketServer::Writer::SendReply(std::int32_t code, std::int32_t serial, std::int32_t status,
                                           const std::string& text) {
  if (!client_ || !client_->stream || !client_->stream->isOpen()) return plat::com::RPC_E_DISCONNECTED;
  if (text.size() > kMaxTextBytes || !client_->stream->write(EncodeMessage(CMessage(code, serial, status, text)))) {
    // A client that does not read its replies loses its channel, never the server its memory.
    if (!client_->dropSoon.started()) {
      ComSocketServer* server = client_->server;
      std::uint64_t id = client_->id;
      client_->dropSoon = server->loop_.singleShot(std::chrono::milliseconds(0), [server, id] { server->drop(id); });
    }
    return plat::com::RPC_E_DISCONNECTED;
  }
  return plat::S_OK;
}

plat::Result<std::unique_ptr<ComSocketServer>> ComSocketServer::start(plat::EventLoop& loop, ObjectMaker maker,
                                                                      const std::string& socketName,
                                                                      std::optional<gid_t> group) {
  auto listener = plat::com::LocalListener::listen(loop, socketName, group);
  if (!listener) return listener.error();
  return std::unique_ptr<ComSocketServer>(new ComSocketServer(loop, std::move(maker), std::move(*listener)));
}

ComSocketServer::ComSocketServer(plat::EventLoop& loop, ObjectMaker maker,
                                 std::unique_ptr<plat::com::LocalListener> listener)
    : loop_(loop), maker_(std::move(maker)), listener_(std::move(listener)) {
  listener_->onAccept([this](std::unique_ptr<plat::TcpStream> s) { accept(std::move(s)); });
}

ComSocketServer::~ComSocketServer() {
  while (!clients_.empty()) drop(clients_.begin()->first);
}

void ComSocketServer::accept(std::unique_ptr<plat::TcpStream> stream) {
  if (clients_.size() >= kMaxClients) return;  // the stream closes as it goes
  ComPtr<plat::com::IUnknown> obj = maker_ ? maker_() : nullptr;
  auto object = obj.as<IComSocket>();
  auto container = obj.as<plat::com::IConnectionPointContainer>();
  if (!object || !container) return;
  auto c = std::make_unique<Client>();
  c->server = this;
  c->id = nextId_++;
  c->object = object;
  c->writer = plat::com::makeObject<Writer>(c.get());
  if (FAILED(container->FindConnectionPoint(IComSocketEvents::kIid, c->point.put())) ||
      FAILED(c->point->Advise(c->writer.get(), &c->cookie)))
    return;
  stream->setOutputLimit(kOutputLimit);
  const std::uint64_t id = c->id;
  // A few records per turn of the loop, and none read while the client leaves its replies.
  stream->setReadPauseOutput(kReadPauseOutput);
  stream->onRecords(RecordLength, [this, id](std::string_view record) { received(id, record); });
  stream->onClosed([this, id](const std::string&) { drop(id); });
  c->stream = std::move(stream);
  clients_.emplace(id, std::move(c));
}

void ComSocketServer::received(std::uint64_t id, std::string_view record) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  Client* c = it->second.get();
  CMessage m;
  if (DecodeMessage(record, m).status != DecodeStatus::kOk) {
    drop(id);  // a broken client loses its own channel only
    return;
  }
  c->closeSent = m.code == kReqComClose;
  ComPtr<IComSocket> object = c->object;  // the client may be dropped while its object works
  object->ProcessMessage(m.code, m.id, m.status, m.text);
}

void ComSocketServer::drop(std::uint64_t id) {
  auto it = clients_.find(id);
  if (it == clients_.end()) return;
  std::unique_ptr<Client> c = std::move(it->second);
  clients_.erase(it);
  c->writer->detach();
  if (c->point) c->point->Unadvise(c->cookie);
  // A client that vanished (or was cut off) without closing still ends its session on the server.
  if (!c->closeSent) c->object->ProcessMessage(kReqComClose, 0, 0, std::string());
  if (c->stream) c->stream->close();  // no callback follows; the stream goes with c
}

}  // namespace kelm
