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

enum class IoStatus { Ok, Timeout, Error };

struct IoResult {
  IoStatus status = IoStatus::Error;
  std::size_t bytes = 0;  // bytes moved before the status was reached
};

class SerialPort {
 public:
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens an existing tty for reading and writing, exclusively (a second open fails), and sets it
  // to raw 8N1 at `baud` with no flow control.
  static Result<std::unique_ptr<SerialPort>> open(const std::filesystem::path& device, unsigned baud);

  // Writes all `n` bytes or stops at the time-out (Timeout) or a failure (Error).
  IoResult write(const void* data, std::size_t n, int timeoutMs);
  // Reads exactly `n` bytes or stops at the time-out or a failure; a hang-up is an Error.
  IoResult read(void* data, std::size_t n, int timeoutMs);
  // Drops everything queued in both directions.
  void purge();
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
