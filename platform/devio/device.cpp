#include "platform/devio/device.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"
#include "platform/devio/wire.h"

namespace plat::devio {

namespace detail {
// The connection of a socket handle. The owning thread uses fd without the lock (only it closes
// it); the lock orders closing against an interrupt from another thread.
struct Connection {
  std::mutex mutex;
  UniqueFd fd;
  bool interrupted = false;
};
}  // namespace detail

namespace {

std::string displayName(std::string_view name) {
  if (name.substr(0, 4) == "\\\\.\\") return std::string(name);
  return "\\\\.\\" + std::string(name);
}

// In-process devices by node name, so "\\.\X" and "X" meet.
struct LocalRegistry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const InProcessHandler>> devices;
};
LocalRegistry& localRegistry() {
  static LocalRegistry r;
  return r;
}
std::string localKey(std::string_view name) { return paths::deviceNode(name).filename().string(); }

// Waits until fd is readable, within the handle's time-out (zero: no limit).
Result<void> waitReadable(int fd, std::chrono::milliseconds timeout) {
  if (timeout.count() <= 0) return success();
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(timeout.count(), 1 << 30)));
    if (n > 0) return success();
    if (n == 0) return Error{ETIMEDOUT, "the device did not answer in time"};
    if (errno != EINTR) return errnoError("poll");
  }
}

Result<void> readExactly(int fd, std::uint8_t* p, std::size_t n, std::chrono::milliseconds timeout) {
  while (n > 0) {
    if (auto w = waitReadable(fd, timeout); !w) return w;
    ssize_t r = ::recv(fd, p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return errnoError("reading from the device");
    if (r == 0) return Error{EIO, "the device closed the connection"};
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return success();
}

Result<void> writeAll(int fd, const std::uint8_t* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return errnoError("writing to the device");
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return success();
}

}  // namespace

void Interrupter::interrupt() const {
  auto c = conn_.lock();
  if (!c) return;
  std::lock_guard lock(c->mutex);
  c->interrupted = true;
  if (c->fd) ::shutdown(c->fd.get(), SHUT_RDWR);
}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    close();
    name_ = std::move(other.name_);
    conn_ = std::move(other.conn_);
    local_ = std::move(other.local_);
    timeout_ = other.timeout_;
  }
  return *this;
}

bool Handle::valid() const { return local_ != nullptr || (conn_ && conn_->fd.valid()); }

void Handle::close() {
  if (conn_) {
    std::lock_guard lock(conn_->mutex);
    conn_->fd.reset();
  }
  conn_.reset();
  local_.reset();
}

Result<Handle> open(std::string_view name) {
  Handle h;
  h.name_ = displayName(name);
  {
    auto& reg = localRegistry();
    std::lock_guard lock(reg.mutex);
    auto it = reg.devices.find(localKey(name));
    if (it != reg.devices.end()) {
      h.local_ = it->second;
      return h;
    }
  }
  auto addr = unixAddress(paths::deviceNode(name).string());
  if (!addr) return Error{ENOENT, "cannot open " + h.name_ + ": " + addr.message()};
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return errnoError("cannot open " + h.name_ + ": socket");
  int rc;
  do {
    rc = ::connect(fd.get(), addr->get(), addr->length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // A missing node and a node nobody serves any more look the same to the caller: no such device.
    int err = errno;
    int code = (err == ENOENT || err == ECONNREFUSED || err == ENOTSOCK) ? ENOENT : err;
    return Error{code, "cannot open " + h.name_ + ": " + std::strerror(err)};
  }
  h.conn_ = std::make_shared<detail::Connection>();
  h.conn_->fd = std::move(fd);
  return h;
}

Result<std::size_t> ioctl(Handle& handle, std::uint32_t code, std::span<const std::uint8_t> in,
                          std::span<std::uint8_t> out) {
  if (!handle.valid()) return Error{EBADF, "the device handle is not open"};
  if (in.size() > wire::kMaxInput || out.size() > wire::kMaxOutput) {
    return Error{EMSGSIZE, "request buffers too large for " + handle.name_};
  }

  if (handle.local_) {
    // The handler may read its input after writing output: give it a copy when the buffers meet.
    std::vector<std::uint8_t> input(in.begin(), in.end());
    auto r = (*handle.local_)(code, input, out);
    if (!r) return r.error();
    if (*r > out.size()) return Error{EPROTO, "the device answered more than the buffer holds"};
    return *r;
  }

  std::vector<std::uint8_t> frame(wire::kRequestHeader + in.size());
  wire::put32(frame.data(), wire::kRequestMagic);
  wire::put32(frame.data() + 4, code);
  wire::put32(frame.data() + 8, static_cast<std::uint32_t>(in.size()));
  wire::put32(frame.data() + 12, static_cast<std::uint32_t>(out.size()));
  if (!in.empty()) std::memcpy(frame.data() + wire::kRequestHeader, in.data(), in.size());

  // After a transport or framing failure the connection no longer lines up with requests: close it.
  auto broken = [&](Error e) -> Error {
    bool interrupted;
    {
      std::lock_guard lock(handle.conn_->mutex);
      interrupted = handle.conn_->interrupted;
    }
    handle.close();
    if (interrupted) return Error{ECANCELED, handle.name_ + ": request interrupted"};
    return Error{e.code, handle.name_ + ": " + e.message};
  };
  const int fd = handle.conn_->fd.get();
  if (auto w = writeAll(fd, frame.data(), frame.size()); !w) return broken(w.error());
  std::uint8_t head[wire::kAnswerHeader];
  if (auto r = readExactly(fd, head, sizeof head, handle.timeout_); !r) return broken(r.error());
  const std::uint32_t status = wire::get32(head + 4);
  const std::uint32_t length = wire::get32(head + 8);
  if (wire::get32(head) != wire::kAnswerMagic) return broken(Error{EPROTO, "malformed answer"});
  if (length > out.size() || (status != 0 && length != 0)) {
    return broken(Error{EPROTO, "answer of " + std::to_string(length) + " bytes does not fit the request"});
  }
  if (auto r = readExactly(fd, out.data(), length, handle.timeout_); !r) return broken(r.error());
  if (status != 0) {
    return Error{static_cast<int>(status), handle.name_ + ": request " + std::to_string(code) +
                                               " failed: " + std::strerror(static_cast<int>(status))};
  }
  return std::size_t{length};
}

InProcessDevice::InProcessDevice(std::string_view name, InProcessHandler handler) : key_(localKey(name)) {
  auto& reg = localRegistry();
  std::lock_guard lock(reg.mutex);
  reg.devices[key_] = std::make_shared<const InProcessHandler>(std::move(handler));
}

InProcessDevice::~InProcessDevice() {
  auto& reg = localRegistry();
  std::lock_guard lock(reg.mutex);
  reg.devices.erase(key_);
}

}  // namespace plat::devio
