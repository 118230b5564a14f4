#include "platform/loop/socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/base/clock.h"
#include "platform/base/unique_fd.h"
#include "platform/loop/tests/test_loop.h"
#include "platform/testing/manual_clock.h"

using namespace plat;
using namespace std::chrono_literals;

namespace {

// Runs the loop (short real waits for loopback readiness) until the condition holds.
template <class Pred>
bool spin(EventLoop& loop, Pred done, int rounds = 2000) {
  for (int i = 0; i < rounds && !done(); ++i) loop.runOnce(5);
  return done();
}

struct Pair {
  std::unique_ptr<TcpListener> listener;
  std::unique_ptr<TcpStream> client;
  std::unique_ptr<TcpStream> server;
};

Pair connectPair(EventLoop& loop) {
  Pair p;
  auto listener = TcpListener::listen(loop, "127.0.0.1", 0);
  EXPECT_TRUE(listener) << listener.message();
  p.listener = std::move(listener).value();
  p.listener->onAccept([&p](std::unique_ptr<TcpStream> s) { p.server = std::move(s); });
  auto client = TcpStream::connect(loop, "127.0.0.1", p.listener->port(), 5s);
  EXPECT_TRUE(client) << client.message();
  p.client = std::move(client).value();
  EXPECT_TRUE(spin(loop, [&] { return p.server && p.client->isConnected(); }));
  return p;
}

// A receiver bound to rxHost and a sender on loopback, both on free ports.
void bindPair(EventLoop& loop, const char* rxHost, std::unique_ptr<UdpSocket>& rx, std::unique_ptr<UdpSocket>& tx) {
  auto rxr = UdpSocket::bind(loop, rxHost, 0);
  auto txr = UdpSocket::bind(loop, "127.0.0.1", 0);
  ASSERT_TRUE(rxr && txr) << rxr.message() << txr.message();
  rx = std::move(rxr).value();
  tx = std::move(txr).value();
}

// Records for the paced-input tests: a length byte, then that many bytes; 0xFF never frames.
std::size_t frameByLengthByte(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto n = static_cast<unsigned char>(bytes[0]);
  if (n == 0xFF) return TcpStream::kBrokenFrame;
  return bytes.size() > n ? n + 1u : 0u;
}

std::string record(std::string_view body) { return std::string(1, static_cast<char>(body.size())) + std::string(body); }

}  // namespace

TEST(TcpStream, ExchangesBytesBothWaysAndReportsThePeersClose) {
  auto loop = plat::testing::makeTestLoop();
  Pair p = connectPair(*loop);
  std::string atServer, atClient, closedReason;
  p.server->onData([&](std::string_view b) { atServer.append(b); });
  p.client->onData([&](std::string_view b) { atClient.append(b); });
  p.client->onClosed([&](const std::string& why) { closedReason = why; });
  EXPECT_EQ(p.server->peerHost(), "127.0.0.1");
  ASSERT_TRUE(p.client->write("ping"));
  ASSERT_TRUE(spin(*loop, [&] { return atServer == "ping"; }));
  ASSERT_TRUE(p.server->write("pong"));
  ASSERT_TRUE(spin(*loop, [&] { return atClient == "pong"; }));
  p.server->close();
  ASSERT_TRUE(spin(*loop, [&] { return !closedReason.empty(); }));
  EXPECT_EQ(closedReason, "closed by the peer");
  EXPECT_FALSE(p.client->isOpen());
  EXPECT_FALSE(p.client->write("late"));
}

TEST(TcpStream, ConnectToAClosedPortFails) {
  auto loop = plat::testing::makeTestLoop();
  std::uint16_t port;
  {
    auto l = TcpListener::listen(*loop, "127.0.0.1", 0);
    ASSERT_TRUE(l);
    port = (*l)->port();
  }
  // Refused on this host: known at once, so no stream is made.
  auto c = TcpStream::connect(*loop, "127.0.0.1", port, 5s);
  ASSERT_FALSE(c);
  EXPECT_NE(c.message().find("refused"), std::string::npos) << c.message();
}

TEST(TcpStream, ConnectTimesOutOnTheLoopsClock) {
  ManualClock clock;
  auto loop = plat::testing::makeTestLoop(clock);
  // A listener that never accepts and whose queue is full drops further handshakes, so a connect
  // to it stays pending on loopback.
  UniqueFd lfd(::socket(AF_INET, SOCK_STREAM, 0));
  auto resolved = resolveIpv4("127.0.0.1", 0);
  ASSERT_TRUE(resolved);
  sockaddr_in addr = *resolved;
  ASSERT_EQ(::bind(lfd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(lfd.get(), 0), 0);
  socklen_t len = sizeof addr;
  getsockname(lfd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
  const std::uint16_t port = ntohs(addr.sin_port);
  std::vector<std::unique_ptr<TcpStream>> held;
  std::unique_ptr<TcpStream> pending;
  for (int i = 0; i < 8 && !pending; ++i) {
    auto connected = TcpStream::connect(*loop, "127.0.0.1", port, 3000ms);
    ASSERT_TRUE(connected) << connected.message();
    auto c = std::move(connected).value();
    for (int k = 0; k < 50 && !c->isConnected(); ++k) loop->runOnce(2);
    if (c->isConnected()) {
      held.push_back(std::move(c));
    } else {
      pending = std::move(c);
    }
  }
  ASSERT_TRUE(pending) << "every connect completed";
  std::string reason;
  pending->onClosed([&](const std::string& why) { reason = why; });
  clock.advanceMs(2999);
  loop->runOnce(0);
  EXPECT_TRUE(reason.empty());
  clock.advanceMs(1);
  loop->runOnce(0);
  EXPECT_EQ(reason, "connect timed out");
  EXPECT_FALSE(pending->isOpen());
}

TEST(TcpStream, OutputBufferIsBoundedAndDrainsWhenWritable) {
  auto loop = plat::testing::makeTestLoop();
  Pair p = connectPair(*loop);
  // Far more than the kernel's buffers take at once: the rest waits in ours.
  const std::size_t total = 24u << 20;
  std::string big(total, '\0');
  for (std::size_t i = 0; i < total; ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
  p.client->setOutputLimit(total);
  ASSERT_TRUE(p.client->write(big));
  const std::size_t pending = p.client->pendingOutput();
  ASSERT_GT(pending, 0u);
  const std::size_t room = total - pending;
  EXPECT_FALSE(p.client->write(std::string(room + 1, 'x'))) << "past the limit nothing is queued";
  EXPECT_TRUE(p.client->write(std::string(room, 'x')));
  std::string got;
  p.server->onData([&](std::string_view b) { got.append(b); });
  ASSERT_TRUE(spin(
      *loop, [&] { return got.size() >= total + room; }, 20000));
  EXPECT_EQ(got.size(), total + room);
  EXPECT_TRUE(got.compare(0, total, big) == 0);
  EXPECT_EQ(got.find_first_not_of('x', total), std::string::npos);
  EXPECT_EQ(p.client->pendingOutput(), 0u);
}

TEST(TcpStream, HeldOutputLeavesInOneSendAtTheLastReleaseWithinTheLimit) {
  auto loop = plat::testing::makeTestLoop();
  Pair p = connectPair(*loop);
  std::vector<std::string> reads;
  p.server->onData([&](std::string_view b) { reads.emplace_back(b); });
  p.client->setOutputLimit(5);
  p.client->holdOutput();
  p.client->holdOutput();
  ASSERT_TRUE(p.client->write("ab"));
  ASSERT_TRUE(p.client->write("cd"));
  // Held bytes still count against the buffer's bound.
  const Result<void> over = p.client->write("ef");
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(over.code(), ENOBUFS);
  p.client->releaseOutput();  // an inner release sends nothing
  for (int i = 0; i < 3; ++i) loop->runOnce(5);
  EXPECT_TRUE(reads.empty());
  EXPECT_EQ(p.client->pendingOutput(), 4u);
  p.client->releaseOutput();
  EXPECT_EQ(p.client->pendingOutput(), 0u);
  ASSERT_TRUE(spin(*loop, [&] { return !reads.empty(); }));
  EXPECT_EQ(reads, std::vector<std::string>{"abcd"});
  // Once released, writes go at once again; a release too many, or one after the close, is harmless.
  ASSERT_TRUE(p.client->write("g"));
  EXPECT_EQ(p.client->pendingOutput(), 0u);
  p.client->releaseOutput();
  p.client->holdOutput();
  p.client->close();
  p.client->releaseOutput();
  EXPECT_FALSE(p.client->isOpen());
}

TEST(TcpStream, DestroyedFromItsOwnDataCallback) {
  auto loop = plat::testing::makeTestLoop();
  Pair p = connectPair(*loop);
  int calls = 0;
  p.server->onData([&](std::string_view) {
    ++calls;
    p.server.reset();
  });
  ASSERT_TRUE(p.client->write(std::string(200000, 'a')));
  ASSERT_TRUE(spin(*loop, [&] { return calls > 0; }));
  for (int i = 0; i < 5; ++i) loop->runOnce(1);
  EXPECT_EQ(calls, 1);
}

TEST(TcpStream, PacedInputServesEveryPeerBetweenTheRecordsOfAFlood) {
  auto loop = plat::testing::makeTestLoop();
  Pair flood = connectPair(*loop);
  Pair quiet = connectPair(*loop);
  std::vector<std::string> got;
  for (auto* p : {&flood, &quiet}) {
    p->server->setRecordsPerTurn(4);
    p->server->onRecords(frameByLengthByte, [&got](std::string_view r) { got.emplace_back(r.substr(1)); });
  }
  std::string burst;
  const int kFlood = 3000;
  for (int i = 0; i < kFlood; ++i) burst += record("f" + std::to_string(i));
  ASSERT_TRUE(flood.client->write(burst));
  // Every flood record is in the server's input before the quiet peer's one is sent.
  ASSERT_TRUE(spin(*loop, [&] { return !got.empty(); }));
  ASSERT_TRUE(quiet.client->write(record("q")));
  ASSERT_TRUE(spin(*loop, [&] { return got.size() == kFlood + 1u; }));
  const auto q = std::find(got.begin(), got.end(), "q");
  ASSERT_NE(q, got.end());
  EXPECT_LT(q - got.begin(), kFlood / 2) << "the quiet peer waited for the whole flood";
  got.erase(q);
  for (int i = 0; i < kFlood; ++i) ASSERT_EQ(got[i], "f" + std::to_string(i)) << "order kept";
}

TEST(TcpStream, PacedInputHandsOverEveryRecordBeforeThePeersCloseAndStopsAtBrokenFraming) {
  auto loop = plat::testing::makeTestLoop();
  struct Case {
    std::string tail;  // after ten good records
    bool clientCloses;
    const char* reason;
  };
  const Case cases[] = {
      {"", true, "closed by the peer"},
      {std::string("\xFF") + record("after"), false, "unreadable record"},
  };
  for (const Case& c : cases) {
    Pair p = connectPair(*loop);
    std::vector<std::string> got;
    std::string reason;
    p.server->setRecordsPerTurn(3);
    p.server->onRecords(frameByLengthByte, [&](std::string_view r) { got.emplace_back(r.substr(1)); });
    p.server->onClosed([&](const std::string& why) { reason = why; });
    std::string bytes;
    for (int i = 0; i < 10; ++i) bytes += record(std::string(static_cast<std::size_t>(i) * 20, 'a' + i));
    ASSERT_TRUE(p.client->write(bytes + c.tail));
    if (c.clientCloses) p.client->close();
    ASSERT_TRUE(spin(*loop, [&] { return !reason.empty(); })) << c.reason;
    EXPECT_EQ(reason, c.reason);
    ASSERT_EQ(got.size(), 10u) << c.reason;
    for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i], std::string(static_cast<std::size_t>(i) * 20, 'a' + i));
  }
}

TEST(TcpStream, ReadingPausesWhileThePeerLeavesItsRepliesAndResumesWhenTheyDrain) {
  auto loop = plat::testing::makeTestLoop();
  auto listener = TcpListener::listen(*loop, "127.0.0.1", 0);
  ASSERT_TRUE(listener) << listener.message();
  std::unique_ptr<TcpStream> server;
  (*listener)->onAccept([&](std::unique_ptr<TcpStream> s) { server = std::move(s); });
  // A peer with a small receive window, so that the kernel holds little of what it does not read.
  UniqueFd peer(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int window = 4096;
  ASSERT_EQ(setsockopt(peer.get(), SOL_SOCKET, SO_RCVBUF, &window, sizeof window), 0);
  auto addr = resolveIpv4("127.0.0.1", (*listener)->port());
  ASSERT_TRUE(addr);
  ASSERT_EQ(::connect(peer.get(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr), 0);
  ASSERT_TRUE(spin(*loop, [&] { return server != nullptr; }));
  const std::size_t kReply = 256u << 10;
  const std::size_t kPause = 512u << 10;
  server->setOutputLimit(256u << 20);
  server->setReadPauseOutput(kPause);
  int handled = 0;
  server->onRecords(frameByLengthByte, [&](std::string_view) {
    ++handled;
    EXPECT_TRUE(server->write(std::string(kReply, 'r')));
  });
  // Far more requests than the kernel's buffers and the bound take replies for, and nothing read:
  // the server stops handling them once its output is past the bound.
  const int kRequests = 100;
  std::string requests;
  for (int i = 0; i < kRequests; ++i) requests += record("request");
  ASSERT_EQ(::send(peer.get(), requests.data(), requests.size(), 0), static_cast<ssize_t>(requests.size()));
  ASSERT_TRUE(spin(*loop, [&] { return server->pendingOutput() > kPause; }));
  for (int i = 0; i < 50; ++i) loop->runOnce(2);
  EXPECT_LT(handled, kRequests / 2);
  EXPECT_LE(server->pendingOutput(), kPause + kReply) << "one reply past the bound, no more";
  // Taking the replies lets the rest be handled.
  std::size_t taken = 0;
  char buf[65536];
  for (int i = 0; i < 20000 && taken < kRequests * kReply; ++i) {
    const ssize_t n = ::recv(peer.get(), buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) taken += static_cast<std::size_t>(n);
    loop->runOnce(n > 0 ? 0 : 1);
  }
  EXPECT_EQ(taken, kRequests * kReply);
  EXPECT_EQ(handled, kRequests);
}

TEST(TcpListener, RefusesAPortInUseWithoutReuse) {
  auto loop = plat::testing::makeTestLoop();
  auto a = TcpListener::listen(*loop, "127.0.0.1", 0);
  ASSERT_TRUE(a);
  auto b = TcpListener::listen(*loop, "127.0.0.1", (*a)->port());
  EXPECT_FALSE(b);
  EXPECT_EQ(b.code(), EADDRINUSE);
  EXPECT_NE(b.message().find("bind"), std::string::npos);
  EXPECT_FALSE(TcpListener::listen(*loop, "no such host.invalid", 0));
}

TEST(UdpSocket, EachDatagramIsOneUnitWithItsSender) {
  auto loop = plat::testing::makeTestLoop();
  std::unique_ptr<UdpSocket> rx, tx;
  ASSERT_NO_FATAL_FAILURE(bindPair(*loop, "127.0.0.1", rx, tx));
  struct Got {
    std::string data, host;
    std::uint16_t port;
  };
  std::vector<Got> got;
  rx->onDatagram([&](std::string_view d, const std::string& h, std::uint16_t port) {
    got.push_back({std::string(d), h, port});
  });
  const std::vector<std::string> sent = {"first", "", std::string(60000, 'z'), "last"};
  for (const auto& d : sent) {
    auto r = tx->sendTo("127.0.0.1", rx->port(), d);
    ASSERT_TRUE(r) << r.message();
  }
  ASSERT_TRUE(spin(*loop, [&] { return got.size() == sent.size(); }));
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(got[i].data, sent[i]);
    EXPECT_EQ(got[i].host, "127.0.0.1");
    EXPECT_EQ(got[i].port, tx->port());
  }
}

TEST(UdpSocket, BroadcastNeedsTheOption) {
  auto loop = plat::testing::makeTestLoop();
  std::unique_ptr<UdpSocket> rx, tx;
  ASSERT_NO_FATAL_FAILURE(bindPair(*loop, "", rx, tx));
  int received = 0;
  rx->onDatagram([&](std::string_view d, const std::string&, std::uint16_t) { received += d == "hi" ? 1 : 0; });
  // The loopback network's broadcast address keeps the traffic on this host.
  EXPECT_FALSE(tx->sendTo("127.255.255.255", rx->port(), "hi"));
  ASSERT_TRUE(tx->setBroadcast(true));
  auto sent = tx->sendTo("127.255.255.255", rx->port(), "hi");
  ASSERT_TRUE(sent) << sent.message();
  ASSERT_TRUE(spin(*loop, [&] { return received == 1; }));
}
