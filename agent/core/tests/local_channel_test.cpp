// The local channel: connections per client, the drain as a posted task, and TCP clients.
#include <algorithm>

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

// TCP clients of a TcpDoc, each with what it received and whether it was closed.
struct Peers {
  explicit Peers(TcpDoc& doc) : t(doc) {}
  std::size_t Connect() {
    const std::size_t i = streams.size();
    streams.push_back(std::move(plat::TcpStream::connect(*t.loop, "127.0.0.1", t.doc->TcpPort(), std::chrono::seconds(5)).value()));
    in.emplace_back();
    closed.push_back(false);
    streams[i]->onData([this, i](std::string_view b) { in[i].append(b); });
    streams[i]->onClosed([this, i](const std::string&) { closed[i] = true; });
    for (int k = 0; k < 500 && t.doc->ClientCount() + refusedOrGone() < streams.size(); ++k) t.loop->runOnce(5);
    return i;
  }
  std::size_t refusedOrGone() const { return static_cast<std::size_t>(std::count(closed.begin(), closed.end(), true)); }
  // Sends a request and waits for its final reply.
  void Ask(std::size_t i, std::int32_t code, const std::string& text) {
    const std::size_t before = in[i].size();
    ASSERT_TRUE(streams[i]->write(EncodeMessage(CMessage(code, 7, kStatusRequest, text))).ok());
    for (int k = 0; k < 500 && in[i].find("@", before) == std::string::npos && !closed[i]; ++k) t.loop->runOnce(5);
    for (int k = 0; k < 20; ++k) t.loop->runOnce(1);
  }
  void Settle() {
    for (int k = 0; k < 40; ++k) t.loop->runOnce(2);
  }
  TcpDoc& t;
  std::vector<std::unique_ptr<plat::TcpStream>> streams;
  std::vector<std::string> in;
  std::vector<bool> closed;
};

TEST(TcpClients, AClosedConnectionLeavesTheListAndTheNumberIsCapped) {
  TcpDoc t(2);
  ASSERT_EQ(t.doc->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
  ASSERT_NE(t.doc->TcpPort(), 0);
  Peers p(t);
  const std::string logon = crypto::LogonText(0, 0, crypto::BuildLogonToken("admin", "secret"));
  for (int i = 0; i < 2; ++i) p.Ask(p.Connect(), kReqLogon, logon);
  p.Connect();
  p.Settle();
  EXPECT_EQ(t.doc->ClientCount(), 2u);
  EXPECT_TRUE(p.closed[2]);  // the third was refused
  p.streams[0]->close();
  for (int i = 0; i < 500 && t.doc->ClientCount() != 1; ++i) t.loop->runOnce(10);
  EXPECT_EQ(t.doc->ClientCount(), 1u);
}

// Clients without a logon take at most half the places: a newcomer then closes the oldest that has
// asked nothing, never one that has sent requests; and a client that completes no record in 30
// seconds is closed.
TEST(TcpClients, ClientsWithoutALogonTakeHalfThePlacesAndSilentOnesGo) {
  TcpDoc t(4);
  ASSERT_EQ(t.doc->Accounts().InitUserStore("admin", "secret"), plat::S_OK);
  Peers p(t);
  const auto admin = p.Connect();
  p.Ask(admin, kReqLogon, crypto::LogonText(0, 0, crypto::BuildLogonToken("admin", "secret")));
  const auto asker = p.Connect();
  p.Ask(asker, kReqQuery, ".");
  const auto silent = p.Connect();
  const auto newcomer = p.Connect();
  p.Settle();
  EXPECT_TRUE(p.closed[silent]);
  EXPECT_FALSE(p.closed[asker]);
  EXPECT_FALSE(p.closed[newcomer]);
  EXPECT_FALSE(p.closed[admin]);
  EXPECT_EQ(t.doc->ClientCount(), 3u);
  // Still silent after 30 seconds: closed; the asker stays although it never logged on.
  t.clock.advanceSeconds(29);
  t.doc->OnTick();
  p.Settle();
  EXPECT_FALSE(p.closed[newcomer]);
  t.clock.advanceSeconds(1);
  t.doc->OnTick();
  p.Settle();
  EXPECT_TRUE(p.closed[newcomer]);
  EXPECT_FALSE(p.closed[asker]);
  EXPECT_EQ(t.doc->ClientCount(), 2u);
}

}  // namespace
}  // namespace kelm::agent::testing
