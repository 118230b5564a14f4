#include "sim/serial/wire.h"

#include <algorithm>

#include "sim/serial/codes.h"

namespace sim::serial {

void Wire::reset() {
  in_.clear();
  out_.clear();
  commandMode_ = false;
}

void Wire::send(Bytes bytes, std::int64_t due) {
  Output o{due, std::move(bytes)};
  auto at =
      std::upper_bound(out_.begin(), out_.end(), o.due, [](std::int64_t d, const Output& x) { return d < x.due; });
  out_.insert(at, std::move(o));
}

void Wire::takeDue(std::int64_t realMs, Bytes& out) {
  while (!out_.empty() && out_.front().due <= realMs) {
    out.insert(out.end(), out_.front().bytes.begin(), out_.front().bytes.end());
    out_.pop_front();
  }
}

std::int64_t Wire::nextDue() const { return out_.empty() ? -1 : out_.front().due; }

void Wire::answerHandshake(std::int64_t realMs) {
  if (silence_ < 0) return;
  // A3 A3 A3: already in command mode; A3 A3 00: just woken, the host must give it time.
  std::uint8_t third = commandMode_ || alwaysWarm_ ? line::kAwake : 0x00;
  send({line::kAwake, line::kAwake, third}, realMs);
}

void Wire::receive(const std::uint8_t* data, std::size_t n, std::int64_t realMs, std::int64_t modelMs) {
  if (!in_.empty() && realMs - lastByteMs_ > kInterByteTimeoutMs) {
    dropped_ += in_.size();
    in_.clear();
  }
  if (n > 0) lastByteMs_ = realMs;
  in_.insert(in_.end(), data, data + n);
  for (;;) {
    if (in_.empty()) return;
    std::uint8_t first = in_[0];
    if (first == line::kWake) {
      in_.erase(in_.begin());
      answerHandshake(realMs);
      continue;
    }
    if (first == line::kCommands) {
      in_.erase(in_.begin());
      commandMode_ = true;
      continue;
    }
    if (!commandMode_ || first != line::kFrame) {
      // Outside command mode, or between frames: bytes that start nothing are dropped.
      in_.erase(in_.begin());
      ++dropped_;
      continue;
    }
    if (in_.size() < 2) return;
    if (in_[1] != line::kFrame) {
      in_.erase(in_.begin());
      ++dropped_;
      continue;
    }
    if (in_.size() < 8) return;
    std::size_t length = in_[4] | in_[5] << 8;
    if (length > kMaxRequestPayload) {
      in_.erase(in_.begin(), in_.begin() + 8);
      ++dropped_;
      continue;
    }
    if (in_.size() < 8 + length) return;
    serveFrame(realMs, modelMs);
  }
}

void Wire::serveFrame(std::int64_t realMs, std::int64_t modelMs) {
  std::uint16_t code = static_cast<std::uint16_t>(in_[2] | in_[3] << 8);
  std::size_t length = in_[4] | in_[5] << 8;
  std::size_t replyLength = in_[6] | in_[7] << 8;
  Bytes payload(in_.begin() + 8, in_.begin() + 8 + static_cast<long>(length));
  in_.erase(in_.begin(), in_.begin() + 8 + static_cast<long>(length));
  ++frames_;
  if (silence_ != 0) {
    if (silence_ > 0) --silence_;
    return;
  }
  auto reply = subsystem_.handle(code, payload, modelMs);
  if (!reply) return;
  reply->resize(replyLength, 0);
  if (badStatus_ && !reply->empty()) {
    (*reply)[0] = static_cast<std::uint8_t>(badStatus_);
    badStatus_ = 0;
  }
  std::uint16_t echo = wrongEcho_ ? static_cast<std::uint16_t>(code + 1) : code;
  wrongEcho_ = false;
  Bytes frame;
  for (int i = 0; i < garbage_; ++i) {
    garbageSeed_ = garbageSeed_ * 1103515245u + 12345u;
    frame.push_back(static_cast<std::uint8_t>(garbageSeed_ >> 16));
  }
  garbage_ = 0;
  frame.push_back(static_cast<std::uint8_t>(echo));
  frame.push_back(static_cast<std::uint8_t>(echo >> 8));
  frame.push_back(0);
  frame.push_back(0);
  frame.insert(frame.end(), reply->begin(), reply->end());
  send(std::move(frame), realMs + lateMs_);
  lateMs_ = 0;
}

std::string Wire::status() const {
  std::string s = std::string("line ") + (commandMode_ ? "in command mode" : "waiting for the handshake") +
                  "; frames " + std::to_string(frames_) + ", bytes dropped " + std::to_string(dropped_);
  if (silence_ < 0) s += "; silent";
  if (silence_ > 0) s += "; silent for " + std::to_string(silence_) + " frames";
  if (lateMs_) s += "; next reply " + std::to_string(lateMs_) + " ms late";
  if (wrongEcho_) s += "; next echo wrong";
  if (badStatus_) s += "; next status " + std::to_string(badStatus_);
  if (garbage_) s += "; " + std::to_string(garbage_) + " garbage bytes next";
  return s + "\n";
}

}  // namespace sim::serial
