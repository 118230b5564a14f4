// The local channel between the console's sink and the agent's server, on a private socket.
#include "message/agent_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "message/agent_event_sink.h"
#include "message/com_socket_server.h"
#include "message/message_codec.h"
#include "platform/testing/temp_root.h"
#include "platform/com/activation.h"
#include "platform/com/object.h"
#include "platform/loop/event_loop.h"
#include "platform/loop/tests/test_loop.h"

using namespace kelm;
using plat::HRESULT;
using plat::com::ComPtr;

namespace {

struct Seen {
  int client;
  CMessage record;
};

// What every agent object of the server saw, across threads.
struct ServerLog {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Seen> seen;
  std::atomic<int> alive{0};
  std::atomic<int> next{1};

  void add(int client, CMessage m) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back({client, std::move(m)});
    changed.notify_all();
  }
  std::vector<Seen> snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
  int count(std::int32_t code) {
    int n = 0;
    for (auto& s : snapshot()) n += s.record.code == code;
    return n;
  }
};

// The agent's side in these tests: answers 4112 with the not-logged-on notice and every request
// with a final reply that names the client and the request's text.
class FakeAgent final : public plat::com::Object<IComSocket, plat::com::IConnectionPointContainer> {
 public:
  explicit FakeAgent(ServerLog& log) : log_(log), client_(log.next++) { ++log_.alive; }
  ~FakeAgent() override {
    events_.clear();
    --log_.alive;
  }
  HRESULT ProcessMessage(std::int32_t code, std::int32_t serial, std::int32_t status,
                         const std::string& text) override {
    log_.add(client_, CMessage(code, serial, status, text));
    if (code == kReqComOpen)
      fire(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@");
    else if (status == kStatusRequest && text != "hold")  // "hold" is never answered
      fire(code, serial, kStatusFinal, std::to_string(client_) + ":" + text);
    return plat::S_OK;
  }
  HRESULT FindConnectionPoint(const plat::com::Guid& iid, plat::com::IConnectionPoint** out) override {
    *out = nullptr;
    if (iid != IComSocketEvents::kIid) return plat::CONNECT_E_NOCONNECTION;
    events_.AddRef();
    *out = &events_;
    return plat::S_OK;
  }

 private:
  void fire(std::int32_t code, std::int32_t id, std::int32_t status, const std::string& text) {
    events_.fire([&](IComSocketEvents& s) { s.SendReply(code, id, status, text); });
  }
  ServerLog& log_;
  int client_;
  plat::com::ConnectionPoint<IComSocketEvents> events_{static_cast<IComSocket&>(*this)};
};

// The agent's worker thread with its own loop and the channel's server.
class AgentThread {
 public:
  explicit AgentThread(ServerLog& log) {
    std::promise<std::string> ready;
    auto started = ready.get_future();
    thread_ = std::thread([&, p = std::move(ready)]() mutable {
      auto loop = plat::makeEpollLoop().value();
      auto server = ComSocketServer::start(
          *loop, [&log] { return ComPtr<plat::com::IUnknown>(static_cast<IComSocket*>(new FakeAgent(log))); },
          kComSocketName, std::nullopt);
      loop_ = loop.get();
      p.set_value(server ? std::string() : server.message());
      if (server) {
        auto ran = loop->run();
        EXPECT_TRUE(ran) << ran.message();
      }
    });
    error_ = started.get();
  }
  ~AgentThread() {
    if (loop_) loop_->quit();
    thread_.join();
  }
  const std::string& error() const { return error_; }

 private:
  std::thread thread_;
  plat::EventLoop* loop_ = nullptr;
  std::string error_;
};

class AgentChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::com::registerLocalServer(kClsidComSocket, "ComSocket Class", kComSocketName, "/usr/sbin/halvorn"),
              plat::S_OK);
  }
  void startAgent() {
    agent_ = std::make_unique<AgentThread>(log);
    ASSERT_EQ(agent_->error(), "");
  }
  // Runs the console's loop until pred holds (a short real wait for socket readiness, bounded).
  template <class Pred>
  bool pump(Pred pred) {
    for (int i = 0; i < 500 && !pred(); ++i) loop->runOnce(10);
    return pred();
  }
  // Waits for the agent's thread to see something.
  template <class Pred>
  bool waitAgent(Pred pred) {
    for (int i = 0; i < 500 && !pred(); ++i) {
      std::unique_lock<std::mutex> lock(log.mutex);
      log.changed.wait_for(lock, std::chrono::milliseconds(10));
    }
    return pred();
  }
  // A console: what its owner got, and on which thread.
  struct Console {
    std::vector<CMessage> got;
    std::vector<std::thread::id> threads;
    std::vector<std::string> notices;
    CAgentEventSink* sink = nullptr;
  };
  void open(Console& c) {
    c.sink = CAgentEventSink::Open(
        [&c](CMessage& m) {
          c.got.push_back(m);
          c.threads.push_back(std::this_thread::get_id());
        },
        [&c](const std::string& text) { c.notices.push_back(text); });
  }

  plat::testing::TempRoot root;
  std::unique_ptr<plat::EventLoop> loop = plat::testing::makeTestLoop();
  ServerLog log;
  std::unique_ptr<AgentThread> agent_;
};

TEST_F(AgentChannelTest, OpenRequestsRepliesAndExactlyOneClose) {
  startAgent();
  Console c;
  open(c);
  ASSERT_NE(c.sink, nullptr);
  EXPECT_TRUE(c.notices.empty());
  // 4112 went first; the agent's answer to it arrives as a notification.
  ASSERT_TRUE(pump([&] { return !c.got.empty(); }));
  EXPECT_EQ(c.got[0], CMessage(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@"));
  for (int i = 1; i <= 10; ++i)
    ASSERT_TRUE(c.sink->Send(CMessage(kReqChangeFolder, i, kStatusRequest, "step" + std::to_string(i))));
  ASSERT_TRUE(pump([&] { return c.got.size() == 11; }));
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(c.got[static_cast<std::size_t>(i)],
              CMessage(kReqChangeFolder, i, kStatusFinal, "1:step" + std::to_string(i)))
        << "replies in order";
  }
  for (auto id : c.threads)
    EXPECT_EQ(id, std::this_thread::get_id()) << "replies arrive on the console's own loop thread";

  c.sink->Close();
  ASSERT_TRUE(waitAgent([&] { return log.alive == 0; })) << "closing the sink ends the agent's client";
  auto seen = log.snapshot();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front().record, CMessage(kReqComOpen, 0, 0, ""));
  EXPECT_EQ(seen.back().record, CMessage(kReqComClose, 0, 0, ""));
  EXPECT_EQ(log.count(kReqComOpen), 1);
  EXPECT_EQ(log.count(kReqComClose), 1) << "the socket's close after 4113 adds no second one";
}

// A client that ended its session with 4113 and then sent more has opened a new one on the agent;
// its going ends that one too, so that nothing it opened stays behind.
TEST_F(AgentChannelTest, AClientThatGoesEndsTheSessionItReopenedAfterItsClose) {
  startAgent();
  auto fd = plat::com::connectLocalSocket(plat::com::localSocketPath(kComSocketName));
  ASSERT_TRUE(fd) << fd.message();
  std::string bytes;
  for (int round = 0; round < 3; ++round) {
    AppendMessage(bytes, CMessage(kReqComOpen, 0, 0, ""));
    AppendMessage(bytes, CMessage(kReqComClose, 0, 0, ""));
    AppendMessage(bytes, CMessage(kReqQuery, round, kStatusRequest, "."));
  }
  ASSERT_EQ(::write(fd->get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ASSERT_TRUE(waitAgent([&] { return log.count(kReqQuery) == 3; }));
  fd->reset();
  ASSERT_TRUE(waitAgent([&] { return log.count(kReqComClose) == 4; }));
  EXPECT_EQ(log.snapshot().back().record, CMessage(kReqComClose, 0, 0, ""));
}

TEST_F(AgentChannelTest, EveryClientHasItsOwnChannel) {
  startAgent();
  Console a, b;
  open(a);
  open(b);
  ASSERT_TRUE(a.sink && b.sink);
  ASSERT_TRUE(pump([&] { return a.got.size() == 1 && b.got.size() == 1; }));
  a.sink->Send(CMessage(kReqQuery, 5, kStatusRequest, "."));
  b.sink->Send(CMessage(kReqQuery, 6, kStatusRequest, "."));
  ASSERT_TRUE(pump([&] { return a.got.size() == 2 && b.got.size() == 2; }));
  EXPECT_EQ(a.got[1].id, 5);
  EXPECT_EQ(b.got[1].id, 6);
  EXPECT_NE(a.got[1].text, b.got[1].text) << "each client has its own agent object";
  a.sink->Close();
  b.sink->Close();
}

TEST_F(AgentChannelTest, ABrokenOrVanishedClientDoesNotDisturbTheOthers) {
  startAgent();
  Console c;
  open(c);
  ASSERT_TRUE(pump([&] { return c.got.size() == 1; }));

  const std::string record = EncodeMessage(CMessage(kReqInvoke, 9, kStatusRequest, "RebuildArray@1"));
  // A text length of 8 MiB, more than a peer may send: never buffered, the channel is broken at once.
  std::string oversize = record.substr(0, 12) + std::string("\xFF\xFF\xFF\xFF\xFF\x7F\x00", 7);
  int dropped = 0;
  for (const std::string& bytes : {record.substr(0, 7), record.substr(0, record.size() - 1), oversize}) {
    auto fd = plat::com::connectLocalServer(kClsidComSocket);
    ASSERT_TRUE(fd) << fd.message();
    ASSERT_EQ(::send(fd->get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    if (bytes != oversize) fd->reset();  // vanishes in the middle of a record
    ++dropped;
    ASSERT_TRUE(waitAgent([&] { return log.count(kReqComClose) == dropped && log.alive == 1; }))
        << "the broken client was dropped";
    if (bytes == oversize) {
      char b;
      ssize_t n = ::recv(fd->get(), &b, 1, 0);
      EXPECT_TRUE(n == 0 || (n < 0 && errno == ECONNRESET))
          << "the server closed the broken channel: " << n << " " << errno;
    }
  }
  EXPECT_EQ(log.count(kReqInvoke), 0) << "no half record was handed on";
  EXPECT_EQ(log.count(kReqComClose), 3) << "each dropped client still ended its session";
  c.sink->Send(CMessage(kReqRefresh, 3, kStatusRequest, ""));
  ASSERT_TRUE(pump([&] { return c.got.size() == 2; }));
  EXPECT_EQ(c.got[1].id, 3);
  c.sink->Close();
}

TEST_F(AgentChannelTest, ConnectFailuresShowTheirText) {
  struct Case {
    const char* what;
    bool registered;
    HRESULT want;
  };
  const Case cases[] = {
      {"no registered class", false, plat::REGDB_E_CLASSNOTREG},
      {"nobody listens", true, plat::CO_E_SERVER_EXEC_FAILURE},
  };
  for (const Case& k : cases) {
    if (!k.registered)
      plat::com::unregisterLocalServer(kClsidComSocket);
    else
      ASSERT_EQ(plat::com::registerLocalServer(kClsidComSocket, "x", kComSocketName, "/x"), plat::S_OK);
    Console c;
    open(c);
    EXPECT_EQ(c.sink, nullptr) << k.what;
    ASSERT_EQ(c.notices.size(), 1u) << k.what;
    EXPECT_EQ(c.notices[0], ConnectAgentMessage(k.want)) << k.what;
  }
  struct Text {
    HRESULT h;
    const char* text;
  };
  const Text texts[] = {
      {plat::REGDB_E_CLASSNOTREG, "Cannot CreateInstance: REGDB_E_CLASSNOTREG"},
      {plat::CO_E_SERVER_EXEC_FAILURE, "Server Execution Failure, Agent not installed/registered?"},
      {plat::E_ACCESSDENIED,
       "Access Denied Execing Com Server, Check  Permissions using DCOMCNFG.EXE and add Access Permissions for this "
       "user for HalvornCom, then reboot"},
      {plat::E_NOINTERFACE, "Cannot CreateInstance: E_NO_INTERFACE"},
      {plat::TYPE_E_CANTLOADLIBRARY, "Cannot load Type library of COM Server, run halvorn /regserver"},
      {plat::hr(0x80010108), "CreateInstance: Unknown Error code 80010108"},
  };
  for (const Text& t : texts) EXPECT_EQ(ConnectAgentMessage(t.h), t.text);
}

TEST_F(AgentChannelTest, TheSocketAdmitsOnlyItsUserAndGroup) {
  startAgent();
  const auto path = plat::com::localSocketPath(kComSocketName);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  // Another user (neither owner nor in the group) is refused, and told so.
  auto otherUserConnects = [&] {
    return plat::testing::runInChild([&] {
      if (::geteuid() == 0 && ::setgid(65534) != 0) return 90;
      if (::geteuid() == 0 && ::setuid(65534) != 0) return 91;
      const HRESULT h = plat::com::connectLocalSocket(path).code();
      return h == plat::S_OK ? 0 : h == plat::E_ACCESSDENIED ? 1 : 2;
    });
  };
  if (::geteuid() == 0) {
    // Let the other user reach the directory, so that only the socket's own mode decides.
    for (auto p = path.parent_path(); p != root.dir().parent_path(); p = p.parent_path()) ::chmod(p.c_str(), 0755);
    EXPECT_EQ(otherUserConnects(), 1);
    ::chmod(path.c_str(), 0666);
    EXPECT_EQ(otherUserConnects(), 0) << "with the mode opened the same user gets in";
  } else {
    ::chmod(path.c_str(), 0);
    Console c;
    open(c);
    EXPECT_EQ(c.sink, nullptr);
    ASSERT_EQ(c.notices.size(), 1u);
    EXPECT_EQ(c.notices[0], ConnectAgentMessage(plat::E_ACCESSDENIED));
  }
}

TEST_F(AgentChannelTest, TheEngineTalksToTheAgentThroughTheChannel) {
  startAgent();
  std::vector<std::string> notices;
  std::vector<RequestView> views;
  {
    CMessageApi api(plat::systemClock(), loop.get());
    api.SetChannelFactory(AgentChannelFactory([&](const std::string& t) { notices.push_back(t); }));
    ConnectParams p;
    p.flags = kConnNotify | kConnNotify2;
    p.callback = [&](std::int32_t, void*, const RequestView* v, std::int32_t) {
      if (v) views.push_back(*v);
      return 0;
    };
    ASSERT_EQ(api.Connect(p, 1), 0);
    // The agent greets a new client with the not-logged-on notice.
    ASSERT_TRUE(pump([&] { return !views.empty(); }));
    EXPECT_EQ(views[0].code, kNotifyNotLoggedOn);
    EXPECT_EQ(api.QueueRequest(kReqQuery, ".", 0, nullptr), kPending);
    ASSERT_TRUE(pump([&] { return !api.busy() && views.size() == 2; }));
    EXPECT_EQ(views[1].text, "1:.");
    EXPECT_TRUE(notices.empty());
    api.Close();
    ASSERT_TRUE(waitAgent([&] { return log.alive == 0; }));
  }
  EXPECT_EQ(log.count(kReqComOpen), 1);
  EXPECT_EQ(log.count(kReqComClose), 1);
  EXPECT_EQ(log.count(kReqQuery), 1);

  // Without the agent's class the engine's Connect fails and says why.
  plat::com::unregisterLocalServer(kClsidComSocket);
  CMessageApi api(plat::systemClock(), loop.get());
  api.SetChannelFactory(AgentChannelFactory([&](const std::string& t) { notices.push_back(t); }));
  EXPECT_EQ(api.Connect(ConnectParams{}, 1), -1);
  EXPECT_EQ(notices, std::vector<std::string>{"Cannot CreateInstance: REGDB_E_CLASSNOTREG"});
  EXPECT_FALSE(api.HasTransport());
}

// The agent's process goes away while requests wait for their answers: the engine hears it at once,
// without a tick, ends both requests as aborted and runs the close callback.
TEST_F(AgentChannelTest, TheEngineHearsAtOnceWhenTheAgentGoesAway) {
  startAgent();
  CMessageApi api(plat::systemClock(), loop.get());
  api.SetChannelFactory(AgentChannelFactory([](const std::string&) {}));
  ConnectParams p;
  p.flags = kConnNotify | kConnNotify2;
  std::vector<std::int32_t> codes;
  std::vector<std::string> texts;
  p.callback = [&](std::int32_t code, void*, const RequestView* v, std::int32_t) {
    codes.push_back(code);
    texts.push_back(v ? v->text : "(close)");
    return 0;
  };
  ASSERT_EQ(api.Connect(p, 1), 0);
  ASSERT_TRUE(pump([&] { return codes.size() == 1; }));  // the not-logged-on greeting
  EXPECT_EQ(api.QueueRequest(kReqQuery, "hold", 0, nullptr), kPending);
  EXPECT_EQ(api.QueueRequest(kReqInvoke, "Rebuild@1", 0, nullptr), kPending);
  ASSERT_TRUE(waitAgent([&] { return log.count(kReqQuery) == 1; }));

  agent_.reset();  // the agent's end closes with its process
  ASSERT_TRUE(pump([&] { return codes.size() == 4; }));
  EXPECT_EQ(codes, (std::vector<std::int32_t>{kNotifyNotLoggedOn, kReqQuery, kReqInvoke, kReqClose}));
  EXPECT_EQ(texts, (std::vector<std::string>{"\\@", "804@Abort", "804@Abort", "(close)"}));
  EXPECT_FALSE(api.HasTransport());
  EXPECT_EQ(api.QueueRequest(kReqQuery, ".", 0, nullptr), plat::E_FAIL);
  api.Close();
}

TEST(AgentEventSink, InvokeTable) {
  std::vector<CMessage> got;
  auto* sink = new CAgentEventSink([&](CMessage& m) { got.push_back(m); }, nullptr);
  sink->AddRef();
  struct Case {
    std::int32_t dispId;
    std::vector<DispArg> params;  // reversed: text, status, id, code
    HRESULT want;
    bool delivered;
    CMessage record;
  };
  const Case cases[] = {
      {2, {std::string("t"), 3, 1, 4099}, plat::S_OK, false, {}},
      {1, {std::string("800@Functional"), 3, 7, 4099}, plat::S_OK, true, {4099, 7, 3, "800@Functional"}},
      {1, {std::string("x"), std::string("3"), 7, std::string("4099")}, plat::S_OK, true, {4099, 7, 3, "x"}},
      {1, {12, 3, 7, 4099}, plat::S_OK, true, {4099, 7, 3, "12"}},
      {1, {std::string("x"), 3, 7, std::string("abc")}, DISP_E_TYPEMISMATCH, false, {}},
      {1, {std::string("x"), 3, 7, std::string("99999999999")}, DISP_E_TYPEMISMATCH, false, {}},
      {1, {std::string("x"), 3, 7}, DISP_E_BADPARAMCOUNT, false, {}},
  };
  for (const Case& c : cases) {
    got.clear();
    std::int32_t result = -1;
    EXPECT_EQ(sink->Invoke(c.dispId, c.params, &result), c.want);
    ASSERT_EQ(got.size(), c.delivered ? 1u : 0u);
    if (c.delivered) {
      EXPECT_EQ(got[0], c.record);
      EXPECT_EQ(result, plat::S_OK);
    }
  }
  EXPECT_FALSE(sink->Send(CMessage(kReqQuery, 1, 1, "."))) << "no agent, nothing sent";
  // The events interface answers only for itself and counts the sink.
  void* out = nullptr;
  EXPECT_EQ(sink->Events()->QueryInterface(plat::com::IUnknown::kIid, &out), plat::S_OK);
  EXPECT_EQ(sink->RefCount(), 2);
  sink->Events()->Release();
  EXPECT_EQ(sink->Events()->QueryInterface(IComSocket::kIid, &out), plat::E_NOINTERFACE);
  sink->Release();
}

}  // namespace
