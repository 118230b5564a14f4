#include "platform/loop/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plat {
namespace {

// Bytes read per read call, and read calls per readiness, so that one busy peer cannot keep the
// loop from everything else.
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr int kReadsPerWakeup = 16;
constexpr int kAcceptsPerWakeup = 64;
constexpr int kDatagramsPerWakeup = 64;

std::uint16_t boundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

struct Bound {
  UniqueFd fd;
  std::uint16_t port = 0;
};

Result<Bound> openBound(int type, std::string_view host, std::uint16_t port) {
  auto addr = resolveIpv4(host, port);
  if (!addr) return addr.error();
  Bound b;
  b.fd.reset(::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!b.fd) return errnoError("socket");
  const int one = 1;
  setsockopt(b.fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(b.fd.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0) return errnoError("bind");
  b.port = boundPort(b.fd.get());
  return b;
}

}  // namespace

HostIdentity lookUpHostIdentity() {
  HostIdentity id;
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) std::snprintf(buf, sizeof buf, "localhost");
  id.name = buf;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* res = nullptr;
  if (::getaddrinfo(buf, nullptr, &hints, &res) != 0 || !res) return id;
  if (res->ai_canonname && *res->ai_canonname) id.name = res->ai_canonname;
  for (addrinfo* a = res; a; a = a->ai_next) {
    if (a->ai_family != AF_INET) continue;
    id.address = formatIpv4(*reinterpret_cast<sockaddr_in*>(a->ai_addr));
    break;
  }
  ::freeaddrinfo(res);
  return id;
}

Result<sockaddr_in> resolveIpv4(std::string_view host, std::uint16_t port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  if (host.empty() || host == "*") {
    out.sin_addr.s_addr = htonl(INADDR_ANY);
    return out;
  }
  if (host.size() > 253) return Error{EINVAL, "host name too long"};
  const std::string h(host);
  if (inet_pton(AF_INET, h.c_str(), &out.sin_addr) == 1) return out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(h.c_str(), nullptr, &hints, &res);
  if (rc != 0 || !res) return Error{EHOSTUNREACH, "cannot resolve " + h + ": " + gai_strerror(rc)};
  out.sin_addr = reinterpret_cast<const sockaddr_in*>(res->ai_addr)->sin_addr;
  freeaddrinfo(res);
  return out;
}

std::string formatIpv4(const sockaddr_in& addr) {
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, buf, sizeof buf);
  return buf;
}

// ---- TcpStream

TcpStream::TcpStream(EventLoop& loop, UniqueFd fd, bool connecting)
    : loop_(loop), fd_(std::move(fd)), connecting_(connecting) {
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  if (!connecting && getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &len) == 0) {
    peerHost_ = formatIpv4(peer);
    peerPort_ = ntohs(peer.sin_port);
  }
}

Result<std::unique_ptr<TcpStream>> TcpStream::watched(std::unique_ptr<TcpStream> s) {
  TcpStream* raw = s.get();
  auto w = raw->loop_.watch(raw->fd_.get(), raw->connecting_ ? kIoWritable : kIoReadable,
                            [raw](std::uint32_t ev) { raw->handle(ev); });
  if (!w) return w.error();
  raw->watch_ = std::move(*w);
  return s;
}

Result<std::unique_ptr<TcpStream>> TcpStream::connect(EventLoop& loop, std::string_view host, std::uint16_t port,
                                                      std::chrono::milliseconds timeout) {
  auto addr = resolveIpv4(host, port);
  if (!addr) return addr.error();
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return errnoError("socket");
  const int one = 1;
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0 && errno != EINPROGRESS) {
    return errnoError("connect");
  }
  // A connect that has already failed (a refusal on this host arrives with the call itself) is
  // reported now, not later through the close callback.
  pollfd pfd{fd.get(), POLLOUT, 0};
  if (::poll(&pfd, 1, 0) == 1) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) return errnoError("connect", err);
  }
  auto s = watched(std::unique_ptr<TcpStream>(new TcpStream(loop, std::move(fd), true)));
  if (!s) return s;
  TcpStream* raw = s->get();
  raw->peerHost_ = formatIpv4(*addr);
  raw->peerPort_ = port;
  raw->connectTimer_ = loop.singleShot(timeout, [raw] {
    if (raw->connecting_) raw->fail("connect timed out");
  });
  return s;
}

Result<std::unique_ptr<TcpStream>> TcpStream::adopt(EventLoop& loop, UniqueFd fd) {
  if (!fd) return Error{EBADF, "no connected descriptor"};
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags >= 0) fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
  const int one = 1;
  setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return watched(std::unique_ptr<TcpStream>(new TcpStream(loop, std::move(fd), false)));
}

TcpStream::~TcpStream() = default;

void TcpStream::release() {
  connectTimer_.stop();
  nextTurn_.stop();
  watch_.reset();
  fd_.reset();
  out_.clear();
  outStart_ = 0;
}

void TcpStream::close() {
  if (!fd_) return;
  closing_ = true;  // a failure of this last flush is no news to the caller
  if (!connecting_) (void)flush(true);
  if (fd_) ::shutdown(fd_.get(), SHUT_RDWR);
  release();
  closeNotice_.stop();
}

void TcpStream::fail(const std::string& reason, bool deferred) {
  if (!fd_) return;
  release();
  if (closing_) return;
  if (!deferred) {
    // A copy: the callback may destroy this stream, and with it the member.
    if (auto fn = closed_) fn(reason);
    return;
  }
  // A failing write() tells its caller by its result at once; the close notice follows from the
  // loop, so that no callback runs inside the caller's own call.
  closeNotice_ = loop_.singleShot(std::chrono::milliseconds(0), [this, reason] {
    if (auto fn = closed_) fn(reason);
  });
}

Result<void> TcpStream::write(std::string_view bytes) {
  if (!fd_) return Error{ENOTCONN, "stream closed"};
  if (bytes.size() > outputLimit_ - std::min(outputLimit_, pendingOutput())) {
    return Error{ENOBUFS, "output buffer full"};
  }
  if (outStart_ > 0 && outStart_ >= out_.size() / 2) {
    out_.erase(0, outStart_);
    outStart_ = 0;
  }
  out_.append(bytes);
  if (connecting_ || outputHolds_ > 0) return success();
  if (Result<void> sent = flush(true); !sent) return sent;
  updateInterest();
  return success();
}

void TcpStream::releaseOutput() {
  if (outputHolds_ == 0 || --outputHolds_ > 0) return;
  if (!fd_ || connecting_ || pendingOutput() == 0) return;
  if (flush(true)) updateInterest();
}

Result<void> TcpStream::flush(bool deferredFailure) {
  while (pendingOutput() > 0) {
    const ssize_t n = ::send(fd_.get(), out_.data() + outStart_, pendingOutput(), MSG_NOSIGNAL);
    if (n > 0) {
      outStart_ += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return success();
    Error e = errnoError("write");
    fail(e.message, deferredFailure);
    return e;
  }
  out_.clear();
  outStart_ = 0;
  return success();
}

void TcpStream::updateInterest() {
  if (!fd_ || connecting_) return;
  watch_.update((wantsInput() ? std::uint32_t{kIoReadable} : 0u) |
                (pendingOutput() > 0 ? std::uint32_t{kIoWritable} : 0u));
}

void TcpStream::finishConnect() {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0) {
    fail(errnoError("connect", err).message);
    return;
  }
  connecting_ = false;
  connectTimer_.stop();
  if (!flush()) return;
  updateInterest();
  if (auto fn = connected_) fn();
}

void TcpStream::onRecords(FrameFn frame, RecordFn record) {
  frame_ = std::move(frame);
  record_ = std::move(record);
  resumeInput();
}

void TcpStream::setReadPauseOutput(std::size_t bytes) {
  readPauseOutput_ = bytes;
  updateInterest();
  resumeInput();
}

bool TcpStream::recordWaiting() {
  if (!frame_ || inStart_ >= in_.size()) return false;
  return frame_(std::string_view(in_).substr(inStart_)) != 0;
}

bool TcpStream::wantsInput() { return fd_ && !connecting_ && !outputPaused() && !recordWaiting(); }

void TcpStream::resumeInput() {
  if (!fd_ || connecting_ || nextTurn_.started() || outputPaused() || !recordWaiting()) return;
  nextTurn_ = loop_.singleShot(std::chrono::milliseconds(0), [this] { deliverRecords(); });
}

void TcpStream::deliverRecords() {
  LifeGuard::Scope alive(guard_);
  nextTurn_.stop();
  for (std::size_t n = 0; n < recordsPerTurn_ && fd_ && !outputPaused(); ++n) {
    const std::string_view pending = std::string_view(in_).substr(inStart_);
    if (pending.empty()) break;
    const std::size_t len = frame_(pending);
    if (len == 0) break;
    if (len == kBrokenFrame || len > pending.size()) {
      fail("unreadable record");
      return;
    }
    inStart_ += len;
    auto fn = record_;  // the callback may destroy this stream
    fn(pending.substr(0, len));
    if (!alive) return;
  }
  if (!fd_) return;
  if (inStart_ == in_.size()) {
    in_.clear();
    inStart_ = 0;
  } else if (inStart_ >= in_.size() / 2) {
    in_.erase(0, inStart_);
    inStart_ = 0;
  }
  resumeInput();
  updateInterest();
}

void TcpStream::readSome(bool force) {
  LifeGuard::Scope alive(guard_);
  char buf[kReadChunk];
  // Paced input stops reading once a complete record waits, so its buffer holds at most one
  // record and a read's worth besides; a hang-up or error is read regardless, to be noticed.
  for (int i = 0; i < kReadsPerWakeup && alive && fd_ && (force || wantsInput()); ++i) {
    const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n > 0) {
      if (frame_) {
        in_.append(buf, static_cast<std::size_t>(n));
      } else if (data_) {
        auto fn = data_;  // the callback may destroy this stream
        fn(std::string_view(buf, static_cast<std::size_t>(n)));
      }
      if (static_cast<std::size_t>(n) < sizeof buf) break;
      continue;
    }
    if (n == 0) {
      fail("closed by the peer");
      return;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    fail(errnoError("read").message);
    return;
  }
  if (!alive || !fd_) return;
  if (frame_) {
    deliverRecords();
  } else {
    updateInterest();
  }
}

void TcpStream::handle(std::uint32_t events) {
  LifeGuard::Scope alive(guard_);
  if (connecting_) {
    if (events & (kIoWritable | kIoError)) finishConnect();
    return;
  }
  if (events & (kIoReadable | kIoError)) {
    readSome((events & kIoError) != 0);
    if (!alive || !fd_) return;
  }
  if (events & kIoWritable) {
    if (flush()) {
      updateInterest();
      resumeInput();
    }
  }
}

// ---- TcpListener

TcpListener::TcpListener(EventLoop& loop, UniqueFd fd, std::uint16_t port)
    : loop_(loop), fd_(std::move(fd)), port_(port) {}

Result<void> TcpListener::startWatching() {
  auto w = loop_.watch(fd_.get(), kIoReadable, [this](std::uint32_t) { acceptSome(); });
  if (!w) return w.error();
  watch_ = std::move(*w);
  return success();
}

void TcpListener::pauseAccepting() {
  // Out of descriptors or memory: a pending connection stays readable, so listening on would spin.
  // Pause briefly and try again (again later, too, when the watch cannot be made then).
  watch_.reset();
  pause_ = loop_.singleShot(std::chrono::milliseconds(100), [this] {
    if (!startWatching()) pauseAccepting();
  });
}

Result<std::unique_ptr<TcpListener>> TcpListener::listen(EventLoop& loop, std::string_view host, std::uint16_t port,
                                                         int backlog) {
  auto bound = openBound(SOCK_STREAM, host, port);
  if (!bound) return bound.error();
  if (::listen(bound->fd.get(), backlog) != 0) return errnoError("listen");
  std::unique_ptr<TcpListener> listener(new TcpListener(loop, std::move(bound->fd), bound->port));
  if (auto watching = listener->startWatching(); !watching) return watching.error();
  return listener;
}

TcpListener::~TcpListener() = default;

void TcpListener::acceptSome() {
  LifeGuard::Scope alive(guard_);
  for (int i = 0; i < kAcceptsPerWakeup && alive; ++i) {
    UniqueFd fd(accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) pauseAccepting();
      return;
    }
    // A connection the loop cannot watch is closed at once rather than left to hang its peer.
    auto stream = TcpStream::adopt(loop_, std::move(fd));
    if (!stream) {
      pauseAccepting();
      return;
    }
    if (accept_) accept_(std::move(*stream));
  }
}

// ---- UdpSocket

UdpSocket::UdpSocket(UniqueFd fd, std::uint16_t port) : fd_(std::move(fd)), port_(port) {}

Result<std::unique_ptr<UdpSocket>> UdpSocket::bind(EventLoop& loop, std::string_view host, std::uint16_t port) {
  auto bound = openBound(SOCK_DGRAM, host, port);
  if (!bound) return bound.error();
  std::unique_ptr<UdpSocket> s(new UdpSocket(std::move(bound->fd), bound->port));
  auto w = loop.watch(s->fd_.get(), kIoReadable, [raw = s.get()](std::uint32_t) { raw->receiveSome(); });
  if (!w) return w.error();
  s->watch_ = std::move(*w);
  return s;
}

UdpSocket::~UdpSocket() = default;

Result<void> UdpSocket::setBroadcast(bool on) {
  const int v = on ? 1 : 0;
  if (setsockopt(fd_.get(), SOL_SOCKET, SO_BROADCAST, &v, sizeof v) != 0) return errnoError("SO_BROADCAST");
  return success();
}

Result<void> UdpSocket::sendTo(std::string_view host, std::uint16_t port, std::string_view datagram) {
  auto addr = resolveIpv4(host, port);
  if (!addr) return addr.error();
  const ssize_t n = ::sendto(fd_.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr);
  if (n < 0 || static_cast<std::size_t>(n) != datagram.size()) return errnoError("sendto", n < 0 ? errno : EMSGSIZE);
  return success();
}

void UdpSocket::receiveSome() {
  LifeGuard::Scope alive(guard_);
  // The largest IPv4 datagram fits, so a datagram is never cut.
  static thread_local char buf[65536];
  for (int i = 0; i < kDatagramsPerWakeup && alive; ++i) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_.get(), buf, sizeof buf, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) > sizeof buf) continue;  // cut datagrams are dropped, never half-read
    if (datagram_)
      datagram_(std::string_view(buf, static_cast<std::size_t>(n)), formatIpv4(from), ntohs(from.sin_port));
  }
}

}  // namespace plat
