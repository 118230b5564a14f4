#pragma once
// CMsgSocket: carries records between a CMessageApi and its peer over one TCP stream, on the
// owner's event loop. Reading is incremental (a partial record waits in the input buffer), each
// record is written at once through the stream's bounded output buffer, and a silent link gets
// keep-alives every two minutes and is dropped after twelve, measured on the monotonic clock.
//
// The stream is owned here and calls back only into this object; it goes first when the object
// does, so nothing can call in afterwards. The owner may destroy this object from inside any call
// that reaches it (a record handed over, the close): no member is touched after the call to the
// owner returns.
#include <cstdint>
#include <memory>
#include <string>

#include "message/message.h"
#include "message/message_codec.h"
#include "platform/base/clock.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/socket.h"

namespace kelm {

class CMessageApi;

class CMsgSocket {
 public:
  // Seconds of silence per keep-alive step, and the step after which the link is dropped.
  static constexpr std::int64_t kIdleStepSeconds = 120;
  static constexpr std::int32_t kMaxIdleSteps = 5;

  CMsgSocket(CMessageApi& owner, plat::EventLoop& loop, const plat::Clock& clock);
  CMsgSocket(const CMsgSocket&) = delete;
  CMsgSocket& operator=(const CMsgSocket&) = delete;

  // Starts connecting; the reason when it cannot start. A later failure disconnects.
  plat::Result<void> Connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout);
  // From here on the link counts as up; records written before the connect completes wait.
  void AttachArchives();
  bool HasOutputArchive() const { return outputAttached_; }

  // Without a link: true, nothing sent. A write failure disconnects and gives false; a text over
  // the record limit gives false and leaves the link as it is.
  bool SendMessage(const CMessage& m);
  // The next complete record that has arrived.
  DecodeStatus NextRecord(CMessage& out) { return input_.Next(out); }
  const std::string& readError() const { return input_.error(); }
  // Only with the link up: shuts the stream down, and tells the owner (OnClose).
  void Disconnect();
  // The keep-alive check, from the owner's one-second tick.
  void CheckIdle();

  std::int32_t idleSteps() const { return idleSteps_; }
  std::size_t pendingOutput() const { return stream_ ? stream_->pendingOutput() : 0; }

 private:
  void OnReceive(std::string_view bytes);
  void Wire();

  CMessageApi& owner_;
  plat::EventLoop& loop_;
  const plat::Clock& clock_;
  MessageDecoder input_;
  std::string output_;
  bool outputAttached_ = false;
  std::int64_t lastReceiveMs_;
  std::int32_t idleSteps_ = 0;
  // Declared last, so it goes first: its callbacks reach the members above, and they go with it.
  std::unique_ptr<plat::TcpStream> stream_;
};

}  // namespace kelm
