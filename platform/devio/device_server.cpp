#include "platform/devio/device_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/base/paths.h"
#include "platform/base/unix_address.h"
#include "platform/devio/wire.h"

namespace plat::devio {
namespace {

bool someoneServes(const UnixAddress& addr) {
  UniqueFd s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  return s && ::connect(s.get(), addr.get(), addr.length) == 0;
}

}  // namespace

Result<std::unique_ptr<DeviceServer>> DeviceServer::listen(std::string_view name) {
  const auto node = paths::deviceNode(name);
  if (auto made = paths::ensureDir(node.parent_path()); !made) return made.error();
  const std::string final = node.string();
  const std::string temp = final + ".new" + std::to_string(::getpid());
  auto finalAddr = unixAddress(final);
  if (!finalAddr) return finalAddr.error();
  auto tempAddr = unixAddress(temp);
  if (!tempAddr) return tempAddr.error();

  struct stat st {};
  if (::lstat(final.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return Error{EEXIST, final + " exists and is no device socket"};
    if (someoneServes(*finalAddr)) return Error{EADDRINUSE, final + " is served already"};
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return errnoError("socket");
  ::unlink(temp.c_str());
  // Bound under a temporary name and renamed, so a client never meets a node that does not listen yet.
  auto fail = [&](const char* what) -> Error {
    Error e = errnoError(std::string(what) + " " + final);
    ::unlink(temp.c_str());
    return e;
  };
  if (::bind(fd.get(), tempAddr->get(), tempAddr->length) != 0) return fail("bind");
  if (::listen(fd.get(), 16) != 0) return fail("listen");
  if (::rename(temp.c_str(), final.c_str()) != 0) return fail("rename");
  return std::unique_ptr<DeviceServer>(new DeviceServer(std::move(fd), final));
}

DeviceServer::DeviceServer(UniqueFd listener, std::string path) : listener_(std::move(listener)), path_(std::move(path)) {}

DeviceServer::~DeviceServer() {
  conns_.clear();
  listener_.reset();
  ::unlink(path_.c_str());
}

void DeviceServer::pollSet(std::vector<pollfd>& out) const {
  out.push_back({listener_.get(), POLLIN, 0});
  for (const auto& [fd, c] : conns_) {
    short ev = POLLIN;
    if (c.outStart < c.out.size()) ev |= POLLOUT;
    out.push_back({fd, ev, 0});
  }
}

bool DeviceServer::ready(int fd, short revents) {
  if (fd == listener_.get()) {
    acceptSome();
    return true;
  }
  auto it = conns_.find(fd);
  if (it == conns_.end()) return false;
  if (revents & POLLOUT) {
    if (!flush(it->second)) {
      drop(fd);
      return true;
    }
  }
  if (revents & (POLLIN | POLLHUP | POLLERR)) readSome(fd);
  return true;
}

void DeviceServer::pollOnce(int timeoutMs) {
  std::vector<pollfd> set;
  pollSet(set);
  int n = ::poll(set.data(), set.size(), timeoutMs);
  if (n <= 0) return;
  for (const auto& p : set) {
    if (p.revents) ready(p.fd, p.revents);
  }
}

void DeviceServer::acceptSome() {
  for (int i = 0; i < 16; ++i) {
    UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (errno == EINTR) continue;
      return;
    }
    if (conns_.size() >= kMaxConnections) continue;  // closed at once: the client's request fails
    const int key = fd.get();
    conns_[key].fd = std::move(fd);
    conns_[key].serial = nextConnection_++;
  }
}

void DeviceServer::readSome(int fd) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return;
  Connection& c = it->second;
  // Never more than one whole request waits in the buffer: a client sends the next only after its answer.
  const std::size_t limit = wire::kRequestHeader + wire::kMaxInput;
  std::uint8_t buf[16384];
  for (;;) {
    if (c.in.size() >= limit) {
      drop(fd);
      return;
    }
    ssize_t n = ::recv(fd, buf, std::min(sizeof buf, limit - c.in.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n <= 0) {
      drop(fd);
      return;
    }
    c.in.insert(c.in.end(), buf, buf + n);
  }
  parse(fd);
}

void DeviceServer::parse(int fd) {
  for (;;) {
    auto it = conns_.find(fd);
    if (it == conns_.end()) return;
    Connection& c = it->second;
    if (c.pending != 0 || c.in.size() < wire::kRequestHeader) return;
    const std::uint8_t* h = c.in.data();
    const std::uint32_t length = wire::get32(h + 8);
    const std::uint32_t capacity = wire::get32(h + 12);
    if (wire::get32(h) != wire::kRequestMagic || length > wire::kMaxInput || capacity > wire::kMaxOutput) {
      drop(fd);
      return;
    }
    if (c.in.size() < wire::kRequestHeader + length) return;
    Request r;
    r.id = nextId_++;
    r.connection = c.serial;
    r.code = wire::get32(h + 4);
    r.outputCapacity = capacity;
    r.input.assign(c.in.begin() + wire::kRequestHeader, c.in.begin() + wire::kRequestHeader + length);
    c.in.erase(c.in.begin(), c.in.begin() + wire::kRequestHeader + length);
    c.pending = r.id;
    c.pendingCapacity = capacity;
    if (!request_) {
      answer(r.id, ENODEV);
      continue;
    }
    request_(std::move(r));  // may answer at once, which allows the next request in the buffer
  }
}

bool DeviceServer::answer(RequestId id, std::uint32_t status, std::span<const std::uint8_t> output) {
  if (id == 0) return false;
  for (auto& [fd, c] : conns_) {
    if (c.pending != id) continue;
    if (status != 0) output = {};
    if (output.size() > c.pendingCapacity) {
      status = EOVERFLOW;
      output = {};
    }
    std::uint8_t head[wire::kAnswerHeader];
    wire::put32(head, wire::kAnswerMagic);
    wire::put32(head + 4, status);
    wire::put32(head + 8, static_cast<std::uint32_t>(output.size()));
    c.out.insert(c.out.end(), head, head + sizeof head);
    c.out.insert(c.out.end(), output.begin(), output.end());
    c.pending = 0;
    c.pendingCapacity = 0;
    const int key = fd;
    if (!flush(c)) {
      drop(key);
      return true;
    }
    // A request that arrived behind this one can go now. Deferred answers come from outside parse().
    return true;
  }
  return false;
}

bool DeviceServer::flush(Connection& c) {
  while (c.outStart < c.out.size()) {
    ssize_t n = ::send(c.fd.get(), c.out.data() + c.outStart, c.out.size() - c.outStart, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n < 0) return false;
    c.outStart += static_cast<std::size_t>(n);
  }
  c.out.clear();
  c.outStart = 0;
  return true;
}

void DeviceServer::drop(int fd) {
  auto it = conns_.find(fd);
  if (it == conns_.end()) return;
  const RequestId pending = it->second.pending;
  const ConnectionId serial = it->second.serial;
  conns_.erase(it);
  if (pending != 0 && abandoned_) abandoned_(pending);
  if (closed_) closed_(serial);
}

}  // namespace plat::devio
