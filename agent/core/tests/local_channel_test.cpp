// The local channel: connections per client, the drain as a posted task, and TCP clients.
#include "agent/core/svr_socket.h"
#include "agent/crypto/logon_token.h"
#include "message/message_codec.h"
#include "agent/core/tests/agent_fixture.h"
#include "platform/testing/manual_clock.h"

namespace kelm::agent::testing {
namespace {

using LocalChannelTest = AgentTest;

TEST_F(LocalChannelTest, RecordsAreHandledAfterTheReceivingCallReturnsInOrder) {
  Client& c = NewClient();
  ASSERT_EQ(Logon(c, "admin", "secret"), 800);
  c.sink->got.clear();
  for (int i = 0; i < 10; ++i) c.object->ProcessMessage(kReqQuery, 1000 + i, kStatusRequest, "TestEvent");
  EXPECT_TRUE(c.sink->got.empty());  // nothing ran inside ProcessMessage
  loop_->runOnce(0);                 // one drain empties the whole queue
  ASSERT_EQ(c.sink->got.size(), 20u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(c.sink->got[2 * i].id, 1000 + i);
    EXPECT_EQ(c.sink->got[2 * i + 1].status, kStatusFinal);
  }
}

TEST_F(LocalChannelTest, AFirstRecordOpensTheConnectionAndANewClientGetsNotLoggedOn) {
  auto object = plat::com::makeObject<CComSocketObject>(*doc_);
  auto sink = plat::com::makeObject<CaptureSink>();
  plat::com::ComPtr<plat::com::IConnectionPoint> point;
  ASSERT_EQ(object->FindConnectionPoint(IComSocketEvents::kIid, point.put()), plat::S_OK);
  std::uint32_t cookie = 0;
  ASSERT_EQ(point->Advise(static_cast<IComSocketEvents*>(sink.get()), &cookie), plat::S_OK);
  const std::size_t before = doc_->ClientCount();
  object->ProcessMessage(kReqComOpen, 0, 0, "");
  EXPECT_EQ(doc_->ClientCount(), before + 1);
  loop_->runOnce(0);
  ASSERT_EQ(sink->got.size(), 1u);
  EXPECT_EQ(sink->got[0].code, kNotifyNotLoggedOn);
  // A second 4112 keeps the client's one connection.
  object->ProcessMessage(kReqComOpen, 0, 0, "");
  EXPECT_EQ(doc_->ClientCount(), before + 1);
  loop_->runOnce(0);
  object->ProcessMessage(kReqComClose, 0, 0, "");
  EXPECT_EQ(doc_->ClientCount(), before);
  // After 4113 a request opens a fresh connection without logons.
  sink->got.clear();
  object->ProcessMessage(kReqInvoke, 5, kStatusRequest, "AllEmailEvent@");
  loop_->runOnce(0);
  ASSERT_EQ(sink->got.size(), 1u);
  EXPECT_EQ(sink->got[0].code, kNotifyNotLoggedOn);
  object->ProcessMessage(kReqComClose, 0, 0, "");
}

TEST_F(LocalChannelTest, EveryClientHasItsOwnConnectionAndLogons) {
  Client& a = NewClient();
  Client& b = NewClient();
  ASSERT_EQ(Logon(a, "admin", "secret"), 800);
  EXPECT_EQ(FinalResult(Request(a, kReqListRights, "")), 800);
  auto got = Request(b, kReqListRights, "");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].code, kNotifyNotLoggedOn);
  EXPECT_TRUE(a.sink->got.empty() || a.sink->got.back().status == kStatusFinal);
}

// A document listening on loopback ports of its own, on a manual clock.
struct TcpDoc {
  explicit TcpDoc(std::size_t maxClients = 256) {
    DocOptions o;
    o.loop = loop.get();
    o.clock = &clock;
    o.hostName = "h";
    o.localChannel = false;
    o.tcpPort = 0;
    o.serverAnnouncePort = 0;
    o.listenHost = "127.0.0.1";
    o.maxClients = maxClients;
    doc = std::make_unique<CHalvornDoc>(o);
    doc->StartListening();
  }
  plat::testing::TempRoot root;
  plat::ManualClock clock;
  std::unique_ptr<plat::EventLoop> loop = std::move(plat::makeEpollLoop(clock).value());
  std::unique_ptr<CHalvornDoc> doc;
};

TEST(TcpClients, ASilentClientGetsAKeepAliveAndLosesItsLogons) {
  TcpDoc t;
  ASSERT_EQ(t.doc->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
  auto stream = std::move(plat::TcpStream::connect(*t.loop, "127.0.0.1", t.doc->TcpPort(), std::chrono::seconds(5)).value());
  std::string in;
  stream->onData([&](std::string_view b) { in.append(b); });
  auto records = [&] {
    std::vector<CMessage> out;
    MessageDecoder d;
    d.Feed(in);
    CMessage m;
    while (d.Next(m) == DecodeStatus::kOk) out.push_back(m);
    return out;
  };
  auto pumpFor = [&](std::size_t n) {
    for (int i = 0; i < 500 && records().size() < n; ++i) t.loop->runOnce(10);
  };
  ASSERT_TRUE(stream->write(EncodeMessage(CMessage(kReqLogon, 1, kStatusRequest,
                                                   crypto::LogonText(0, 0, crypto::BuildLogonToken("admin", "secret")))))
                  .ok());
  pumpFor(2);
  ASSERT_EQ(records().size(), 2u);
  EXPECT_EQ(records()[1].text, "800@Functional");
  in.clear();
  t.clock.advanceSeconds(121);
  t.doc->OnTick();
  pumpFor(1);
  auto got = records();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got[0].code, kReqKeepAlive);
  EXPECT_EQ(got[0].status, kStatusNotify);
  in.clear();
  ASSERT_TRUE(stream->write(EncodeMessage(CMessage(kReqListRights, 2, kStatusRequest, ""))).ok());
  pumpFor(1);
  got = records();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].code, kNotifyNotLoggedOn);  // the logon ended with the silence
}

TEST(TcpClients, AClosedConnectionLeavesTheListAndTheNumberIsCapped) {
  TcpDoc t(2);
  auto& doc = *t.doc;
  auto& loop = t.loop;
  ASSERT_NE(doc.TcpPort(), 0);
  std::vector<std::unique_ptr<plat::TcpStream>> streams;
  std::vector<bool> closed(3, false);
  for (int i = 0; i < 3; ++i) {
    streams.push_back(std::move(plat::TcpStream::connect(*loop, "127.0.0.1", doc.TcpPort(), std::chrono::seconds(5)).value()));
    streams.back()->onClosed([&closed, i](const std::string&) { closed[i] = true; });
  }
  for (int i = 0; i < 500 && !closed[2]; ++i) loop->runOnce(10);
  EXPECT_EQ(doc.ClientCount(), 2u);
  EXPECT_TRUE(closed[2]);  // the third was refused
  streams[0]->close();
  for (int i = 0; i < 500 && doc.ClientCount() != 1; ++i) loop->runOnce(10);
  EXPECT_EQ(doc.ClientCount(), 1u);
}

}  // namespace
}  // namespace kelm::agent::testing
