#pragma once
// The subsystem's side of the serial line: the handshake, the request frames, and the faults that
// spoil the next replies (silence, a late reply, a wrong echo, a non-zero status, garbage bytes).
#include <cstdint>
#include <deque>
#include <string>

#include "sim/serial/subsystem.h"

namespace sim::serial {

class Wire {
 public:
  static constexpr std::size_t kMaxRequestPayload = 1024;
  // A host writes a frame in one go: a frame whose bytes stop arriving for this long is dropped,
  // so that the line listens for the handshake again.
  static constexpr std::int64_t kInterByteTimeoutMs = 100;

  explicit Wire(Subsystem& subsystem) : subsystem_(subsystem) {}

  // Bytes from the host at real time `realMs` and model time `modelMs`.
  void receive(const std::uint8_t* data, std::size_t n, std::int64_t realMs, std::int64_t modelMs);
  // Moves the output that is due at `realMs` to `out`.
  void takeDue(std::int64_t realMs, Bytes& out);
  // Real time of the next output not yet due, or -1.
  std::int64_t nextDue() const;
  // A cable pulled: the line forgets everything, the subsystem leaves its command mode.
  void reset();

  // Faults.
  void silence(int frames) { silence_ = frames; }  // -1: everything, handshake included, until 0
  void late(int ms) { lateMs_ = ms; }
  void wrongEcho() { wrongEcho_ = true; }
  void badStatus(std::uint8_t s) { badStatus_ = s; }
  void garbage(int n) { garbage_ = n; }
  void warmHandshake(bool on) { alwaysWarm_ = on; }

  bool commandMode() const { return commandMode_; }
  std::string status() const;
  std::uint64_t frames() const { return frames_; }

 private:
  struct Output {
    std::int64_t due;
    Bytes bytes;
  };
  void send(Bytes bytes, std::int64_t due);
  void answerHandshake(std::int64_t realMs);
  void serveFrame(std::int64_t realMs, std::int64_t modelMs);

  Subsystem& subsystem_;
  Bytes in_;
  std::deque<Output> out_;
  bool commandMode_ = false;
  bool alwaysWarm_ = false;
  int silence_ = 0;
  int lateMs_ = 0;
  bool wrongEcho_ = false;
  int badStatus_ = 0;
  int garbage_ = 0;
  std::uint32_t garbageSeed_ = 0x2545F491;
  std::uint64_t frames_ = 0;
  std::uint64_t dropped_ = 0;
  std::int64_t lastByteMs_ = 0;
};

}  // namespace sim::serial
