#pragma once
// CRcvSocket: the accepting side of a message stream (the agent's TCP clients, the message
// server's consoles). Records are decoded incrementally and capped; keep-alives are answered
// here; a silent peer gets keep-alives every two minutes and is dropped after twelve; output is
// bounded, and a peer that stops reading is dropped.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "message/message.h"
#include "message/message_codec.h"
#include "platform/base/clock.h"
#include "platform/base/life_guard.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/posted_tasks.h"
#include "platform/loop/socket.h"

namespace kelm {

class CRcvSocket {
 public:
  static constexpr std::int64_t kIdleStepSeconds = 120;
  // At this many idle steps (720 seconds of silence) the link is closed.
  static constexpr std::int64_t kCloseSteps = 6;
  // Replies waiting for a peer that does not read; beyond that the peer is dropped.
  static constexpr std::size_t kDefaultOutputLimit = 1u << 20;
  // Replies waiting beyond this stop the reading of the peer's requests until they drain, so a
  // peer that sends and never reads holds up nobody else.
  static constexpr std::size_t kReadPauseOutput = 64u << 10;

  CRcvSocket(plat::EventLoop& loop, const plat::Clock& clock);
  virtual ~CRcvSocket();
  CRcvSocket(const CRcvSocket&) = delete;
  CRcvSocket& operator=(const CRcvSocket&) = delete;

  // Takes the accepted stream and starts reading (the archives are attached, the time stamped).
  void AttachArchives(std::unique_ptr<plat::TcpStream> stream);
  bool IsConnected() const { return stream_ && stream_->isOpen(); }

  // Without a link: true and nothing sent. A write the peer's backlog cannot take closes the
  // link (after the current callback) and gives false.
  bool SendMessage(const CMessage& m);
  // Replies sent while a batch is open leave together as it closes (TcpStream::holdOutput).
  // Batches nest; the socket must outlive its batches.
  class OutputBatch {
   public:
    explicit OutputBatch(CRcvSocket& socket);
    ~OutputBatch();
    OutputBatch(const OutputBatch&) = delete;
    OutputBatch& operator=(const OutputBatch&) = delete;

   private:
    plat::TcpStream* stream_;
  };
  // {code, id = now, status 4, text}.
  bool SendCode(std::int32_t code, const std::string& text);
  // With a link: sends {4104, 0, 4, ""} and closes.
  void SendDisconnect();
  // With a link: closes it. No callback follows.
  void Disconnect();
  // The keep-alive check, every second.
  void CheckIdle();

  // Seconds since the last data from the peer.
  std::int64_t IdleSeconds() const;
  const std::string& PeerHost() const;
  void SetOutputLimit(std::size_t bytes);
  // A peer that completes no record this many seconds after it was accepted is closed by the idle
  // check (0: never).
  void SetFirstRecordLimit(std::int64_t seconds) { firstRecordSeconds_ = seconds; }
  bool RecordSeen() const { return recordSeen_; }

 protected:
  // Every record other than keep-alives.
  virtual void OnMessage(CMessage& m) {}
  // The link went down (peer close, read or write failure, broken framing, 4104, idle close).
  virtual void OnDisconnected() {}

 private:
  void OnRecord(std::string_view bytes);
  void LinkLost();

  plat::EventLoop& loop_;
  const plat::Clock& clock_;
  std::unique_ptr<plat::TcpStream> stream_;
  std::int64_t lastTrafficMs_ = 0;
  std::int64_t idleSteps_ = 0;
  std::size_t outputLimit_ = kDefaultOutputLimit;
  std::int64_t firstRecordSeconds_ = 0;
  bool recordSeen_ = false;
  bool lossPosted_ = false;
  plat::PostedTasks posted_;
  plat::LifeGuard guard_;  // OnMessage may destroy this object
};

}  // namespace kelm
