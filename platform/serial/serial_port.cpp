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

// Waits until fd is ready for `events` or the deadline passes; false on time-out, -1 on failure.
int waitReady(int fd, short events, SteadyClock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int rc = ::poll(&p, 1, remainingMs(deadline));
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return -1;
    if (rc == 0) return 0;
    if (p.revents & (POLLERR | POLLNVAL)) return -1;
    if (p.revents & events) return 1;
    if (p.revents & POLLHUP) return -1;
  }
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

IoResult SerialPort::write(const void* data, std::size_t n, int timeoutMs) {
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const auto* p = static_cast<const unsigned char*>(data);
  IoResult r{IoStatus::Ok, 0};
  while (r.bytes < n) {
    ssize_t w = ::write(fd_.get(), p + r.bytes, n - r.bytes);
    if (w > 0) {
      r.bytes += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) return {IoStatus::Error, r.bytes};
    int ready = waitReady(fd_.get(), POLLOUT, deadline);
    if (ready == 0) return {IoStatus::Timeout, r.bytes};
    if (ready < 0) return {IoStatus::Error, r.bytes};
  }
  return r;
}

IoResult SerialPort::read(void* data, std::size_t n, int timeoutMs) {
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  auto* p = static_cast<unsigned char*>(data);
  IoResult r{IoStatus::Ok, 0};
  while (r.bytes < n) {
    ssize_t got = ::read(fd_.get(), p + r.bytes, n - r.bytes);
    if (got > 0) {
      r.bytes += static_cast<std::size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno != EAGAIN) return {IoStatus::Error, r.bytes};
    int ready = waitReady(fd_.get(), POLLIN, deadline);
    if (ready == 0) return {IoStatus::Timeout, r.bytes};
    if (ready < 0) return {IoStatus::Error, r.bytes};
  }
  return r;
}

void SerialPort::purge() { ::tcflush(fd_.get(), TCIOFLUSH); }

void SerialPort::clearErrors() {
  // A tty keeps no sticky error state that blocks further I/O; a pending break is all there is to end.
  ::tcflow(fd_.get(), TCOON);
}

}  // namespace plat::serial
