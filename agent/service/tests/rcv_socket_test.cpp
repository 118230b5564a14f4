#include "agent/service/rcv_socket.h"
#include "platform/testing/manual_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelm {
namespace {

// A socket whose messages and disconnects are recorded.
class Recorder : public CRcvSocket {
 public:
  using CRcvSocket::CRcvSocket;
  std::vector<CMessage> got;
  int disconnects = 0;

 protected:
  void OnMessage(CMessage& m) override { got.push_back(m); }
  void OnDisconnected() override { ++disconnects; }
};

struct Pair {
  plat::ManualClock clock;
  std::unique_ptr<plat::EventLoop> loop = std::move(plat::makeEpollLoop(clock).value());
  std::unique_ptr<plat::TcpListener> listener;
  std::unique_ptr<plat::TcpStream> client;
  std::string clientIn;
  bool clientClosed = false;
  std::unique_ptr<Recorder> server;

  Pair() {
    listener = std::move(plat::TcpListener::listen(*loop, "127.0.0.1", 0).value());
    listener->onAccept([this](std::unique_ptr<plat::TcpStream> s) {
      server = std::make_unique<Recorder>(*loop, clock);
      server->AttachArchives(std::move(s));
    });
    client = std::move(plat::TcpStream::connect(*loop, "127.0.0.1", listener->port(), std::chrono::seconds(5)).value());
    client->onData([this](std::string_view b) { clientIn.append(b); });
    client->onClosed([this](const std::string&) { clientClosed = true; });
    pumpUntil([this] { return server != nullptr && client->isConnected(); });
  }
  template <class F>
  bool pumpUntil(F done) {
    for (int i = 0; i < 2000 && !done(); ++i) loop->runOnce(10);
    return done();
  }
  std::vector<CMessage> clientRecords() {
    std::vector<CMessage> out;
    MessageDecoder d;
    d.Feed(clientIn);
    CMessage m;
    while (d.Next(m) == DecodeStatus::kOk) out.push_back(m);
    return out;
  }
};

TEST(RcvSocket, RecordsInOneSegmentAreAllHandledInOrderAndKeepAlivesAnsweredHere) {
  Pair p;
  std::string bytes;
  AppendMessage(bytes, CMessage(4100, 1, 1, "a"));
  AppendMessage(bytes, CMessage(4105, 77, 1, "hello buddy!"));
  AppendMessage(bytes, CMessage(4105, 78, 3, "hello buddy!"));  // an answer: dropped
  AppendMessage(bytes, CMessage(4100, 2, 1, "b"));
  std::string half = EncodeMessage(CMessage(4100, 3, 1, "ccc"));
  bytes += half.substr(0, 10);
  ASSERT_TRUE(p.client->write(bytes).ok());
  ASSERT_TRUE(p.pumpUntil([&] { return p.server->got.size() == 2 && !p.clientIn.empty(); }));
  EXPECT_EQ(p.server->got[0].text, "a");
  EXPECT_EQ(p.server->got[1].text, "b");
  EXPECT_EQ(p.clientRecords(), (std::vector<CMessage>{CMessage(4105, 77, 3, "hello buddy!")}));
  ASSERT_TRUE(p.client->write(half.substr(10)).ok());
  ASSERT_TRUE(p.pumpUntil([&] { return p.server->got.size() == 3; }));
  EXPECT_EQ(p.server->got[2].text, "ccc");
}

TEST(RcvSocket, RepliesSentInABatchLeaveTogetherWhenTheOutermostBatchEnds) {
  Pair p;
  {
    CRcvSocket::OutputBatch outer(*p.server);
    {
      CRcvSocket::OutputBatch inner(*p.server);
      ASSERT_TRUE(p.server->SendMessage(CMessage(4100, 5, 2, "a@pr-@1")));
    }
    ASSERT_TRUE(p.server->SendMessage(CMessage(4100, 5, 3, "800@Functional")));
    for (int i = 0; i < 3; ++i) p.loop->runOnce(5);
    EXPECT_TRUE(p.clientIn.empty());
  }
  ASSERT_TRUE(p.pumpUntil([&] { return p.clientRecords().size() == 2; }));
  EXPECT_EQ(p.clientRecords()[1], CMessage(4100, 5, 3, "800@Functional"));
  // A socket without a link takes a batch too.
  Recorder unlinked(*p.loop, p.clock);
  CRcvSocket::OutputBatch none(unlinked);
  EXPECT_TRUE(unlinked.SendMessage(CMessage(4100, 6, 3, "800@Functional")));
}

TEST(RcvSocket, SilentPeerGetsFiveKeepAlivesAndIsClosedAtTwelveMinutes) {
  Pair p;
  p.clock.advanceSeconds(120);
  p.server->CheckIdle();  // 120 s: not yet
  p.clock.advanceSeconds(1);
  p.server->CheckIdle();
  p.server->CheckIdle();  // the same step: nothing more
  for (int step = 2; step <= 5; ++step) {
    p.clock.advanceSeconds(120);
    p.server->CheckIdle();
  }
  ASSERT_TRUE(p.pumpUntil([&] { return p.clientRecords().size() == 5; }));
  for (const CMessage& m : p.clientRecords()) {
    EXPECT_EQ(m.code, kReqKeepAlive);
    EXPECT_EQ(m.status, kStatusNotify);
  }
  p.clock.advanceSeconds(120);
  p.server->CheckIdle();
  EXPECT_EQ(p.server->disconnects, 1);
  EXPECT_FALSE(p.server->IsConnected());
  ASSERT_TRUE(p.pumpUntil([&] { return p.clientClosed; }));
  EXPECT_EQ(p.clientRecords().back(), CMessage(kReqClose, 0, kStatusNotify, ""));
}

TEST(RcvSocket, BrokenFramingAndPeerCloseEndTheLink) {
  {
    Pair p;
    ASSERT_TRUE(p.client->write(std::string(12, '\0') + "\xFF\xFF\xFF\xFF\xFF\xFF\x7F").ok());  // a 2 GB text
    ASSERT_TRUE(p.pumpUntil([&] { return p.server->disconnects == 1; }));
    EXPECT_TRUE(p.server->got.empty());
  }
  {
    Pair p;
    ASSERT_TRUE(p.client->write(EncodeMessage(CMessage(4104, 0, 1, ""))).ok());
    ASSERT_TRUE(p.pumpUntil([&] { return p.server->disconnects == 1; }));
    EXPECT_EQ(p.server->got.size(), 1u);  // the close is handed on before the link ends
  }
  {
    Pair p;
    p.client->close();
    ASSERT_TRUE(p.pumpUntil([&] { return p.server->disconnects == 1; }));
  }
}

TEST(RcvSocket, APeerThatDoesNotReadIsDropped) {
  Pair p;
  p.server->SetOutputLimit(64 * 1024);
  const std::string big(60000, 'x');
  bool refused = false;
  for (int i = 0; i < 1000 && !refused; ++i) refused = !p.server->SendMessage(CMessage(4100, i, 2, big));
  ASSERT_TRUE(refused);
  p.loop->runOnce(0);
  EXPECT_EQ(p.server->disconnects, 1);
  EXPECT_FALSE(p.server->IsConnected());
}

// A peer that completes no record within its first seconds is closed; one that has sent a whole
// record (a keep-alive answer included) stays.
TEST(RcvSocket, APeerThatCompletesNoRecordInTimeIsClosed) {
  const std::string record = EncodeMessage(CMessage(4105, 1, 3, "hello buddy!"));
  struct Case {
    const char* label;
    std::string sent;
    int disconnects;
  } cases[] = {
      {"silent", "", 1},
      {"half a record", record.substr(0, 7), 1},
      {"a whole record", record, 0},
  };
  for (const Case& c : cases) {
    Pair p;
    p.server->SetFirstRecordLimit(30);
    if (!c.sent.empty()) {
      ASSERT_TRUE(p.client->write(c.sent).ok());
      for (int i = 0; i < 20; ++i) p.loop->runOnce(2);
    }
    p.clock.advanceSeconds(29);
    p.server->CheckIdle();
    EXPECT_EQ(p.server->disconnects, 0) << c.label;
    p.clock.advanceSeconds(1);
    p.server->CheckIdle();
    EXPECT_EQ(p.server->disconnects, c.disconnects) << c.label;
  }
}

}  // namespace
}  // namespace kelm
