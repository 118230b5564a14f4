#include "agent/service/rcv_socket.h"

static_assert(kelm::kBrokenRecord == plat::TcpStream::kBrokenFrame);

namespace kelm {

CRcvSocket::CRcvSocket(plat::EventLoop& loop, const plat::Clock& clock) : loop_(loop), clock_(clock) {}

CRcvSocket::~CRcvSocket() {
  if (stream_) stream_->close();
}

void CRcvSocket::AttachArchives(std::unique_ptr<plat::TcpStream> stream) {
  stream_ = std::move(stream);
  lastTrafficMs_ = clock_.monotonicMs();
  idleSteps_ = 0;
  if (!stream_) return;
  stream_->setOutputLimit(outputLimit_);
  stream_->setReadPauseOutput(kReadPauseOutput);
  // Records are handed over a few at a time per turn of the loop, so one flooding peer cannot
  // keep the others waiting.
  stream_->onRecords(RecordLength, [this](std::string_view record) { OnRecord(record); });
  stream_->onClosed([this](const std::string&) { LinkLost(); });
}

void CRcvSocket::SetOutputLimit(std::size_t bytes) {
  outputLimit_ = bytes;
  if (stream_) stream_->setOutputLimit(bytes);
}

const std::string& CRcvSocket::PeerHost() const {
  static const std::string kNone;
  return stream_ ? stream_->peerHost() : kNone;
}

std::int64_t CRcvSocket::IdleSeconds() const { return (clock_.monotonicMs() - lastTrafficMs_) / 1000; }

void CRcvSocket::LinkLost() {
  if (stream_) stream_->close();
  OnDisconnected();
}

void CRcvSocket::OnRecord(std::string_view bytes) {
  lastTrafficMs_ = clock_.monotonicMs();
  idleSteps_ = 0;
  recordSeen_ = true;
  CMessage m;
  if (DecodeMessage(bytes, m).status != DecodeStatus::kOk) {
    // The peer's framing is lost: nothing after this can be read.
    LinkLost();
    return;
  }
  if (m.code == kReqKeepAlive) {
    if (m.status != kStatusFinal) {
      m.status = kStatusFinal;
      SendMessage(m);
    }
    return;
  }
  plat::LifeGuard::Scope alive(guard_);
  const bool close = (m.code == kReqClose);
  OnMessage(m);
  if (!alive) return;
  if (close) {
    Disconnect();
    OnDisconnected();
  }
}

bool CRcvSocket::SendMessage(const CMessage& m) {
  if (!IsConnected()) return true;
  if (m.text.size() <= kMaxTextBytes && stream_->write(EncodeMessage(m)).ok()) return true;
  // The peer does not read: it loses the link once the current callback has returned.
  if (!lossPosted_) {
    lossPosted_ = true;
    posted_.post(loop_, [this] {
      lossPosted_ = false;
      if (!IsConnected()) return;
      Disconnect();
      OnDisconnected();
    });
  }
  return false;
}

CRcvSocket::OutputBatch::OutputBatch(CRcvSocket& socket) : stream_(socket.stream_.get()) {
  if (stream_) stream_->holdOutput();
}

CRcvSocket::OutputBatch::~OutputBatch() {
  if (stream_) stream_->releaseOutput();
}

bool CRcvSocket::SendCode(std::int32_t code, const std::string& text) {
  return SendMessage(CMessage(code, static_cast<std::int32_t>(clock_.wallSeconds()), kStatusNotify, text));
}

void CRcvSocket::SendDisconnect() {
  if (!IsConnected()) return;
  SendMessage(CMessage(kReqClose, 0, kStatusNotify, std::string()));
  Disconnect();
}

void CRcvSocket::Disconnect() {
  if (stream_) stream_->close();
}

void CRcvSocket::CheckIdle() {
  if (!IsConnected()) return;
  const std::int64_t idle = IdleSeconds();
  if (!recordSeen_ && firstRecordSeconds_ > 0 && idle >= firstRecordSeconds_) {
    Disconnect();
    OnDisconnected();
    return;
  }
  if (idle < kIdleStepSeconds + 1) return;
  const std::int64_t steps = idle / kIdleStepSeconds;
  if (steps <= idleSteps_) return;
  idleSteps_ = steps;
  if (steps < kCloseSteps) {
    SendMessage(CMessage(kReqKeepAlive, static_cast<std::int32_t>(clock_.wallSeconds()), kStatusNotify,
                         std::string(kKeepAliveText)));
    return;
  }
  SendDisconnect();
  OnDisconnected();
}

}  // namespace kelm
