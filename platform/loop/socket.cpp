#include "platform/loop/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {
namespace {

// Bytes read per read call, and read calls per readiness, so that one busy peer cannot keep the
// loop from everything else.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerWakeup = 16;
constexpr int kAcceptsPerWakeup = 64;
constexpr int kDatagramsPerWakeup = 64;

void setError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::string errnoText(const char* what, int err) { return std::string(what) + ": " + std::strerror(err); }

std::uint16_t boundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

int openBound(int type, std::string_view host, std::uint16_t port, std::string* error, std::uint16_t& actualPort) {
  sockaddr_in addr{};
  if (!resolveIpv4(host, port, addr, error)) return -1;
  const int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, errnoText("socket", errno));
    return -1;
  }
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    setError(error, errnoText("bind", errno));
    ::close(fd);
    return -1;
  }
  actualPort = boundPort(fd);
  return fd;
}

}  // namespace

bool resolveIpv4(std::string_view host, std::uint16_t port, sockaddr_in& out, std::string* error) {
  out = sockaddr_in{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  if (host.empty() || host == "*") {
    out.sin_addr.s_addr = htonl(INADDR_ANY);
    return true;
  }
  if (host.size() > 253) {
    setError(error, "host name too long");
    return false;
  }
  const std::string h(host);
  if (inet_pton(AF_INET, h.c_str(), &out.sin_addr) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(h.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) {
    setError(error, "cannot resolve " + h + ": " + gai_strerror(rc));
    return false;
  }
  out.sin_addr = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return true;
}

std::string formatIpv4(const sockaddr_in& addr) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf);
  return buf;
}

// ---- TcpStream

TcpStream::TcpStream(EventLoop& loop, int fd, bool connecting) : loop_(loop), fd_(fd), connecting_(connecting) {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (!connecting && getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
    peerHost_ = formatIpv4(peer);
    peerPort_ = ntohs(peer.sin_port);
  }
  loop_.watchFd(fd_, connecting ? kIoWritable : kIoReadable, [this](std::uint32_t ev) { handle(ev); });
}

std::unique_ptr<TcpStream> TcpStream::connect(EventLoop& loop, std::string_view host, std::uint16_t port,
                                              std::chrono::milliseconds timeout, std::string* error) {
  sockaddr_in addr{};
  if (!resolveIpv4(host, port, addr, error)) return nullptr;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, errnoText("socket", errno));
    return nullptr;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS) {
    setError(error, errnoText("connect", errno));
    ::close(fd);
    return nullptr;
  }
  // A connect that has already failed (a refusal on this host arrives with the call itself) is
  // reported now, not later through the close callback.
  pollfd pfd{fd, POLLOUT, 0};
  if (::poll(&pfd, 1, 0) == 1) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      setError(error, errnoText("connect", err));
      ::close(fd);
      return nullptr;
    }
  }
  std::unique_ptr<TcpStream> s(new TcpStream(loop, fd, true));
  s->peerHost_ = formatIpv4(addr);
  s->peerPort_ = port;
  s->connectTimer_ = loop.startTimer(timeout, false, [raw = s.get()] {
    raw->connectTimer_ = 0;
    if (raw->connecting_) raw->fail("connect timed out");
  });
  return s;
}

std::unique_ptr<TcpStream> TcpStream::adopt(EventLoop& loop, int fd) {
  if (fd < 0) return nullptr;
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return std::unique_ptr<TcpStream>(new TcpStream(loop, fd, false));
}

TcpStream::~TcpStream() {
  *alive_ = false;
  release();
}

void TcpStream::release() {
  if (connectTimer_) {
    loop_.cancelTimer(connectTimer_);
    connectTimer_ = 0;
  }
  if (fd_ >= 0) {
    loop_.unwatchFd(fd_);
    ::close(fd_);
    fd_ = -1;
  }
  out_.clear();
  outStart_ = 0;
}

void TcpStream::close() {
  if (fd_ < 0) return;
  closing_ = true;  // a failure of this last flush is no news to the caller
  if (!connecting_) flush(true);
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  release();
}

void TcpStream::fail(const std::string& reason, bool deferred) {
  if (fd_ < 0) return;
  release();
  if (closing_) return;
  if (!deferred) {
    // A copy: the callback may destroy this stream, and with it the member.
    if (auto fn = closed_) fn(reason);
    return;
  }
  // A failing write() tells its caller by its result at once; the close notice follows from the
  // loop, so that no callback runs inside the caller's own call.
  loop_.post([alive = alive_, this, reason] {
    if (!*alive || !closed_) return;
    auto fn = closed_;
    fn(reason);
  });
}

bool TcpStream::write(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (bytes.size() > outputLimit_ - std::min(outputLimit_, pendingOutput())) return false;
  if (outStart_ > 0 && outStart_ >= out_.size() / 2) {
    out_.erase(0, outStart_);
    outStart_ = 0;
  }
  out_.append(bytes);
  if (connecting_) return true;
  if (!flush(true)) return false;
  updateInterest();
  return true;
}

bool TcpStream::flush(bool deferredFailure) {
  while (pendingOutput() > 0) {
    const ssize_t n = ::send(fd_, out_.data() + outStart_, pendingOutput(), MSG_NOSIGNAL);
    if (n > 0) {
      outStart_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    fail(errnoText("write", errno), deferredFailure);
    return false;
  }
  out_.clear();
  outStart_ = 0;
  return true;
}

void TcpStream::updateInterest() {
  if (fd_ < 0 || connecting_) return;
  loop_.updateFd(fd_, kIoReadable | (pendingOutput() > 0 ? std::uint32_t{kIoWritable} : 0u));
}

void TcpStream::finishConnect() {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0) {
    fail(errnoText("connect", err));
    return;
  }
  connecting_ = false;
  if (connectTimer_) {
    loop_.cancelTimer(connectTimer_);
    connectTimer_ = 0;
  }
  if (!flush()) return;
  updateInterest();
  if (auto fn = connected_) fn();
}

void TcpStream::readSome() {
  auto alive = alive_;
  char buf[kReadChunk];
  for (int i = 0; i < kReadsPerWakeup && *alive && fd_ >= 0; ++i) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n > 0) {
      if (data_) {
        auto fn = data_;  // the callback may destroy this stream
        fn(std::string_view(buf, static_cast<std::size_t>(n)));
      }
      if (static_cast<std::size_t>(n) < sizeof buf) return;
      continue;
    }
    if (n == 0) {
      fail("closed by the peer");
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    fail(errnoText("read", errno));
    return;
  }
}

void TcpStream::handle(std::uint32_t events) {
  auto alive = alive_;
  if (connecting_) {
    if (events & (kIoWritable | kIoError)) finishConnect();
    return;
  }
  if (events & (kIoReadable | kIoError)) {
    readSome();
    if (!*alive || fd_ < 0) return;
  }
  if (events & kIoWritable) {
    if (flush()) updateInterest();
  }
}

// ---- TcpListener

TcpListener::TcpListener(EventLoop& loop, int fd, std::uint16_t port) : loop_(loop), fd_(fd), port_(port) {
  loop_.watchFd(fd_, kIoReadable, [this](std::uint32_t) { acceptSome(); });
}

std::unique_ptr<TcpListener> TcpListener::listen(EventLoop& loop, std::string_view host, std::uint16_t port,
                                                 std::string* error, int backlog) {
  std::uint16_t actual = 0;
  const int fd = openBound(SOCK_STREAM, host, port, error, actual);
  if (fd < 0) return nullptr;
  if (::listen(fd, backlog) != 0) {
    setError(error, errnoText("listen", errno));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<TcpListener>(new TcpListener(loop, fd, actual));
}

TcpListener::~TcpListener() {
  *alive_ = false;
  loop_.unwatchFd(fd_);
  ::close(fd_);
}

void TcpListener::acceptSome() {
  auto alive = alive_;
  for (int i = 0; i < kAcceptsPerWakeup && *alive; ++i) {
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors or memory: the pending connection stays readable, so listening on
        // would spin. Pause briefly and try again.
        loop_.unwatchFd(fd_);
        loop_.startTimer(std::chrono::milliseconds(100), false, [this, alive] {
          if (*alive) loop_.watchFd(fd_, kIoReadable, [this](std::uint32_t) { acceptSome(); });
        });
      }
      return;
    }
    auto stream = TcpStream::adopt(loop_, fd);
    if (accept_) {
      accept_(std::move(stream));
    }
  }
}

// ---- UdpSocket

UdpSocket::UdpSocket(EventLoop& loop, int fd, std::uint16_t port) : loop_(loop), fd_(fd), port_(port) {
  loop_.watchFd(fd_, kIoReadable, [this](std::uint32_t) { receiveSome(); });
}

std::unique_ptr<UdpSocket> UdpSocket::bind(EventLoop& loop, std::string_view host, std::uint16_t port,
                                           std::string* error) {
  std::uint16_t actual = 0;
  const int fd = openBound(SOCK_DGRAM, host, port, error, actual);
  if (fd < 0) return nullptr;
  return std::unique_ptr<UdpSocket>(new UdpSocket(loop, fd, actual));
}

UdpSocket::~UdpSocket() {
  *alive_ = false;
  loop_.unwatchFd(fd_);
  ::close(fd_);
}

bool UdpSocket::setBroadcast(bool on) {
  const int v = on ? 1 : 0;
  return setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

bool UdpSocket::sendTo(std::string_view host, std::uint16_t port, std::string_view datagram, std::string* error) {
  sockaddr_in addr{};
  if (!resolveIpv4(host, port, addr, error)) return false;
  const ssize_t n = ::sendto(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  if (n < 0 || static_cast<std::size_t>(n) != datagram.size()) {
    setError(error, errnoText("sendto", n < 0 ? errno : EMSGSIZE));
    return false;
  }
  return true;
}

void UdpSocket::receiveSome() {
  auto alive = alive_;
  // The largest IPv4 datagram fits, so a datagram is never cut.
  static thread_local char buf[65536];
  for (int i = 0; i < kDatagramsPerWakeup && *alive; ++i) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) > sizeof buf) continue;  // cut datagrams are dropped, never half-read
    if (datagram_)
      datagram_(std::string_view(buf, static_cast<std::size_t>(n)), formatIpv4(from), ntohs(from.sin_port));
  }
}

}  // namespace plat
