#include "platform/serial/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace plat::serial {
namespace {

using SteadyClock = std::chrono::steady_clock;

int remainingMs(SteadyClock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Waits until fd is ready for `events`: true, or false when the deadline passed first.
Result<bool> waitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, remainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return errnoError("waiting on the serial line");
    if (rc == 0) return false;
    if (p.revents & (POLLERR | POLLNVAL)) return Error{EIO, "the serial line failed"};
    if (p.revents & events) return true;
    if (p.revents & POLLHUP) return Error{EPIPE, "the serial line hung up"};
  }
}

// Moves `n` bytes with `step` (a read or a write), waiting for readiness in between.
template <class Step>
Result<std::size_t> transfer(int fd, short events, std::size_t n, int timeoutMs, const char* what, Step step) {
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  std::size_t moved = 0;
  while (moved < n) {
    ssize_t done = step(moved);
    if (done > 0) {
      moved += static_cast<std::size_t>(done);
      continue;
    }
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && errno != EAGAIN) return errnoError(what);
    auto ready = waitReady(fd, events, deadline);
    if (!ready) return ready.error();
    if (!*ready) break;  // the time-out: what moved so far
  }
  return moved;
}

}  // namespace

unsigned speedConstant(unsigned baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return 0;
  }
}

Result<std::unique_ptr<SerialPort>> SerialPort::open(const std::filesystem::path& device, unsigned baud) {
  unsigned speed = speedConstant(baud);
  if (speed == 0) return Error{EINVAL, "unsupported speed " + std::to_string(baud)};
  UniqueFd owned(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!owned) return errnoError("cannot open " + device.string());
  const int fd = owned.get();
  std::unique_ptr<SerialPort> port(new SerialPort(std::move(owned)));
  if (!::isatty(fd)) return Error{ENOTTY, device.string() + " is not a terminal"};
  // Exclusive: a lock that other openers respect (root included) and the tty's own exclusive mode.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errnoError(device.string() + " is in use");
  ::ioctl(fd, TIOCEXCL);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return errnoError("cannot read the settings of " + device.string());
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) return errnoError("cannot configure " + device.string());
  ::tcflush(fd, TCIOFLUSH);
  return port;
}

SerialPort::~SerialPort() {
  // The exclusive mode belongs to the tty, not to this descriptor: give it back for the next opener.
  if (fd_) ::ioctl(fd_.get(), TIOCNXCL);
}

Result<std::size_t> SerialPort::write(const void* data, std::size_t n, int timeoutMs) {
  const auto* p = static_cast<const unsigned char*>(data);
  return transfer(fd_.get(), POLLOUT, n, timeoutMs, "writing to the serial line",
                  [&](std::size_t at) { return ::write(fd_.get(), p + at, n - at); });
}

Result<std::size_t> SerialPort::read(void* data, std::size_t n, int timeoutMs) {
  auto* p = static_cast<unsigned char*>(data);
  return transfer(fd_.get(), POLLIN, n, timeoutMs, "reading from the serial line",
                  [&](std::size_t at) { return ::read(fd_.get(), p + at, n - at); });
}

void SerialPort::purge() { ::tcflush(fd_.get(), TCIOFLUSH); }

void SerialPort::discardInput() { ::tcflush(fd_.get(), TCIFLUSH); }

void SerialPort::clearErrors() {
  // A tty keeps no sticky error state that blocks further I/O; a pending break is all there is to end.
  ::tcflow(fd_.get(), TCOON);
}

}  // namespace plat::serial
