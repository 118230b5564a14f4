#pragma once
// A serial port on a tty: raw 8N1 at a fixed speed, no flow control, opened exclusively.
// Every read and write is bounded by a time-out, so a silent or stuck line never hangs a caller.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/base/result.h"
#include "platform/base/unique_fd.h"

namespace plat::serial {

class SerialPort {
 public:
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens an existing tty for reading and writing, exclusively (a second open fails), and sets it
  // to raw 8N1 at `baud` with no flow control.
  static Result<std::unique_ptr<SerialPort>> open(const std::filesystem::path& device, unsigned baud);

  // A time-out is no failure of the line: both give the count of bytes moved, all `n` of them or
  // fewer when the time-out came first. An error is a line that failed (a hang-up included); what
  // moved before it is of no use then.
  Result<std::size_t> write(const void* data, std::size_t n, int timeoutMs);
  Result<std::size_t> read(void* data, std::size_t n, int timeoutMs);
  // Drops everything queued in both directions, output not yet sent included.
  void purge();
  // Drops what was received and not yet read. What was written is left to go out: on a
  // pseudo-terminal, bytes a write handed over may still wait for the other side to take them, and
  // flushing the output would lose them although the write reported them sent.
  void discardInput();
  // Restarts output that a line condition suspended.
  void clearErrors();

  int fd() const { return fd_.get(); }

 private:
  explicit SerialPort(UniqueFd fd) : fd_(std::move(fd)) {}
  UniqueFd fd_;
};

// The termios speed constant for a baud rate, or 0 when the rate is not one a tty knows.
unsigned speedConstant(unsigned baud);

}  // namespace plat::serial
