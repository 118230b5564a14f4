#include "message/message_api.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "message/message_codec.h"
#include "platform/testing/manual_clock.h"

using namespace kelm;

namespace {

constexpr std::int64_t kStart = 1700000000;

// The local channel stand-in: records the engine sends.
class FakeChannel : public MessageChannel {
 public:
  explicit FakeChannel(std::vector<CMessage>* sent, const bool* failing = nullptr) : sent_(sent), failing_(failing) {}
  bool SendMessage(const CMessage& m) override {
    if (failing_ && *failing_) return false;  // the peer is gone
    sent_->push_back(m);
    return true;
  }

 private:
  std::vector<CMessage>* sent_;
  const bool* failing_;
};

struct Call {
  std::int32_t code;
  bool hasView;
  RequestView view;
};

class Engine : public ::testing::Test {
 protected:
  void SetUp() override { connect(api, kConnNotify | kConnNotify2); }

  void connect(CMessageApi& a, std::uint32_t flags) {
    a.SetChannelFactory([this](CMessageApi&) { return std::make_unique<FakeChannel>(&sent, &channelFails); });
    ConnectParams p;
    p.flags = flags;
    p.callback = [this](std::int32_t code, void* ctx, const RequestView* v, std::int32_t reserved) {
      EXPECT_EQ(ctx, &context);
      EXPECT_EQ(reserved, 0);
      calls.push_back({code, v != nullptr, v ? *v : RequestView{}});
      if (onCallback) onCallback(code, v);
      return callbackResult;
    };
    p.context = &context;
    ASSERT_EQ(a.Connect(p, 1), 0);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), CMessage(kReqComOpen, 0, 0, ""));
    sent.clear();
  }

  void reply(std::int32_t code, std::int32_t id, std::int32_t status, const std::string& text) {
    api.OnMessage(CMessage(code, id, status, text));
  }
  // Answers the record sent last with a final reply.
  void answerLast(const std::string& text) {
    ASSERT_FALSE(sent.empty());
    reply(sent.back().code, sent.back().id, kStatusFinal, text);
  }
  void tick(int n) {
    for (int i = 0; i < n; ++i) api.OnTimerTick();
  }
  std::vector<std::string> sentTexts() const {
    std::vector<std::string> out;
    for (const auto& m : sent) out.push_back(m.text);
    return out;
  }

  plat::ManualClock clock{kStart};
  std::vector<CMessage> sent;
  std::vector<Call> calls;
  std::int32_t callbackResult = 0;
  std::function<void(std::int32_t, const RequestView*)> onCallback;
  int context = 0;
  bool channelFails = false;
  CMessageApi api{clock};  // last, so that it goes first: its farewell record needs `sent`
};

}  // namespace

TEST_F(Engine, ASecondConnectIsRefusedAndChangesNothing) {
  ConnectParams p;
  EXPECT_EQ(api.Connect(p, 1), plat::KELM_E_ALREADY_OPEN);
  EXPECT_EQ(api.Connect(p, 0), plat::KELM_E_ALREADY_OPEN);
  EXPECT_TRUE(sent.empty());
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  answerLast("800@Functional");
  EXPECT_EQ(calls.size(), 1u) << "the first connection's callback is kept";
}

TEST_F(Engine, ATextNoPeerWouldAcceptIsRefusedToTheCaller) {
  EXPECT_EQ(api.QueueRequest(kReqInvoke, std::string(kMaxTextBytes + 1, 'x'), 0, nullptr), plat::E_INVALIDARG);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(api.queueSize(), 0u);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(api.QueueRequest(kReqInvoke, std::string(kMaxTextBytes, 'x'), 0, nullptr), kPending);
  ASSERT_EQ(sent.size(), 1u);
}

TEST_F(Engine, IdentifiersStartAtTheClockAndRequestsGoOneAtATime) {
  EXPECT_EQ(api.QueueRequest(kReqQuery, "a", 0, nullptr), kPending);
  EXPECT_EQ(api.QueueRequest(kReqQuery, "b", 0, nullptr), kPending);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], CMessage(kReqQuery, kStart + 1, kStatusRequest, "a"));
  EXPECT_TRUE(api.busy());
  reply(kReqQuery, kStart + 1, kStatusPartial, "a@prw@1");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].view.state, kStatusPartial);
  EXPECT_EQ(calls[0].view.text, "a@prw@1");
  answerLast("800@Functional");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1], CMessage(kReqQuery, kStart + 2, kStatusRequest, "b"));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].view.text, "800@Functional");
  EXPECT_EQ(calls[1].view.replyCount, -2) << "the last request of its identifier";
}

TEST_F(Engine, TheIdentifierCounterWrapsWithin32Bits) {
  // A seed at the top of the signed range (or the unsigned one) goes on at the other end.
  struct Case {
    std::uint32_t seed;
    std::int32_t first, second;
  } cases[] = {{0x7FFFFFFFu, INT32_MIN, INT32_MIN + 1}, {0xFFFFFFFFu, 0, 1}};
  for (const Case& k : cases) {
    api.AbortAll();
    sent.clear();
    api.SeedIdentifiers(k.seed);
    api.QueueRequest(kReqQuery, "a", 0, nullptr);
    api.QueueRequest(kReqQuery, "b", kReqKeepId, nullptr);
    api.QueueRequest(kReqQuery, "c", 0, nullptr);
    const auto q = api.QueueSnapshot();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].id, k.first);
    EXPECT_EQ(q[1].id, k.first);
    EXPECT_EQ(q[2].id, k.second);
    EXPECT_EQ(api.nextId(), k.second);
  }
}

TEST_F(Engine, WithdrawingAnIdentifierTakesOnlyWhatWasNotSent) {
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  api.QueueRequest(kReqQuery, "b", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "c", 0, nullptr);
  const std::int32_t first = sent.back().id;
  EXPECT_EQ(api.lastSentId(), first);
  calls.clear();
  api.WithdrawUnsentOfId(first);
  // "b" ends, reported, and leaves the queue; "a" is still at the peer and keeps its place.
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].view.text, "804@Abort");
  ASSERT_EQ(api.queueSize(), 2u);
  EXPECT_EQ(sent.size(), 1u);
  answerLast("800@Functional");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent.back().text, "c");
}

TEST_F(Engine, UnmatchedRepliesAndEchoedRequestsAreIgnored) {
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  const std::int32_t id = sent[0].id;
  reply(kReqQuery, id + 1, kStatusFinal, "800@Functional");
  reply(kReqSetProperty, id, kStatusFinal, "800@Functional");
  reply(kReqQuery, id, kStatusRequest, "a");  // a peer echoing our request is no reply
  reply(kReqQuery, id, 99, "x");
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(api.busy());
  EXPECT_EQ(api.queueSize(), 1u);
  answerLast("800@Functional");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Engine, AFailureEndsTheRestOfItsIdentifier) {
  api.QueueRequest(kReqQuery, "first", 0, nullptr);
  api.QueueRequest(kReqQuery, "second", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "third", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "other", 0, nullptr);
  answerLast("802@Access Denied");
  ASSERT_EQ(calls.size(), 3u);
  for (const Call& c : calls) {
    EXPECT_EQ(c.view.text, "802@Access Denied");
    EXPECT_EQ(c.view.id, kStart + 1);
  }
  EXPECT_TRUE(calls[1].view.flags & kReqFailed);
  EXPECT_TRUE(calls[2].view.flags & kReqFailed);
  EXPECT_EQ(sentTexts(), (std::vector<std::string>{"first", "other"})) << "the rest of the group is never sent";
  EXPECT_EQ(sent[1].id, kStart + 2);
}

TEST_F(Engine, ResultsThatAreNoFailure) {
  // 800, a text without a number and a logon's 803 let the identifier go on.
  for (const char* result : {"800@Functional", "ok", "803@Not found"}) {
    SCOPED_TRACE(result);
    calls.clear();
    sent.clear();
    api.QueueRequest(kReqLogon, "logon x", 0, nullptr);
    api.QueueRequest(kReqQuery, "next", kReqKeepId, nullptr);
    answerLast(result);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].text, "next");
    answerLast("800@Functional");
  }
}

TEST_F(Engine, PathExpansion) {
  struct Case {
    std::string path;
    std::vector<std::string> steps;
  };
  const std::vector<Case> cases = {
      {"\\Array1\\Disk2", {"\\", "Array1", "Disk2"}},
      {"\\", {"\\"}},
      {"Array1\\Disk2", {"Array1", "Disk2"}},
      {"\\A\\\\B\\", {"\\", "A", "B"}},  // empty steps are skipped
      {"..", {".."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    sent.clear();
    calls.clear();
    EXPECT_EQ(api.SendChangeFolder(c.path, 0, nullptr), plat::S_OK) << "final once split";
    EXPECT_EQ(api.currentPath(), c.path);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      ASSERT_EQ(sent.size(), i + 1);
      EXPECT_EQ(sent[i].code, kReqChangeFolder);
      EXPECT_EQ(sent[i].text, c.steps[i]);
      EXPECT_EQ(sent[i].id, sent[0].id);
      answerLast("800@Functional");
    }
    ASSERT_EQ(calls.size(), 1u) << "only the last step calls back";
    EXPECT_EQ(calls[0].view.text, "800@Functional");
    EXPECT_EQ(calls[0].view.id, sent[0].id);
    EXPECT_EQ(calls[0].view.replyCount, -2);
    EXPECT_FALSE(api.busy());
  }
}

TEST_F(Engine, EmptyPathGivesNoStepsAndOneCallback) {
  EXPECT_EQ(api.SendChangeFolder("", 0, nullptr), plat::S_OK);
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].view.text, "800@Functional");
  EXPECT_EQ(calls[0].view.code, kReqChangeFolder);
}

TEST_F(Engine, ChangeFolderBehindABusyRequestIsPending) {
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  EXPECT_EQ(api.SendChangeFolder("\\X", 0, nullptr), kPending);
  EXPECT_EQ(sent.size(), 1u);
  answerLast("800@Functional");
  EXPECT_EQ(sentTexts(), (std::vector<std::string>{"a", "\\"}));
}

TEST_F(Engine, AFailingQuietStepHandsOnItsOwnReplyText) {
  api.SendChangeFolder("\\Array1\\Disk2", 0, nullptr);
  api.QueueRequest(kReqQuery, ".", kReqKeepId, nullptr);
  answerLast("800@Functional");  // "\"
  ASSERT_EQ(sent.back().text, "Array1");
  answerLast("803@Not found");
  EXPECT_EQ(api.currentPath(), "");
  EXPECT_EQ(sent.size(), 2u);
  ASSERT_EQ(calls.size(), 2u) << "Disk2 and the query; the quiet steps stay silent";
  for (const Call& c : calls) {
    EXPECT_EQ(c.view.text, "803@Not found") << "never the step's name";
    EXPECT_TRUE(c.view.flags & kReqFailed);
  }
  EXPECT_EQ(calls[0].view.code, kReqChangeFolder);
  EXPECT_EQ(calls[1].view.code, kReqQuery);
}

TEST_F(Engine, AFailedRequestOtherThanAStepClearsThePath) {
  api.SendChangeFolder("A", 0, nullptr);
  answerLast("800@Functional");
  EXPECT_EQ(api.currentPath(), "A");
  api.QueueRequest(kReqSetProperty, "x@1", 0, nullptr);
  answerLast("801@Error");
  EXPECT_EQ(api.currentPath(), "");
}

TEST_F(Engine, UrgentRequestIsSentAtOnce) {
  api.QueueRequest(kReqQuery, "slow", 0, nullptr);
  api.QueueRequest(kReqQuery, "later", 0, nullptr);
  api.QueueRequest(kReqRefresh, "", kReqUrgent, nullptr);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].code, kReqRefresh);
  answerLast("800@Functional");
  // The interrupted head goes out again, then the rest.
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2].text, "slow");
  answerLast("800@Functional");
  EXPECT_EQ(sent.back().text, "later");
}

TEST_F(Engine, TimeOutAtTheSixtiethTickEndsTheIdentifier) {
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  api.QueueRequest(kReqQuery, "b", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "c", 0, nullptr);
  tick(59);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(sent.size(), 1u);
  tick(1);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].view.text, "806@Time Out");
  EXPECT_EQ(calls[1].view.text, "806@Time Out");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].text, "c");
}

TEST_F(Engine, TimeOutCountsFromTheLastReplyInEveryState) {
  // A partial reply restarts the count; without the final one the request still ends.
  api.QueueRequest(kReqListRights, "", 0, nullptr);
  tick(30);
  reply(kReqListRights, sent[0].id, kStatusPartial, "a@o--@1");
  tick(59);
  EXPECT_EQ(calls.size(), 1u);
  tick(1);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].view.text, "806@Time Out");

  // A sent change-folder step that never gets its answer ends too, with the rest of its sequence.
  calls.clear();
  api.SendChangeFolder("\\A", 0, nullptr);
  api.QueueRequest(kReqQuery, ".", kReqKeepId, nullptr);
  tick(59);
  EXPECT_TRUE(calls.empty());
  tick(1);
  ASSERT_EQ(calls.size(), 2u) << "the last step and the query";
  EXPECT_EQ(calls[0].view.text, "806@Time Out");
  EXPECT_EQ(calls[1].view.text, "806@Time Out");
  EXPECT_FALSE(api.busy());
  EXPECT_EQ(api.queueSize(), 0u);
}

TEST_F(Engine, AbortOfOneIdentifierAndOfAll) {
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  api.QueueRequest(kReqQuery, "a2", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "b", 0, nullptr);
  api.QueueRequest(kReqQuery, "c", 0, nullptr);
  api.AbortRequestsOfId(kStart + 1);
  // The head is in flight: the group ends when its answer is out of the way, and the next
  // identifier goes only then, so replies never cross.
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(sent.size(), 1u);
  answerLast("800@Functional");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].view.text, "800@Functional");
  EXPECT_EQ(calls[1].view.text, "804@Abort");
  EXPECT_EQ(sent.back().text, "b");
  calls.clear();
  api.AbortAll();
  EXPECT_EQ(api.queueSize(), 0u);
  EXPECT_FALSE(api.busy());
  ASSERT_EQ(calls.size(), 2u) << "\"b\" in flight and \"c\" still queued";
  EXPECT_EQ(calls[0].view.text, "804@Abort");
  EXPECT_EQ(calls[1].view.text, "804@Abort");
}

TEST_F(Engine, LogonTakesTheInFlightIdentifier) {
  api.Logon("cred", 0, nullptr);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], CMessage(kReqLogon, kStart + 1, kStatusRequest, "logon cred"));
  answerLast("800@Functional");
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  api.Logon("again", 0, nullptr);
  answerLast("800@Functional");
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[2].text, "logon again");
  EXPECT_EQ(sent[2].id, sent[1].id);
}

TEST_F(Engine, LogonWithoutATransportEndsWithAbort) {
  api.Close();
  EXPECT_EQ(sent.back(), CMessage(kReqComClose, 0, 0, ""));
  sent.clear();
  calls.clear();
  EXPECT_EQ(api.QueueRequest(kReqQuery, "a", 0, nullptr), plat::E_FAIL);
  EXPECT_EQ(api.Logon("cred", 0, nullptr), 0);
  EXPECT_TRUE(sent.empty());
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].view.code, kReqLogon);
  EXPECT_EQ(calls[0].view.text, "804@Abort");
  EXPECT_EQ(api.queueSize(), 0u);
}

TEST_F(Engine, LogoffPurgesTheSubtreeAndGoesAfterTheHeadGroup) {
  api.QueueRequest(kReqQuery, "head", 0, nullptr);             // id +1, in flight
  api.QueueRequest(kReqQuery, "head2", kReqKeepId, nullptr);   // id +1
  api.SendChangeFolder("\\SRV\\Array1", 0, nullptr);           // id +2, under the prefix
  api.QueueRequest(kReqQuery, "in srv", kReqKeepId, nullptr);  // id +2, goes with it
  api.SendChangeFolder("\\Other", 0, nullptr);                 // id +3, stays
  api.QueueRequest(kReqListRights, "", kReqKeepId, nullptr);   // id +3
  EXPECT_EQ(api.Logoff("1234", 0, nullptr, "\\srv"), 0);
  const auto q = api.QueueSnapshot();
  std::vector<std::string> texts;
  for (const auto& r : q) texts.push_back(r.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"head", "head2", "logoff 1234", "\\Other", ""}));
  EXPECT_EQ(q[2].id, api.nextId()) << "the current identifier, not a new one";
  EXPECT_TRUE(calls.empty()) << "purged requests end without a callback";
  answerLast("800@Functional");
  answerLast("800@Functional");
  EXPECT_EQ(sent.back().text, "logoff 1234");
}

TEST_F(Engine, CallbackNeedsBothConnectionFlags) {
  for (std::uint32_t flags : {0u, std::uint32_t{kConnNotify}, std::uint32_t{kConnNotify2}}) {
    CMessageApi silent(clock);
    calls.clear();
    connect(silent, flags);
    silent.QueueRequest(kReqQuery, "a", 0, nullptr);
    silent.OnMessage(CMessage(kReqQuery, sent.back().id, kStatusPartial, "x"));
    silent.OnMessage(CMessage(kReqQuery, sent.back().id, kStatusFinal, "800@Functional"));
    silent.OnMessage(CMessage(kNotifyEvent, 0, kStatusNotify, "\\@1@2@3@t@x"));
    silent.Close();
    EXPECT_TRUE(calls.empty()) << flags;
  }
}

TEST_F(Engine, QuietRequestsKeepTheirTextAndStaySilent) {
  api.QueueRequest(kReqQuery, "q", kReqQuiet, nullptr);
  reply(kReqQuery, sent[0].id, kStatusPartial, "partial");
  EXPECT_EQ(api.QueueSnapshot()[0].text, "q");
  answerLast("800@Functional");
  EXPECT_TRUE(calls.empty());
}

TEST_F(Engine, NotificationsWhileARequestIsInFlight) {
  CPea node;
  api.QueueRequest(kReqQuery, "a", 0, &node);
  bool timingStopped = false;
  onCallback = [&](std::int32_t code, const RequestView*) {
    if (code == kNotifyEvent) {
      // Ticks do not count while a notification is being handled.
      for (int i = 0; i < 100; ++i) api.OnTimerTick();
      timingStopped = api.queueSize() == 1;
    }
  };
  reply(kNotifyEvent, 0, kStatusNotify, "\\Ctl@1@2@3@Title@Text");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].code, kNotifyEvent);
  EXPECT_EQ(calls[0].view.owner, nullptr);
  EXPECT_EQ(calls[0].view.state, kStatusNotify);
  EXPECT_EQ(calls[0].view.text, "\\Ctl@1@2@3@Title@Text");
  EXPECT_TRUE(timingStopped);
  EXPECT_TRUE(api.busy()) << "the request in flight is undisturbed";
  answerLast("800@Functional");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].view.owner, &node);
}

TEST_F(Engine, NotLoggedOnAbortsTheHeadWhenTheCallbackSaysSo) {
  for (std::int32_t result : {0, 1}) {
    SCOPED_TRACE(result);
    calls.clear();
    sent.clear();
    api.AbortAll();
    calls.clear();
    api.QueueRequest(kReqQuery, "a", 0, nullptr);
    api.QueueRequest(kReqQuery, "a2", kReqKeepId, nullptr);
    callbackResult = result;
    bool sawInEvent = false;
    onCallback = [&](std::int32_t code, const RequestView*) {
      if (code == kNotifyNotLoggedOn) sawInEvent = api.inEvent();
    };
    reply(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@");
    callbackResult = 0;
    EXPECT_TRUE(sawInEvent);
    EXPECT_FALSE(api.inEvent());
    EXPECT_FALSE(api.busy());
    if (result != 0) {
      ASSERT_EQ(calls.size(), 3u);
      EXPECT_EQ(calls[1].view.text, "804@Abort");
      EXPECT_EQ(calls[2].view.text, "804@Abort");
    } else {
      // The refusal was the head's answer: it is not sent again, and its sequence goes on.
      EXPECT_EQ(calls.size(), 1u);
      EXPECT_EQ(api.queueSize(), 1u);
      tick(1);
      EXPECT_EQ(sent.back().text, "a2");
    }
  }
}

TEST_F(Engine, RememberedLastRecordIsPerConnection) {
  // Two engines seeded from the same clock hand out the same identifiers; neither may drop
  // the other's request as already sent.
  CMessageApi other(clock);
  connect(other, kConnNotify | kConnNotify2);
  api.QueueRequest(kReqInvoke, "Rebuild@1", 0, nullptr);
  other.QueueRequest(kReqInvoke, "Rebuild@1", 0, nullptr);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], sent[1]);
}

TEST_F(Engine, FormattedSendersNeverReadTheNameAsAFormat) {
  api.SendFormatted4101("Name%s%n", "%d@%s", 0, nullptr, 42, "x");
  api.SendFormatted4102("Rebuild", "%d@%d", kReqQuiet, nullptr, 512, 3);
  api.SendFormatted4102("Empty", "%s", 0, nullptr, "");
  EXPECT_EQ(sent[0], CMessage(kReqSetProperty, kStart + 1, 1, "Name%s%n@42@x"));
  answerLast("800@Functional");
  EXPECT_EQ(sent[1], CMessage(kReqInvoke, kStart + 2, 1, "Rebuild@512@3"));
  answerLast("800@Functional");
  EXPECT_EQ(sent[2].text, "Empty@");
}

TEST_F(Engine, CallbacksMayQueueNewRequests) {
  int followUps = 0;
  onCallback = [&](std::int32_t code, const RequestView* v) {
    if (v && v->text == "800@Functional" && followUps < 3) {
      ++followUps;
      api.QueueRequest(kReqQuery, "next", 0, nullptr);
    }
  };
  api.QueueRequest(kReqQuery, "first", 0, nullptr);
  for (int i = 0; i < 4; ++i) answerLast("800@Functional");
  EXPECT_EQ(sentTexts(), (std::vector<std::string>{"first", "next", "next", "next"}));
}

TEST_F(Engine, ALongQueueEndsWithoutDeepRecursion) {
  for (int i = 0; i < 20000; ++i) api.QueueRequest(kReqQuery, "a", kReqQuiet, nullptr);
  api.AbortAll();
  EXPECT_EQ(api.queueSize(), 0u);
}

TEST(EngineLifetime, AnOwnerMayReleaseTheEngineFromATickCallback) {
  plat::ManualClock clock{kStart};
  std::vector<CMessage> sent;
  auto* api = new CMessageApi(clock);
  api->AddRef();
  api->SetChannelFactory([&](CMessageApi&) { return std::make_unique<FakeChannel>(&sent); });
  ConnectParams p;
  p.flags = kConnNotify | kConnNotify2;
  int timeouts = 0;
  p.callback = [&](std::int32_t, void*, const RequestView* v, std::int32_t) {
    if (v && v->text == "806@Time Out" && ++timeouts == 1) api->Release();  // the owner lets go
    return 0;
  };
  ASSERT_EQ(api->Connect(p, 1), 0);
  api->QueueRequest(kReqQuery, "a", 0, nullptr);
  api->QueueRequest(kReqQuery, "b", kReqKeepId, nullptr);
  for (int i = 0; i < 60; ++i) api->OnTimerTick();  // the engine goes at the end of the last tick
  EXPECT_EQ(timeouts, 2);
  EXPECT_EQ(sent.back(), CMessage(kReqComClose, 0, 0, ""));
}

// The same for a record the channel hands over: the engine finishes the call and goes as it ends.
TEST(EngineLifetime, AnOwnerMayReleaseTheEngineFromACallbackOfAReceivedRecord) {
  struct Case {
    const char* what;
    CMessage record;  // what the channel hands over, with the first request's identifier for a reply
    bool isReply;
    std::vector<std::int32_t> wantCodes;
  };
  const Case cases[] = {
      {"a final reply, with another request queued", CMessage(kReqQuery, 0, kStatusFinal, "800@Functional"), true,
       {kReqQuery}},
      {"a notification", CMessage(kNotifyEvent, 0, kStatusNotify, "\\Disk1@changed"), false, {kNotifyEvent}},
      {"the peer's close record", CMessage(kReqClose, 0, kStatusRequest, ""), false,
       {kReqQuery, kReqQuery, kReqClose}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    plat::ManualClock clock{kStart};
    std::vector<CMessage> sent;
    std::vector<std::int32_t> codes;
    auto* api = new CMessageApi(clock);
    api->AddRef();
    api->SetChannelFactory([&](CMessageApi&) { return std::make_unique<FakeChannel>(&sent); });
    ConnectParams p;
    p.flags = kConnNotify | kConnNotify2;
    p.callback = [&](std::int32_t code, void*, const RequestView*, std::int32_t) {
      codes.push_back(code);
      if (codes.size() == 1) api->Release();  // the owner lets go
      return 0;
    };
    ASSERT_EQ(api->Connect(p, 1), 0);
    api->QueueRequest(kReqQuery, "a", 0, nullptr);
    api->QueueRequest(kReqQuery, "b", 0, nullptr);
    CMessage m = k.record;
    if (k.isReply) m.id = sent.back().id;
    api->OnMessage(m);  // the engine goes at the end of this call
    EXPECT_EQ(codes, k.wantCodes);
    EXPECT_EQ(sent.back(), CMessage(kReqComClose, 0, 0, "")) << "its farewell as it went";
  }
}

TEST_F(Engine, SplitFlagOnAnotherRequestIsNoPath) {
  // Only a change-folder request is cut into steps; any other is sent as it is, and the queue moves.
  EXPECT_EQ(api.QueueRequest(kReqQuery, "a\\b", kReqSplit, nullptr), kPending);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].text, "a\\b");
  answerLast("800@Functional");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Engine, ARequestTheChannelCannotTakeStillEnds) {
  // A local channel whose peer has gone refuses every record; the queue must not stall for ever.
  channelFails = true;
  api.QueueRequest(kReqQuery, "a", 0, nullptr);
  api.QueueRequest(kReqQuery, "a2", kReqKeepId, nullptr);
  api.QueueRequest(kReqQuery, "b", 0, nullptr);
  tick(59);
  EXPECT_TRUE(calls.empty());
  channelFails = false;  // the peer is back: the next identifier goes out
  tick(1);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].view.text, "806@Time Out");
  EXPECT_EQ(calls[1].view.text, "806@Time Out");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].text, "b");
}

TEST_F(Engine, AbortingAnUnansweredStepNeverHandsOnTheStepName) {
  // The peer refuses the step with "not logged on" and the owner ends the sequence.
  callbackResult = 1;
  api.SendChangeFolder("\\Array1", 0, nullptr);
  api.QueueRequest(kReqQuery, ".", kReqKeepId, nullptr);
  answerLast("800@Functional");
  ASSERT_EQ(sent.back().text, "Array1");
  reply(kNotifyNotLoggedOn, 0, kStatusNotify, "\\@");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].code, kNotifyNotLoggedOn);
  for (std::size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].view.text, "804@Abort") << i;
  EXPECT_EQ(api.currentPath(), "");
  EXPECT_EQ(api.queueSize(), 0u);
}

TEST_F(Engine, AStepThatTimesOutLeavesNoCurrentPath) {
  api.SendChangeFolder("\\A", 0, nullptr);
  answerLast("800@Functional");
  EXPECT_EQ(api.currentPath(), "\\A");
  tick(60);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].view.text, "806@Time Out");
  EXPECT_EQ(api.currentPath(), "") << "the peer's folder is unknown now";
}
