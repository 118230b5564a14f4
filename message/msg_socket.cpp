#include "message/msg_socket.h"

#include "message/message_api.h"

namespace kelm {

CMsgSocket::CMsgSocket(CMessageApi& owner, plat::EventLoop& loop, const plat::Clock& clock)
    : owner_(owner), loop_(loop), clock_(clock), lastReceiveMs_(clock.monotonicMs()) {}

plat::Result<void> CMsgSocket::Connect(const std::string& host, std::uint16_t port,
                                       std::chrono::milliseconds timeout) {
  auto stream = plat::TcpStream::connect(loop_, host, port, timeout);
  if (!stream) return stream.error();
  stream_ = std::move(*stream);
  Wire();
  return plat::success();
}

void CMsgSocket::Wire() {
  stream_->onData([this](std::string_view bytes) { OnReceive(bytes); });
  // The peer's close or a read, write or connect failure.
  stream_->onClosed([this](const std::string&) { Disconnect(); });
}

void CMsgSocket::AttachArchives() {
  if (stream_ && stream_->isOpen()) outputAttached_ = true;
}

bool CMsgSocket::SendMessage(const CMessage& m) {
  if (!outputAttached_) return true;
  output_.clear();
  if (!AppendMessage(output_, m)) return false;  // refused before it could cost the link
  if (stream_->write(output_)) return true;
  Disconnect();
  return false;
}

void CMsgSocket::OnReceive(std::string_view bytes) {
  lastReceiveMs_ = clock_.monotonicMs();
  idleSteps_ = 0;
  input_.Feed(bytes);
  owner_.ReadMessages();
}

void CMsgSocket::Disconnect() {
  if (!outputAttached_) return;
  outputAttached_ = false;
  if (stream_) stream_->close();
  owner_.OnClose();
}

void CMsgSocket::CheckIdle() {
  if (!outputAttached_) return;
  const std::int64_t silence = (clock_.monotonicMs() - lastReceiveMs_) / 1000;
  if (silence <= kIdleStepSeconds) return;
  const std::int64_t step = silence / kIdleStepSeconds;
  if (step <= idleSteps_) return;
  idleSteps_ = static_cast<std::int32_t>(std::min<std::int64_t>(step, 1000));
  if (step > kMaxIdleSteps) {
    Disconnect();
    return;
  }
  // The identifier is the wall-clock time, as the peer expects; only the silence is monotonic.
  SendMessage(CMessage(kReqKeepAlive, static_cast<std::int32_t>(clock_.wallSeconds()), kStatusNotify,
                       std::string(kKeepAliveText)));
}

}  // namespace kelm
