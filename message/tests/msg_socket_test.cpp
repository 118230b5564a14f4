#include "message/msg_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "message/message_api.h"
#include "message/message_codec.h"
#include "platform/loop/socket.h"
#include "platform/loop/tests/test_loop.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/seeded_random.h"

using namespace kelm;
using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kWall = 1700000000;

// A CMessageApi connected over loopback TCP to a peer that the test drives by hand. The engine's
// clock is a manual one (keep-alive, identifiers); the sockets run on a real loop.
class Transport : public ::testing::Test {
 protected:
  void SetUp() override {
    auto listening = plat::TcpListener::listen(*loop, "127.0.0.1", 0);
    ASSERT_TRUE(listening) << listening.message();
    listener = std::move(*listening);
    listener->onAccept([this](std::unique_ptr<plat::TcpStream> s) {
      peer = std::move(s);
      peer->onData([this](std::string_view b) { peerIn.Feed(b); });
      peer->onClosed([this](const std::string&) { peerClosed = true; });
    });
    ConnectParams p;
    p.address = "127.0.0.1";
    p.port = listener->port();
    p.flags = kConnNotify | kConnNotify2 | kConnUsePort;
    p.callback = [this](std::int32_t code, void*, const RequestView* v, std::int32_t) {
      codes.push_back(code);
      texts.push_back(v ? v->text : std::string("<close>"));
      if (onCallback) onCallback(code);
      return 0;
    };
    ASSERT_EQ(api->Connect(p, 0), 0);
    EXPECT_EQ(api->Connect(p, 0), plat::KELM_E_ALREADY_OPEN);
    ASSERT_TRUE(spin([&] { return peer != nullptr; }));
  }

  template <class Pred>
  bool spin(Pred done) {
    for (int i = 0; i < 2000 && !done(); ++i) loop->runOnce(5);
    return done();
  }
  // Handles whatever has already arrived on loopback, without waiting.
  void settle() {
    for (int i = 0; i < 3; ++i) loop->runOnce(0);
  }
  std::vector<CMessage> peerRecords() {
    std::vector<CMessage> out;
    CMessage m;
    while (peerIn.Next(m) == DecodeStatus::kOk) out.push_back(m);
    return out;
  }
  CMessage nextPeerRecord() {
    CMessage m;
    bool got = false;
    EXPECT_TRUE(spin([&] { return got || (got = peerIn.Next(m) == DecodeStatus::kOk); }));
    return m;
  }
  void peerSend(const std::string& bytes) { ASSERT_TRUE(peer->write(bytes)); }
  static std::string segmentOf(const std::vector<CMessage>& records) {
    std::string bytes;
    for (const CMessage& m : records) EXPECT_TRUE(AppendMessage(bytes, m));
    return bytes;
  }
  // A fresh engine and peer, for the next case of a table.
  void restart() {
    api.reset();
    peer.reset();
    listener.reset();
    peerIn = MessageDecoder();
    peerClosed = false;
    codes.clear();
    texts.clear();
    onCallback = nullptr;
    api = std::make_unique<CMessageApi>(clock, loop.get());
    SetUp();
  }

  plat::ManualClock clock{kWall, 0};
  std::unique_ptr<plat::EventLoop> loop = plat::testing::makeTestLoop();
  std::vector<std::int32_t> codes;
  std::vector<std::string> texts;
  std::function<void(std::int32_t)> onCallback;
  std::unique_ptr<plat::TcpListener> listener;
  std::unique_ptr<plat::TcpStream> peer;
  MessageDecoder peerIn;
  bool peerClosed = false;
  std::unique_ptr<CMessageApi> api = std::make_unique<CMessageApi>(clock, loop.get());
};

}  // namespace

TEST_F(Transport, ThreeRecordsInOneSegmentAreHandledInOrder) {
  ASSERT_EQ(api->QueueRequest(kReqListRights, "", 0, nullptr), kPending);
  const CMessage req = nextPeerRecord();
  EXPECT_EQ(req, CMessage(kReqListRights, kWall + 1, kStatusRequest, ""));
  std::string segment;
  AppendMessage(segment, CMessage(kReqListRights, req.id, kStatusPartial, "A@o--@1"));
  AppendMessage(segment, CMessage(kReqListRights, req.id, kStatusPartial, "B@prw@2"));
  AppendMessage(segment, CMessage(kReqListRights, req.id, kStatusFinal, "800@Functional"));
  peerSend(segment);
  ASSERT_TRUE(spin([&] { return texts.size() == 3; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"A@o--@1", "B@prw@2", "800@Functional"}));
}

TEST_F(Transport, ARecordSplitByteByByteWaitsWithoutBlocking) {
  api->QueueRequest(kReqQuery, "Disk2", 0, nullptr);
  const CMessage req = nextPeerRecord();
  const std::string wire = EncodeMessage(CMessage(kReqQuery, req.id, kStatusFinal, std::string(300, 'r')));
  for (std::size_t i = 0; i < wire.size(); ++i) {
    peerSend(wire.substr(i, 1));
    loop->runOnce(1);  // returns: the partial record never holds the thread
    if (i + 1 < wire.size()) {
      ASSERT_TRUE(texts.empty()) << i;
    }
  }
  ASSERT_TRUE(spin([&] { return texts.size() == 1; }));
  EXPECT_EQ(texts[0], std::string(300, 'r'));
}

TEST_F(Transport, KeepAliveFromThePeerIsEchoedAndNeverReachesTheEngine) {
  peerSend(EncodeMessage(CMessage(kReqKeepAlive, 12345, kStatusNotify, "hello buddy!")));
  EXPECT_EQ(nextPeerRecord(), CMessage(kReqKeepAlive, 12345, kStatusFinal, "hello buddy!"));
  peerSend(EncodeMessage(CMessage(kReqKeepAlive, 12346, kStatusFinal, "hello buddy!")));
  settle();
  EXPECT_TRUE(peerRecords().empty()) << "an answer to our own keep-alive is not answered";
  EXPECT_TRUE(codes.empty());
}

TEST_F(Transport, KeepAliveScheduleOnASilentLink) {
  std::vector<std::int64_t> sentAt;
  auto collect = [&] {
    for (const CMessage& m : peerRecords()) {
      EXPECT_EQ(m.code, kReqKeepAlive);
      EXPECT_EQ(m.status, kStatusNotify);
      EXPECT_EQ(m.text, "hello buddy!");
      sentAt.push_back(m.id - kWall);  // identifiers stay wall-clock seconds
    }
  };
  for (int second = 1; second <= 720; ++second) {
    clock.advanceSeconds(1);
    api->OnTimerTick();
    settle();
    collect();
    if (second == 719) {
      EXPECT_TRUE(codes.empty());
    }
  }
  EXPECT_TRUE(spin([&] { return peerClosed; }));
  collect();
  EXPECT_EQ(sentAt, (std::vector<std::int64_t>{121, 240, 360, 480, 600}));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{kReqClose})) << "dropped at 720 seconds";
  EXPECT_TRUE(spin([&] { return peerClosed; }));
  EXPECT_FALSE(api->HasTransport());
}

TEST_F(Transport, DataFromThePeerRestartsTheSilence) {
  clock.advanceSeconds(121);
  api->OnTimerTick();
  const CMessage ka = nextPeerRecord();
  clock.advanceSeconds(9);  // the echo arrives at 130 s
  peerSend(EncodeMessage(CMessage(ka.code, ka.id, kStatusFinal, ka.text)));
  settle();
  clock.advanceSeconds(120);  // 250: only 120 s of silence
  api->OnTimerTick();
  settle();
  EXPECT_TRUE(peerRecords().empty());
  clock.advanceSeconds(1);
  api->OnTimerTick();
  EXPECT_EQ(nextPeerRecord().id, kWall + 251);
  // The wall clock jumping does not count as silence: only the monotonic clock does.
  clock.setWall(kWall + 100000);
  api->OnTimerTick();
  settle();
  EXPECT_TRUE(peerRecords().empty());
  EXPECT_TRUE(api->HasTransport());
}

TEST_F(Transport, PeersCloseAbortsTheQueueAndCallsBackWith4104) {
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  api->QueueRequest(kReqQuery, "b", 0, nullptr);
  nextPeerRecord();
  peer->close();
  ASSERT_TRUE(spin([&] { return !codes.empty() && codes.back() == kReqClose; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"804@Abort", "804@Abort", "<close>"}));
  EXPECT_FALSE(api->HasTransport());
  EXPECT_EQ(api->QueueRequest(kReqQuery, "c", 0, nullptr), plat::E_FAIL);
  EXPECT_TRUE(api->socket()->SendMessage(CMessage(1, 1, 1, "x"))) << "a link that is down sends nothing";
  EXPECT_EQ(api->Close(), 0);
}

TEST_F(Transport, CloseSendsTheCloseRecordFirst) {
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  nextPeerRecord();
  EXPECT_EQ(api->Close(), 0);
  ASSERT_TRUE(spin([&] { return peerClosed; }));
  const auto rest = peerRecords();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].code, kReqClose);
  EXPECT_EQ(rest[0].text, "");
  EXPECT_EQ(texts, (std::vector<std::string>{"804@Abort", "<close>"}));
  EXPECT_EQ(api->socket(), nullptr);
}

TEST_F(Transport, PeersCloseRecordDisconnects) {
  std::string segment;
  AppendMessage(segment, CMessage(kReqClose, 0, kStatusRequest, ""));
  AppendMessage(segment, CMessage(kNotifyEvent, 0, kStatusNotify, "after the close"));
  peerSend(segment);
  ASSERT_TRUE(spin([&] { return peerClosed; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"<close>"}));
}

TEST_F(Transport, OversizeLengthDisconnectsWithoutReadingFurther) {
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  const CMessage req = nextPeerRecord();
  std::string bad = EncodeMessage(CMessage(kReqQuery, req.id, kStatusFinal, "")).substr(0, 12);
  bad += std::string("\xFF\xFF\xFF\x01\x00\x10\x00", 7);  // 1 MiB + 1
  peerSend(bad);
  ASSERT_TRUE(spin([&] { return peerClosed; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"804@Abort", "<close>"}));
  EXPECT_FALSE(api->HasTransport());
}

TEST_F(Transport, RandomGarbageNeverCrashesAndTheLinkStillEnds) {
  plat::SeededRandom rnd(20261210);
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  nextPeerRecord();
  for (int round = 0; round < 16 && !peerClosed; ++round) {
    std::string junk(4096, '\0');
    rnd.fill(junk.data(), junk.size());
    peerSend(junk);
    settle();
  }
  if (!peerClosed) peer->close();
  ASSERT_TRUE(spin([&] { return !codes.empty() && codes.back() == kReqClose; }));
  EXPECT_EQ(std::count(codes.begin(), codes.end(), kReqClose), 1);
  EXPECT_FALSE(api->HasTransport());
  EXPECT_EQ(api->queueSize(), 0u);
}

TEST_F(Transport, OwnerMayCloseFromInsideItsCallbacks) {
  // From a completion handed over while a segment's records are being read...
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  const CMessage req = nextPeerRecord();
  onCallback = [&](std::int32_t code) {
    if (code == kReqQuery) api->Close();
  };
  std::string segment;
  AppendMessage(segment, CMessage(kReqQuery, req.id, kStatusFinal, "800@Functional"));
  AppendMessage(segment, CMessage(kNotifyEvent, 0, kStatusNotify, "never read"));
  peerSend(segment);
  ASSERT_TRUE(spin([&] { return peerClosed; }));
  EXPECT_EQ(texts, (std::vector<std::string>{"800@Functional", "<close>"}));
  EXPECT_EQ(api->socket(), nullptr);
}

TEST_F(Transport, OwnerMayCloseFromTheCloseCallback) {
  onCallback = [&](std::int32_t code) {
    if (code == kReqClose) api->Close();
  };
  peer->close();
  ASSERT_TRUE(spin([&] { return !codes.empty(); }));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{kReqClose}));
  EXPECT_EQ(api->socket(), nullptr);
}

// An owner that counts the engine lets go of it from inside a callback that its socket's read or
// close led to: the engine, its socket and the stream go as that call ends, and nothing more of
// the segment is handed over. Under the sanitizer a member touched after that fails the test.
TEST_F(Transport, ACountedEngineReleasedFromInsideItsCallbacksGoesWhenTheCallEnds) {
  const CMessage notice(kNotifyEvent, 0, kStatusNotify, "\\Disk1@changed");
  struct Case {
    const char* what;
    bool peerCloses;           // else the peer sends a segment
    std::int32_t releaseAt;    // the code of the callback that lets go
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"a completion, with a notification waiting in the same segment", false, kReqQuery, {"800@Functional"}},
      {"a notification, with another waiting", false, kNotifyEvent, {"\\Disk1@changed"}},
      // The engine finishes ending its queue, as it finishes a tick, and then goes.
      {"the first request the peer's close ends", true, kReqQuery, {"804@Abort", "804@Abort", "<close>"}},
      {"the close callback", true, kReqClose, {"804@Abort", "804@Abort", "<close>"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    restart();
    ASSERT_FALSE(HasFatalFailure());
    CMessageApi* counted = api.release();
    counted->AddRef();
    bool released = false;
    onCallback = [&](std::int32_t code) {
      if (code != k.releaseAt || released) return;
      released = true;
      counted->Release();  // the owner's only count
    };
    ASSERT_EQ(counted->QueueRequest(kReqQuery, "a", 0, nullptr), kPending);
    const CMessage req = nextPeerRecord();
    if (k.peerCloses) {
      ASSERT_EQ(counted->QueueRequest(kReqQuery, "b", 0, nullptr), kPending);
      peer->close();
      ASSERT_TRUE(spin([&] { return released; }));
    } else {
      const CMessage reply(kReqQuery, req.id, kStatusFinal, "800@Functional");
      peerSend(k.releaseAt == kReqQuery ? segmentOf({reply, notice}) : segmentOf({notice, notice, reply}));
      ASSERT_TRUE(spin([&] { return peerClosed; })) << "the engine went, and its socket with it";
    }
    settle();
    EXPECT_EQ(texts, k.want);
  }
}

// What the peer sends, and its close, after the engine went reach no one: whether it waits unread
// when the engine goes or arrives after.
TEST_F(Transport, NothingThatArrivesAfterTheEngineWentCallsAnything) {
  for (const bool waitingUnread : {true, false}) {
    SCOPED_TRACE(waitingUnread ? "waiting unread" : "arriving after");
    restart();
    ASSERT_FALSE(HasFatalFailure());
    api->QueueRequest(kReqQuery, "a", 0, nullptr);
    const CMessage req = nextPeerRecord();
    const std::string segment = segmentOf({CMessage(kReqQuery, req.id, kStatusFinal, "800@Functional"),
                                           CMessage(kNotifyEvent, 0, kStatusNotify, "late")});
    if (waitingUnread) {
      peerSend(segment);
      peer->close();
    }
    codes.clear();
    texts.clear();
    api.reset();
    if (!waitingUnread) {
      (void)peer->write(segment);  // the link may already be shut
      peer->close();
    }
    settle();
    EXPECT_TRUE(codes.empty());
  }
}

// A connect that fails as it starts gives 0x80004005 (E_FAIL), calls nothing back and leaves no
// socket, so that the same engine (and the same transport object) connects once the peer is there.
TEST(TransportConnect, AConnectThatFailsAtOnceLeavesNoSocketAndTheObjectConnectsLater) {
  plat::ManualClock clock;
  auto loop = plat::testing::makeTestLoop();
  std::uint16_t closedPort = 0;
  {
    auto l = plat::TcpListener::listen(*loop, "127.0.0.1", 0);
    ASSERT_TRUE(l) << l.message();
    closedPort = (*l)->port();
  }
  auto live = plat::TcpListener::listen(*loop, "127.0.0.1", 0);
  ASSERT_TRUE(live) << live.message();
  std::vector<std::unique_ptr<plat::TcpStream>> accepted;
  (*live)->onAccept([&](std::unique_ptr<plat::TcpStream> s) { accepted.push_back(std::move(s)); });
  auto spin = [&](auto done) {
    for (int i = 0; i < 2000 && !done(); ++i) loop->runOnce(5);
    return done();
  };

  struct Case {
    const char* what;
    std::string host;
    std::uint16_t port;
  };
  const Case cases[] = {
      {"refused on this host", "127.0.0.1", closedPort},
      {"a name that does not resolve", "nonexistent.invalid", closedPort},
      {"a name no resolver accepts", "no such host.invalid", closedPort},
      {"a name longer than any host name", std::string(300, 'h'), closedPort},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::size_t before = accepted.size();
    CMessageApi api(clock, loop.get());
    std::vector<std::int32_t> codes;
    ConnectParams p;
    p.address = k.host;
    p.port = k.port;
    p.flags = kConnNotify | kConnNotify2 | kConnUsePort;
    p.callback = [&](std::int32_t code, void*, const RequestView*, std::int32_t) {
      codes.push_back(code);
      return 0;
    };
    EXPECT_EQ(static_cast<std::uint32_t>(api.Connect(p, 0)), 0x80004005u);
    EXPECT_EQ(api.socket(), nullptr);
    EXPECT_FALSE(api.HasTransport());
    EXPECT_EQ(api.QueueRequest(kReqQuery, "a", 0, nullptr), plat::E_FAIL);
    loop->runOnce(0);
    EXPECT_TRUE(codes.empty()) << "no close callback for a connect that never started";

    p.address = "127.0.0.1";
    p.port = (*live)->port();
    ASSERT_EQ(api.Connect(p, 0), 0) << "the engine is free to connect again";
    EXPECT_TRUE(api.HasTransport());
    EXPECT_TRUE(spin([&] { return accepted.size() == before + 1; }));

    // The transport object itself, without the engine around it.
    CMessageApi owner(clock, loop.get());
    CMsgSocket socket(owner, *loop, clock);
    EXPECT_FALSE(socket.Connect(k.host, k.port, 5s));
    socket.AttachArchives();
    EXPECT_FALSE(socket.HasOutputArchive()) << "no stream to write to";
    EXPECT_TRUE(socket.SendMessage(CMessage(kReqQuery, 1, kStatusRequest, "x"))) << "without a link nothing is sent";
    ASSERT_TRUE(socket.Connect("127.0.0.1", (*live)->port(), 5s));
    socket.AttachArchives();
    EXPECT_TRUE(socket.HasOutputArchive());
    EXPECT_TRUE(spin([&] { return accepted.size() == before + 2; }));
    EXPECT_EQ(api.Close(), 0);
    EXPECT_EQ(codes, std::vector<std::int32_t>{kReqClose}) << "only the live connection ends with a close";
  }
}
