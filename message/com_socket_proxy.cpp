// The client end of the ComSocket channel.
#include "message/com_socket.h"
#include "message/message_codec.h"
#include "platform/com/activation.h"
#include "platform/com/object.h"
#include "platform/loop/socket.h"

namespace kelm {

namespace {

using plat::HRESULT;
using plat::com::ComPtr;

class ComSocketProxy final : public plat::com::Object<IComSocket, plat::com::IConnectionPointContainer> {
 public:
  // The stream is this object's own and its callbacks reach only this object: it is the last
  // member, so it goes (with its watch and its callbacks) before anything they could touch, and
  // nothing that arrives later can call into the object. While a callback runs, the object holds a
  // reference to itself, so a sink that releases the last one does not pull it away mid-read.
  explicit ComSocketProxy(std::unique_ptr<plat::TcpStream> stream) : stream_(std::move(stream)) {
    stream_->onData([this](std::string_view bytes) { received(bytes); });
    stream_->onClosed([this](const std::string&) { lost(); });
  }

  HRESULT ProcessMessage(std::int32_t code, std::int32_t serial, std::int32_t status,
                         const std::string& text) override {
    if (disconnected_ || !stream_->isOpen()) return plat::com::RPC_E_DISCONNECTED;
    if (text.size() > kMaxTextBytes) return plat::E_INVALIDARG;  // the agent would drop the channel
    if (!stream_->write(EncodeMessage(CMessage(code, serial, status, text)))) return plat::com::RPC_E_DISCONNECTED;
    return plat::S_OK;
  }

  HRESULT FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) override {
    if (!out) return plat::E_POINTER;
    *out = nullptr;
    if (iid != IComSocketEvents::kIid) return plat::CONNECT_E_NOCONNECTION;
    events_.AddRef();
    *out = &events_;
    return plat::S_OK;
  }

  ~ComSocketProxy() override {
    stream_->close();  // what was written last still goes out; no callback follows a close
    events_.clear();
  }

 private:
  void received(std::string_view bytes) {
    ComPtr<ComSocketProxy> keep(this);  // a sink may release the last reference to us
    decoder_.Feed(bytes);
    CMessage m;
    DecodeStatus st;
    while ((st = decoder_.Next(m)) == DecodeStatus::kOk) {
      events_.fire([&](IComSocketEvents& sink) { sink.SendReply(m.code, m.id, m.status, m.text); });
      // Nobody but this read holds the object any more: it is done with, and hands on nothing
      // else; it goes as the read ends.
      if (disconnected_ || refCount() == 1) return;
    }
    if (st == DecodeStatus::kInvalid) {
      // The agent's framing is lost; nothing more from this channel can be trusted.
      stream_->close();
      lost();
    }
  }

  // The agent's end is gone (its process ended, or its framing was lost): the sinks hear it at once,
  // as the close record a peer sends when it leaves, instead of waiting for their requests to time out.
  void lost() {
    if (disconnected_) return;
    disconnected_ = true;
    ComPtr<ComSocketProxy> keep(this);
    events_.fire([](IComSocketEvents& sink) { sink.SendReply(kReqClose, 0, kStatusRequest, std::string()); });
  }

  MessageDecoder decoder_;
  bool disconnected_ = false;
  plat::com::ConnectionPoint<IComSocketEvents> events_{static_cast<IComSocket&>(*this)};
  std::unique_ptr<plat::TcpStream> stream_;  // last: goes first, with its callbacks
};

}  // namespace

void RegisterComSocketProxy() {
  plat::com::registerLocalProxy(kClsidComSocket, [](plat::UniqueFd fd, const plat::com::Guid& iid,
                                                     void** out) -> HRESULT {
    plat::EventLoop* loop = plat::EventLoop::current();
    if (!loop) return plat::com::CO_E_NOTINITIALIZED;
    auto stream = plat::TcpStream::adopt(*loop, std::move(fd));
    if (!stream) return plat::E_FAIL;
    auto proxy = plat::com::makeObject<ComSocketProxy>(std::move(*stream));
    return proxy->QueryInterface(iid, out);
  });
}

}  // namespace kelm
