#pragma once
// Non-blocking IPv4 sockets on an EventLoop: a TCP stream (client with a connect time-out, or an
// accepted connection), a TCP listener and a UDP socket. Every notification arrives on the loop's
// thread; an object may be destroyed from inside its own callback.
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/base/life_guard.h"
#include "platform/base/result.h"
#include "platform/base/unique_fd.h"
#include "platform/loop/event_loop.h"

namespace plat {

// A host name or dotted address; "" and "*" mean any address.
Result<sockaddr_in> resolveIpv4(std::string_view host, std::uint16_t port);
std::string formatIpv4(const sockaddr_in& addr);  // dotted address, without the port

// This host as the network knows it: the official name its own name resolves to and the first
// IPv4 address of it; the plain host name (or "localhost") and no address when the lookup fails.
struct HostIdentity {
  std::string name;
  std::string address;
};
HostIdentity lookUpHostIdentity();

class TcpStream {
 public:
  // What the output buffer holds at most; a write that does not fit is refused.
  static constexpr std::size_t kDefaultOutputLimit = 8u << 20;

  // Records handed over per turn of the loop by default, in paced input.
  static constexpr std::size_t kDefaultRecordsPerTurn = 16;

  using ConnectedFn = std::function<void()>;
  using DataFn = std::function<void(std::string_view bytes)>;
  // Paced input: the length of the complete record at the start of `bytes`; 0 while it has
  // arrived only in part, kBrokenFrame when the bytes can never form one.
  using FrameFn = std::function<std::size_t(std::string_view bytes)>;
  static constexpr std::size_t kBrokenFrame = static_cast<std::size_t>(-1);
  // One whole record; the bytes stay valid for the call (while the stream lives).
  using RecordFn = std::function<void(std::string_view record)>;
  // The stream is closed when this is called: the peer closed it, a read or write failed, or the
  // connect failed or timed out.
  using ClosedFn = std::function<void(const std::string& reason)>;

  // Starts connecting; the reason when it cannot start or has already failed (a name that does not
  // resolve, a refusal on this host, no route). A failure known only later (a refusal from another
  // host, the time-out) arrives through the close callback. Writes made while the connect is in
  // progress wait in the output buffer.
  static Result<std::unique_ptr<TcpStream>> connect(EventLoop& loop, std::string_view host, std::uint16_t port,
                                                    std::chrono::milliseconds timeout);
  // Takes over an accepted, connected descriptor; an error when it is no descriptor or the loop
  // cannot watch it (the descriptor is closed then).
  static Result<std::unique_ptr<TcpStream>> adopt(EventLoop& loop, UniqueFd fd);

  TcpStream(const TcpStream&) = delete;
  TcpStream& operator=(const TcpStream&) = delete;
  ~TcpStream();

  void onConnected(ConnectedFn fn) { connected_ = std::move(fn); }
  void onData(DataFn fn) { data_ = std::move(fn); }
  void onClosed(ClosedFn fn) { closed_ = std::move(fn); }
  // Paced input, instead of onData, for a stream that carries records: what arrives is framed
  // by `frame` and handed to `record` one record at a time, at most recordsPerTurn per turn of the
  // loop; the rest wait, and nothing more is read while a complete record waits, so one busy peer
  // can neither keep the loop from everyone else nor fill memory. Broken framing closes the
  // stream (the close callback: "unreadable record").
  void onRecords(FrameFn frame, RecordFn record);
  void setRecordsPerTurn(std::size_t n) { recordsPerTurn_ = n ? n : 1; }
  // While more than `bytes` of output wait (the peer is not taking its replies), nothing is read
  // and no waiting record is handed over, until the output drains to the bound. 0 (the default)
  // never pauses: a client that pauses too could wait on its server for ever.
  void setReadPauseOutput(std::size_t bytes);

  // Queues bytes and sends what the socket takes now; the rest drains when it is writable.
  // An error, and nothing queued, when the stream is closed (ENOTCONN), the bytes would overflow
  // the buffer (ENOBUFS) or sending failed (the stream is then closed; its close notice follows
  // from the loop).
  Result<void> write(std::string_view bytes);
  // While output is held, writes only queue their bytes (within the limit); the last release sends
  // what was queued, so that records made in one go leave together instead of one send and one
  // wake-up of the peer each. Holds nest. A send that fails at the release closes the stream, and
  // its close notice follows from the loop.
  void holdOutput() { ++outputHolds_; }
  void releaseOutput();
  // Sends what it can of the buffer without waiting, shuts down both directions and closes.
  // No callback follows.
  void close();

  bool isOpen() const { return fd_.valid(); }
  bool isConnected() const { return fd_.valid() && !connecting_; }
  std::size_t pendingOutput() const { return out_.size() - outStart_; }
  void setOutputLimit(std::size_t bytes) { outputLimit_ = bytes; }
  const std::string& peerHost() const { return peerHost_; }
  std::uint16_t peerPort() const { return peerPort_; }

 private:
  TcpStream(EventLoop& loop, UniqueFd fd, bool connecting);
  // Watches the descriptor: for the connect's end while connecting, else for what arrives.
  static Result<std::unique_ptr<TcpStream>> watched(std::unique_ptr<TcpStream> s);
  void handle(std::uint32_t events);
  void finishConnect();
  void readSome(bool force);
  Result<void> flush(bool deferredFailure = false);  // an error after a write failure (the stream is then closed)
  void updateInterest();
  bool outputPaused() const { return readPauseOutput_ > 0 && pendingOutput() > readPauseOutput_; }
  // A complete record waits in the input buffer (paced input only).
  bool recordWaiting();
  bool wantsInput();
  // Hands over waiting records, within the turn's budget; schedules the next turn for the rest.
  void deliverRecords();
  void resumeInput();
  void fail(const std::string& reason, bool deferred = false);
  void release();

  EventLoop& loop_;
  UniqueFd fd_;
  FdWatch watch_;  // after fd_: removed before the descriptor closes
  bool connecting_;
  bool closing_ = false;
  Timer connectTimer_;
  Timer closeNotice_;
  std::string out_;
  std::size_t outStart_ = 0;
  std::size_t outputLimit_ = kDefaultOutputLimit;
  int outputHolds_ = 0;
  std::string in_;  // paced input not yet handed over
  std::size_t inStart_ = 0;
  std::size_t recordsPerTurn_ = kDefaultRecordsPerTurn;
  std::size_t readPauseOutput_ = 0;
  Timer nextTurn_;
  FrameFn frame_;
  RecordFn record_;
  std::string peerHost_;
  std::uint16_t peerPort_ = 0;
  ConnectedFn connected_;
  DataFn data_;
  ClosedFn closed_;
  LifeGuard guard_;
};

class TcpListener {
 public:
  using AcceptFn = std::function<void(std::unique_ptr<TcpStream>)>;

  // Binds with SO_REUSEADDR and listens; port 0 picks a free port.
  static Result<std::unique_ptr<TcpListener>> listen(EventLoop& loop, std::string_view host, std::uint16_t port,
                                                     int backlog = 64);
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;
  ~TcpListener();

  void onAccept(AcceptFn fn) { accept_ = std::move(fn); }
  std::uint16_t port() const { return port_; }

 private:
  TcpListener(EventLoop& loop, UniqueFd fd, std::uint16_t port);
  void acceptSome();
  Result<void> startWatching();
  void pauseAccepting();

  EventLoop& loop_;
  UniqueFd fd_;
  FdWatch watch_;
  Timer pause_;  // while descriptors or memory are short
  std::uint16_t port_;
  AcceptFn accept_;
  LifeGuard guard_;
};

class UdpSocket {
 public:
  // One call per datagram, never a stream of bytes.
  using DatagramFn =
      std::function<void(std::string_view datagram, const std::string& senderHost, std::uint16_t senderPort)>;

  // Binds with SO_REUSEADDR; port 0 picks a free port.
  static Result<std::unique_ptr<UdpSocket>> bind(EventLoop& loop, std::string_view host, std::uint16_t port);
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  ~UdpSocket();

  Result<void> setBroadcast(bool on);
  // One datagram, whole.
  Result<void> sendTo(std::string_view host, std::uint16_t port, std::string_view datagram);
  void onDatagram(DatagramFn fn) { datagram_ = std::move(fn); }
  std::uint16_t port() const { return port_; }

 private:
  UdpSocket(UniqueFd fd, std::uint16_t port);
  void receiveSome();

  UniqueFd fd_;
  FdWatch watch_;
  std::uint16_t port_;
  DatagramFn datagram_;
  LifeGuard guard_;
};

}  // namespace plat
