// Request/reply round trips per second through a CMessageApi on loopback TCP, against the same
// exchange done with bare blocking socket calls. The peer is the same in both runs: a thread that
// reads each record and sends it back as a final reply. The last line is the ratio of the two
// times (engine / bare).
//
//   kelm-bench-message [round-trips] [text-bytes]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "message/message_api.h"
#include "message/message_codec.h"
#include "platform/loop/socket.h"

using namespace kelm;
using Clock = std::chrono::steady_clock;

namespace {

int listenLoopback(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
    std::perror("listen");
    std::exit(1);
  }
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}

// The echo peer: one connection, every record back as a final reply, until the client closes.
void echoPeer(int listenFd) {
  const int fd = ::accept(listenFd, nullptr, nullptr);
  if (fd < 0) return;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  MessageDecoder in;
  char buf[65536];
  std::string out;
  for (;;) {
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    in.Feed(std::string_view(buf, static_cast<std::size_t>(n)));
    CMessage m;
    out.clear();
    while (in.Next(m) == DecodeStatus::kOk) {
      if (m.code == kReqClose) break;
      m.status = kStatusFinal;
      AppendMessage(out, m);
    }
    if (!out.empty() && ::send(fd, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) break;
  }
  ::close(fd);
}

double runEngine(int rounds, const std::string& text) {
  std::uint16_t port = 0;
  const int lfd = listenLoopback(port);
  std::thread peer(echoPeer, lfd);
  auto loop = plat::makeEpollLoop().value();
  CMessageApi api(plat::systemClock(), loop.get());
  int done = 0;
  ConnectParams p;
  p.address = "127.0.0.1";
  p.port = port;
  p.flags = kConnNotify | kConnNotify2 | kConnUsePort;
  p.callback = [&](std::int32_t code, void*, const RequestView* v, std::int32_t) {
    if (!v) return 0;
    if (++done < rounds) {
      api.QueueRequest(kReqInvoke, text, 0, nullptr);
    } else {
      loop->quit();
    }
    return 0;
  };
  if (api.Connect(p, 0) != 0) {
    std::fprintf(stderr, "connect failed\n");
    std::exit(1);
  }
  // One warm-up exchange, so that the connect is not timed.
  bool warm = false;
  api.QueueRequest(kReqQuery, "warm-up", kReqQuiet, nullptr);
  while (!warm) {
    loop->runOnce(10);
    warm = api.queueSize() == 0;
  }
  const auto start = Clock::now();
  api.QueueRequest(kReqInvoke, text, 0, nullptr);
  if (auto ran = loop->run(); !ran) {
    std::fprintf(stderr, "engine: %s\n", ran.message().c_str());
    std::exit(1);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  api.Close();
  peer.join();
  ::close(lfd);
  if (done != rounds) {
    std::fprintf(stderr, "engine: only %d of %d round trips\n", done, rounds);
    std::exit(1);
  }
  return seconds;
}

double runBare(int rounds, const std::string& text) {
  std::uint16_t port = 0;
  const int lfd = listenLoopback(port);
  std::thread peer(echoPeer, lfd);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("connect");
    std::exit(1);
  }
  const std::string request = EncodeMessage(CMessage(kReqInvoke, 1, kStatusRequest, text));
  std::string reply(request.size(), '\0');
  auto exchange = [&] {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) return false;
    for (std::size_t got = 0; got < reply.size();) {
      const ssize_t n = ::recv(fd, reply.data() + got, reply.size() - got, 0);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  };
  exchange();  // warm-up
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (!exchange()) {
      std::fprintf(stderr, "bare: exchange %d failed\n", i);
      std::exit(1);
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  peer.join();
  ::close(lfd);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long roundsArg = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
  const long bytesArg = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 64;
  if (roundsArg < 1 || roundsArg > 100000000 || bytesArg < 0 || bytesArg > static_cast<long>(kMaxTextBytes)) {
    std::fprintf(stderr, "usage: %s [round-trips 1..1e8] [text-bytes 0..%zu]\n", argv[0], kMaxTextBytes);
    return 2;
  }
  const int rounds = static_cast<int>(roundsArg);
  const std::string text = "Rebuild@" + std::string(static_cast<std::size_t>(bytesArg), 'x');
  const std::size_t recordBytes = EncodeMessage(CMessage(kReqInvoke, 1, 1, text)).size();
  std::printf("record: %zu bytes, %d round trips each\n", recordBytes, rounds);
  const double engine = runEngine(rounds, text);
  std::printf("engine: %.3f s, %.0f round trips/s, %.2f us each\n", engine, rounds / engine, 1e6 * engine / rounds);
  const double bare = runBare(rounds, text);
  std::printf("bare:   %.3f s, %.0f round trips/s, %.2f us each\n", bare, rounds / bare, 1e6 * bare / rounds);
  std::printf("ratio: %.2f\n", engine / bare);
  return 0;
}
