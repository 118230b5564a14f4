#include "platform/loop/socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

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
