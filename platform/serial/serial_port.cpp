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

void setError(std::string* error, const std::string& what) {
  if (error) *error = what + ": " + std::strerror(errno);
}

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

std::unique_ptr<SerialPort> SerialPort::open(const std::filesystem::path& device, unsigned baud, std::string* error) {
  unsigned speed = speedConstant(baud);
  if (speed == 0) {
    if (error) *error = "unsupported speed " + std::to_string(baud);
    return nullptr;
  }
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    setError(error, "cannot open " + device.string());
    return nullptr;
  }
  std::unique_ptr<SerialPort> port(new SerialPort(fd));
  if (!::isatty(fd)) {
    if (error) *error = device.string() + " is not a terminal";
    return nullptr;
  }
  // Exclusive: a lock that other openers respect (root included) and the tty's own exclusive mode.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    setError(error, device.string() + " is in use");
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    setError(error, "cannot read the settings of " + device.string());
    return nullptr;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    setError(error, "cannot configure " + device.string());
    return nullptr;
  }
  ::tcflush(fd, TCIOFLUSH);
  return port;
}

SerialPort::~SerialPort() {
  if (fd_ >= 0) {
    // The exclusive mode belongs to the tty, not to this descriptor: give it back for the next opener.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
}

IoResult SerialPort::write(const void* data, std::size_t n, int timeoutMs) {
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  const auto* p = static_cast<const unsigned char*>(data);
  IoResult r{IoStatus::Ok, 0};
  while (r.bytes < n) {
    ssize_t w = ::write(fd_, p + r.bytes, n - r.bytes);
    if (w > 0) {
      r.bytes += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) return {IoStatus::Error, r.bytes};
    int ready = waitReady(fd_, POLLOUT, deadline);
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
    ssize_t got = ::read(fd_, p + r.bytes, n - r.bytes);
    if (got > 0) {
      r.bytes += static_cast<std::size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno != EAGAIN) return {IoStatus::Error, r.bytes};
    int ready = waitReady(fd_, POLLIN, deadline);
    if (ready == 0) return {IoStatus::Timeout, r.bytes};
    if (ready < 0) return {IoStatus::Error, r.bytes};
  }
  return r;
}

void SerialPort::purge() { ::tcflush(fd_, TCIOFLUSH); }

void SerialPort::clearErrors() {
  // A tty keeps no sticky error state that blocks further I/O; a pending break is all there is to end.
  ::tcflow(fd_, TCOON);
}

}  // namespace plat::serial
