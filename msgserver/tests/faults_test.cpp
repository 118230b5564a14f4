// Time-outs and late replies, the opening under notifications, identifiers near the top of their
// range, byte caps on what consoles queue, duplicate agents and the log lines outsiders can cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "msgserver/tests/rig.h"

namespace kelm::msgserver::testing {
namespace {

std::vector<CMessage> Of(const std::vector<CMessage>& ms, std::int32_t id) {
  std::vector<CMessage> out;
  for (const CMessage& m : ms)
    if (m.id == id && m.status != kStatusNotify) out.push_back(m);
  return out;
}

std::size_t Count(const std::vector<std::string>& logs, const std::string& part) {
  return std::count_if(logs.begin(), logs.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

bool Invoked(const FakeAgent& a, const std::string& text) {
  return std::any_of(a.received.begin(), a.received.end(),
                     [&](const CMessage& m) { return m.code == kReqInvoke && m.text == text; });
}

// One console standing in \Host1\Controller1, with the folder listed.
struct InController {
  Rig rig;
  std::unique_ptr<Console> c = rig.Connect();
  InController() {
    rig.Ask(*c, kReqChangeFolder, 1, "Host1");
    rig.Ask(*c, kReqChangeFolder, 2, "Controller1");
    rig.Ask(*c, kReqListRights, 3, "");
  }
  std::vector<CMessage> Collect(Console& from, int turns = 20) {
    std::vector<CMessage> got;
    for (int i = 0; i < turns; ++i) {
      rig.loop->runOnce(2);
      for (auto& m : from.Take()) got.push_back(m);
    }
    return got;
  }
};

TEST(TimeOuts, WaitingBehindAnotherConsolesRequestDoesNotCountAndEachGetsItsOwnAnswer) {
  InController t;
  auto other = t.rig.Connect();
  t.rig.Ask(*other, kReqChangeFolder, 1, "Host1");
  t.rig.Ask(*other, kReqChangeFolder, 2, "Controller1");
  t.rig.Ask(*other, kReqListRights, 3, "");
  FakeAgent& agent = t.rig.Agent(0);
  agent.hold = [](const CMessage& m) { return m.code == kReqInvoke && m.text == "Rebuild@slow"; };
  t.c->Send(kReqInvoke, 10, "Rebuild@slow");
  t.rig.Pump([&] { return agent.heldCount() == 1; });
  // The other console's requests wait in the server behind the slow one, which keeps reporting.
  other->Send(kReqInvoke, 20, "Rebuild@b1");
  other->Send(kReqInvoke, 21, "Rebuild@b2");
  std::vector<CMessage> got;
  for (int tick = 1; tick <= 90; ++tick) {
    if (tick % 20 == 0) agent.PartialToHeld("still going");
    t.rig.Ticks(1);
    for (auto& m : other->Take()) got.push_back(m);
  }
  EXPECT_TRUE(Of(got, 20).empty()) << Of(got, 20).front().text;
  agent.hold = nullptr;
  agent.AnswerHeld();
  t.rig.Pump([&] {
    for (auto& m : other->Take()) got.push_back(m);
    return Of(got, 21).size() == 2;
  });
  for (const auto& [id, text] : {std::pair{20, "Rebuild@b1"}, std::pair{21, "Rebuild@b2"}}) {
    const auto mine = Of(got, id);
    ASSERT_EQ(mine.size(), 2u) << id;
    EXPECT_EQ(mine[0].text, std::string("800@Functional@") + text + "@");
    EXPECT_EQ(mine[1].text, "800@Functional");
  }
}

TEST(TimeOuts, ASequenceThatTimesOutIsWithdrawnOrItsLateRepliesDroppedAndTheRetryGetsItsOwn) {
  // The selection takes half the time-out; then either a change-folder step (the request itself
  // is still unsent) or the request (it is at the agent) hangs for the other half.
  struct Case {
    const char* name;
    std::function<bool(const CMessage&)> secondHold;
    bool requestReachesAgent;
  } cases[] = {
      {"step hangs", [](const CMessage& m) { return m.code == kReqChangeFolder && m.text == "\\"; }, false},
      {"request hangs", [](const CMessage& m) { return m.code == kReqInvoke && m.text == "Rebuild@1"; }, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    InController t;
    FakeAgent& agent = t.rig.Agent(0);
    agent.received.clear();
    agent.hold = [](const CMessage& m) { return m.code == kReqLogon; };
    t.c->Send(kReqInvoke, 4, "Rebuild@1");
    t.rig.Pump([&] { return agent.heldCount() == 1; });
    t.rig.Ticks(30);
    agent.hold = k.secondHold;
    agent.AnswerHeld();
    t.rig.Pump([&] { return agent.heldCount() == 1; });
    ASSERT_EQ(agent.heldCount(), 1u);
    t.rig.Ticks(29);
    EXPECT_TRUE(Of(t.Collect(*t.c), 4).empty());
    t.rig.Ticks(1);
    std::vector<CMessage> got;
    t.rig.Pump([&] {
      for (auto& m : t.c->Take()) got.push_back(m);
      return !Of(got, 4).empty();
    });
    ASSERT_EQ(Of(got, 4).size(), 1u);
    EXPECT_EQ(Of(got, 4)[0].text, "806@Time Out");
    // The agent is kept: its connection itself never went quiet for a whole time-out.
    EXPECT_EQ(t.rig.doc->Agents().size(), 1u);

    t.c->Send(kReqInvoke, 5, "Rebuild@2");
    t.Collect(*t.c);
    agent.hold = nullptr;
    agent.AnswerHeld();
    got.clear();
    t.rig.Pump([&] {
      for (auto& m : t.c->Take()) got.push_back(m);
      return Of(got, 5).size() == 2;
    });
    const auto retry = Of(got, 5);
    ASSERT_EQ(retry.size(), 2u);
    EXPECT_EQ(retry[0].text, "800@Functional@Rebuild@2@");
    EXPECT_EQ(retry[1].text, "800@Functional");
    EXPECT_TRUE(Of(got, 4).empty());
    EXPECT_EQ(Invoked(agent, "Rebuild@1"), k.requestReachesAgent);
  }
}

TEST(Opening, ANotificationDuringTheOpeningIsHandledAsOneAndTheAgentBecomesReady) {
  Rig rig;
  auto c = rig.Connect();
  FakeAgent& a = rig.AddFakeAgent("127.0.0.3", "Host2");
  a.notifyFirst = "\\";
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  ASSERT_TRUE(rig.Pump([&] { return rig.ReadyAgents() == 2; }));
  EXPECT_EQ(rig.doc->Agents()[1]->rootEntry(), "Host2@o--@2");
  const auto entries = Texts(Of(rig.Ask(*c, kReqListRights, 5, ""), 5), kStatusPartial);
  EXPECT_NE(std::find(entries.begin(), entries.end(), "Host2@o--@2"), entries.end());
}

TEST(Identifiers, SeedsNearTheTopOfTheRangeWrapAndTheOpeningStillEnds) {
  // The wall clock puts the first agent's seed at or past the top of the signed range: the seed
  // and the engine's counter go on at the other end.
  for (const std::int64_t wall : {std::int64_t{INT32_MAX} - 100003, std::int64_t{INT32_MAX} - 5}) {
    SCOPED_TRACE(wall);
    Rig rig({}, false);
    rig.clock.setWall(wall);
    rig.doc->Start();
    ASSERT_TRUE(rig.Pump([&] { return rig.ReadyAgents() == 1; }));
    const auto& got = rig.Agent(0).received;
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].id, static_cast<std::int32_t>(static_cast<std::uint32_t>(wall) + 100003u + 1u));
    EXPECT_LT(got[0].id, 0);
    auto c = rig.Connect();
    rig.Ask(*c, kReqChangeFolder, 1, "Host1");
    EXPECT_EQ(Of(rig.Ask(*c, kReqListRights, 2, ""), 2).back().text, "800@Functional");
  }
}

TEST(Caps, QueuedBytesAreBoundedPerConsoleAndInTotal) {
  DocOptions o;
  o.maxQueuedBytesPerConsole = 3000;
  o.maxQueuedBytes = 4500;
  Rig rig(o);
  auto a = rig.Connect();
  auto b = rig.Connect();
  for (Console* c : {a.get(), b.get()}) {
    rig.Ask(*c, kReqChangeFolder, 1, "Host1");
    rig.Ask(*c, kReqListRights, 2, "");
  }
  rig.Agent(0).hold = [](const CMessage& m) { return m.code == kReqInvoke; };
  const std::string big = "Rebuild@" + std::string(992, 'x');  // 1000 bytes
  for (int id = 10; id < 14; ++id) a->Send(kReqInvoke, id, big);
  rig.Settle();
  for (int id = 20; id < 23; ++id) b->Send(kReqInvoke, id, big);
  std::vector<CMessage> gotA, gotB;
  rig.Pump([&] {
    for (auto& m : a->Take()) gotA.push_back(m);
    for (auto& m : b->Take()) gotB.push_back(m);
    return gotA.size() == 1 && gotB.size() == 2;
  });
  rig.Settle();
  for (auto& m : a->Take()) gotA.push_back(m);
  for (auto& m : b->Take()) gotB.push_back(m);
  // The fourth of the first console is past its own share; the second console's second and third
  // are past the server's total.
  ASSERT_EQ(gotA.size(), 1u);
  EXPECT_EQ(gotA[0].id, 13);
  EXPECT_EQ(gotA[0].text, "801@Error");
  ASSERT_EQ(gotB.size(), 2u);
  EXPECT_EQ(gotB[0].id, 21);
  EXPECT_EQ(gotB[1].id, 22);
  EXPECT_EQ(rig.doc->QueuedBytes()->used(), 4000u);
  // One line for the refusals, however many.
  EXPECT_EQ(Count(rig.logs, "a console request to"), 1u);
  // Answered requests give their bytes back.
  rig.Agent(0).hold = nullptr;
  rig.Agent(0).AnswerHeld();
  rig.Pump([&] { return rig.doc->QueuedBytes()->used() == 0; });
  EXPECT_EQ(rig.doc->QueuedBytes()->used(), 0u);
  EXPECT_EQ(Of(rig.Ask(*a, kReqInvoke, 30, big), 30).back().text, "800@Functional");
}

TEST(Announcements, OneAgentBehindManyAddressesIsConnectedOnceAndOthersStayApart) {
  Rig rig;
  auto c = rig.Connect();
  // "Host2" answers on three addresses; another "Host2" elsewhere has an address of its own.
  const char* addresses[] = {"127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"};
  for (int i = 0; i < 4; ++i) {
    FakeAgent& a = rig.AddFakeAgent(addresses[i], "Host2");
    a.children["\\"].push_back(i < 3 ? "IPAddress@pr-@10.9.8.7" : "IPAddress@pr-@10.9.8.6");
  }
  for (const char* from : addresses) {
    rig.SendBeacon(from, "VELKARI_RAID#Host2#Hello World!");
    rig.Settle();
  }
  rig.Settle();
  EXPECT_EQ(rig.ReadyAgents(), 3u);
  rig.Settle();
  EXPECT_EQ(rig.doc->Agents().size(), 3u);
  for (int i = 1; i < 3; ++i) EXPECT_EQ(rig.Agent(1 + i).connections(), 1u) << "it was opened and closed";
  EXPECT_EQ(Count(rig.logs, "is already connected through 127.0.0.3"), 1u);
  const auto entries = Texts(Of(rig.Ask(*c, kReqListRights, 5, ""), 5), kStatusPartial);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "Host2@o--@2"), 2);
}

TEST(Announcements, NewAgentsAreTriedAtABoundedRate) {
  DocOptions o;
  o.maxNewAgentsPerSecond = 2;
  Rig rig(o);
  for (const char* a : {"127.0.0.3", "127.0.0.4", "127.0.0.5"}) rig.AddFakeAgent(a, std::string("H") + a[8]);
  // The server's own host was the first this second.
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#H3#Hello World!");
  rig.SendBeacon("127.0.0.4", "VELKARI_RAID#H4#Hello World!");
  rig.Settle();
  EXPECT_EQ(rig.doc->Agents().size(), 2u);
  EXPECT_EQ(Count(rig.logs, "not tried"), 1u);
  rig.clock.advanceSeconds(1);
  rig.SendBeacon("127.0.0.4", "VELKARI_RAID#H4#Hello World!");
  rig.SendBeacon("127.0.0.5", "VELKARI_RAID#H5#Hello World!");
  EXPECT_TRUE(rig.Pump([&] { return rig.ReadyAgents() == 4; }));
}

TEST(Consoles, ThoseWithoutALogonHoldAtMostHalfThePlaces) {
  DocOptions o;
  o.maxConsoles = 4;
  Rig rig(o);
  auto a = rig.Connect();
  auto b = rig.Connect();
  rig.Ask(*a, kReqListRights, 1, "");
  // The half is full: the oldest that has sent nothing makes room for the newcomer.
  auto c = rig.Connect();
  rig.Pump([&] { return b->closed; });
  EXPECT_TRUE(b->closed);
  EXPECT_FALSE(a->closed);
  rig.Ask(*c, kReqListRights, 1, "");
  // Each has asked something: the newcomer is refused.
  Console refused(*rig.loop, rig.doc->ConsolePort());
  rig.Pump([&] { return refused.closed; });
  EXPECT_TRUE(refused.closed);
  EXPECT_EQ(rig.doc->Users().size(), 2u);
  // Once one has logged on at an agent, a place without a logon is free again.
  rig.Ask(*a, kReqChangeFolder, 2, "Host1");
  EXPECT_EQ(Of(rig.Ask(*a, kReqLogon, 3, "logon secret"), 3).back().text, "800@Functional");
  auto d = rig.Connect();
  rig.Settle();
  EXPECT_FALSE(d->closed);
  EXPECT_FALSE(c->closed);
  EXPECT_EQ(rig.doc->Users().size(), 3u);
}

TEST(Consoles, OneThatCompletesNoRecordIsClosedAndAnIdleOneStays) {
  struct Case {
    const char* name;
    std::string sent;  // what the console writes after connecting
    bool closed;
  } cases[] = {
      {"silent", "", true},
      {"half a record", EncodeMessage(CMessage(kReqListRights, 1, kStatusRequest, "")).substr(0, 5), true},
      {"a record, then idle", EncodeMessage(CMessage(kReqListRights, 1, kStatusRequest, "")), false},
      {"a keep-alive, then idle", EncodeMessage(CMessage(kReqKeepAlive, 1, kStatusRequest, "")), false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig rig;
    auto c = rig.Connect();
    if (!k.sent.empty()) c->SendRaw(k.sent);
    rig.Settle();
    rig.Ticks(29);
    EXPECT_EQ(rig.doc->Users().size(), 1u);
    rig.Ticks(1);
    rig.Pump([&] { return c->closed == k.closed; });
    EXPECT_EQ(c->closed, k.closed);
    rig.Ticks(90);
    rig.Settle();
    EXPECT_EQ(c->closed, k.closed);
    EXPECT_EQ(rig.doc->Users().size(), k.closed ? 0u : 1u);
  }
}

TEST(Logs, RefusalsWriteOneLineAMinuteWithTheCountLeftOut) {
  DocOptions o;
  o.maxConsoles = 1;
  Rig rig(o);
  auto first = rig.Connect();
  auto refuse = [&](int n) {
    for (int i = 0; i < n; ++i) {
      Console c(*rig.loop, rig.doc->ConsolePort());
      rig.Pump([&] { return c.closed; });
    }
  };
  refuse(5);
  EXPECT_EQ(Count(rig.logs, "console from"), 1u);
  rig.clock.advanceSeconds(59);
  refuse(1);
  EXPECT_EQ(Count(rig.logs, "console from"), 1u);
  rig.clock.advanceSeconds(1);
  refuse(1);
  ASSERT_EQ(Count(rig.logs, "console from"), 2u);
  EXPECT_NE(rig.logs.back().find("(5 more like it left out)"), std::string::npos)
      << rig.logs.back();
}

}  // namespace
}  // namespace kelm::msgserver::testing
