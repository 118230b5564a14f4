// The client end of the ComSocket channel against an agent end the test drives by hand, on one
// loop: an object released from inside its own callbacks, or before what it was sent arrives, is
// never called into again (the sanitizer build turns any use after free into a failure).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "message/com_socket.h"
#include "message/message_codec.h"
#include "platform/com/activation.h"
#include "platform/com/local_listener.h"
#include "platform/com/object.h"
#include "platform/loop/socket.h"
#include "platform/loop/tests/test_loop.h"
#include "platform/testing/temp_root.h"

using namespace kelm;
using plat::HRESULT;
using plat::com::ComPtr;

namespace {

// A subscriber that records every reply and may act from inside the call.
class RecordingSink final : public plat::com::Object<IComSocketEvents> {
 public:
  HRESULT SendReply(std::int32_t code, std::int32_t serial, std::int32_t status, const std::string& text) override {
    got.emplace_back(code, serial, status, text);
    if (onReply) onReply(got.back());
    return plat::S_OK;
  }
  HRESULT Invoke(std::int32_t, const std::vector<DispArg>&, std::int32_t*) override { return plat::E_NOTIMPL; }

  std::vector<CMessage> got;
  std::function<void(const CMessage&)> onReply;
};

class ComSocketProxyTest : public ::testing::Test {
 protected:
  void SetUp() override { open(); }
  void TearDown() override { proxy.reset(); }

  void open() {
    ASSERT_EQ(plat::EventLoop::current(), loop.get());
    ASSERT_EQ(plat::com::registerLocalServer(kClsidComSocket, "ComSocket Class", kComSocketName, "/usr/sbin/halvorn"),
              plat::S_OK);
    auto listening = plat::com::LocalListener::listen(*loop, kComSocketName, std::nullopt);
    ASSERT_TRUE(listening) << listening.message();
    listener = std::move(*listening);
    listener->onAccept([this](std::unique_ptr<plat::TcpStream> s) {
      agentEnd = std::move(s);
      agentEnd->onData([this](std::string_view b) { atAgent.Feed(b); });
      agentEnd->onClosed([this](const std::string&) { agentSawClose = true; });
    });
    RegisterComSocketProxy();
    ComPtr<plat::com::IUnknown> unknown;
    ASSERT_EQ(plat::com::CoCreateInstance(kClsidComSocket, plat::com::CLSCTX_LOCAL_SERVER, unknown), plat::S_OK);
    proxy = unknown.as<IComSocket>();
    ASSERT_TRUE(proxy);
    auto container = proxy.as<plat::com::IConnectionPointContainer>();
    ASSERT_TRUE(container);
    ComPtr<plat::com::IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(IComSocketEvents::kIid, point.put()), plat::S_OK);
    sink = ComPtr<RecordingSink>(new RecordingSink);
    ASSERT_EQ(point->Advise(sink.get(), &cookie), plat::S_OK);
    ASSERT_TRUE(spin([&] { return agentEnd != nullptr; }));
  }
  // A fresh object and agent end, for the next case of a table.
  void reopen() {
    proxy.reset();
    sink.reset();
    agentEnd.reset();
    listener.reset();
    atAgent = MessageDecoder();
    agentSawClose = false;
    open();
  }

  template <class Pred>
  bool spin(Pred done) {
    for (int i = 0; i < 2000 && !done(); ++i) loop->runOnce(5);
    return done();
  }
  // Handles what has already arrived, without waiting for more.
  void settle() {
    for (int i = 0; i < 5; ++i) loop->runOnce(1);
  }
  // One write, so that the client reads them in one go.
  plat::Result<void> agentSends(const std::vector<CMessage>& records) {
    std::string bytes;
    for (const CMessage& m : records) EXPECT_TRUE(AppendMessage(bytes, m));
    return agentEnd->write(bytes);
  }

  plat::testing::TempRoot root;
  std::unique_ptr<plat::EventLoop> loop = plat::testing::makeTestLoop();
  std::unique_ptr<plat::com::LocalListener> listener;
  std::unique_ptr<plat::TcpStream> agentEnd;
  MessageDecoder atAgent;
  bool agentSawClose = false;
  ComPtr<IComSocket> proxy;
  ComPtr<RecordingSink> sink;
  std::uint32_t cookie = 0;
};

const CMessage kFirst(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@");
const CMessage kSecond(kReqQuery, 7, kStatusFinal, "800@Functional");
const CMessage kThird(kNotifyEvent, 0, kStatusNotify, "\\Disk1@changed");
const CMessage kCloseRecord(kReqClose, 0, kStatusRequest, "");

TEST_F(ComSocketProxyTest, RepliesReachTheSinkAndTheAgentsGoingIsOneCloseRecord) {
  ASSERT_EQ(proxy->ProcessMessage(kReqQuery, 7, kStatusRequest, "."), plat::S_OK);
  CMessage m;
  bool got = false;
  ASSERT_TRUE(spin([&] { return got || (got = atAgent.Next(m) == DecodeStatus::kOk); }));
  EXPECT_EQ(m, CMessage(kReqQuery, 7, kStatusRequest, "."));
  ASSERT_TRUE(agentSends({kFirst, kSecond}));
  ASSERT_TRUE(spin([&] { return sink->got.size() == 2; }));
  agentEnd->close();
  ASSERT_TRUE(spin([&] { return sink->got.size() == 3; }));
  EXPECT_EQ(sink->got, (std::vector<CMessage>{kFirst, kSecond, kCloseRecord}));
  EXPECT_EQ(proxy->ProcessMessage(kReqQuery, 8, kStatusRequest, "."), plat::com::RPC_E_DISCONNECTED);
}

// The sink's owner lets go of the object from inside a reply while more records of the same read
// wait: the object finishes that call, hands on nothing more and goes; the agent sees the channel
// close.
TEST_F(ComSocketProxyTest, TheLastReleaseFromInsideACallbackEndsDeliveryAndTheObject) {
  struct Case {
    const char* what;
    bool unadviseFirst;  // as a well-behaved owner does it
    std::size_t releaseAt;
  };
  const Case cases[] = {
      {"released at the first of three records", false, 1},
      {"unadvised and released at the first", true, 1},
      {"released at the second", false, 2},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    reopen();
    ASSERT_FALSE(HasFatalFailure());
    sink->onReply = [&](const CMessage&) {
      if (sink->got.size() != k.releaseAt) return;
      if (k.unadviseFirst) {
        ComPtr<plat::com::IConnectionPoint> point;
        ASSERT_EQ(proxy.as<plat::com::IConnectionPointContainer>()->FindConnectionPoint(IComSocketEvents::kIid,
                                                                                         point.put()),
                  plat::S_OK);
        EXPECT_EQ(point->Unadvise(cookie), plat::S_OK);
      }
      proxy.reset();  // the last reference
    };
    ASSERT_TRUE(agentSends({kFirst, kSecond, kThird}));
    ASSERT_TRUE(spin([&] { return agentSawClose; })) << "the object went, and its channel with it";
    settle();
    EXPECT_EQ(sink->got.size(), k.releaseAt) << "nothing after the release";
    EXPECT_EQ(sink->got.front(), kFirst);
  }
}

TEST_F(ComSocketProxyTest, TheLastReleaseFromInsideTheCloseRecordIsSafe) {
  sink->onReply = [&](const CMessage& m) {
    if (m.code == kReqClose) proxy.reset();
  };
  ASSERT_TRUE(agentSends({kFirst}));
  agentEnd->close();
  ASSERT_TRUE(spin([&] { return !proxy; }));
  settle();
  EXPECT_EQ(sink->got, (std::vector<CMessage>{kFirst, kCloseRecord}));
}

// What the agent sends, and its going, after the object was released reach no one. The cases
// differ in what is already waiting when the object goes: records in the socket, the agent's close,
// or the close notice of a write that failed.
TEST_F(ComSocketProxyTest, NothingThatArrivesAfterTheReleaseCallsAnything) {
  enum class Before { kNothing, kRecordsAndClose, kFailedWrite };
  struct Case {
    const char* what;
    Before before;
  };
  const Case cases[] = {
      {"records and the close arrive after the release", Before::kNothing},
      {"records and the close wait unread at the release", Before::kRecordsAndClose},
      {"a failed write's close notice is pending at the release", Before::kFailedWrite},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    reopen();
    ASSERT_FALSE(HasFatalFailure());
    if (k.before == Before::kRecordsAndClose) {
      ASSERT_TRUE(agentSends({kFirst, kSecond}));
      agentEnd->close();
    } else if (k.before == Before::kFailedWrite) {
      agentEnd->close();
      // The agent's end is gone: sending fails at once, and the close notice waits for the loop.
      EXPECT_EQ(proxy->ProcessMessage(kReqQuery, 9, kStatusRequest, "."), plat::com::RPC_E_DISCONNECTED);
    }
    proxy.reset();
    if (k.before == Before::kNothing) {
      (void)agentSends({kFirst, kSecond});  // the channel may already be shut
      agentEnd->close();
    }
    settle();
    EXPECT_TRUE(sink->got.empty());
  }
}

}  // namespace
