#include <gtest/gtest.h>
#include <linux/tcp.h>
#include <sys/socket.h>

#include "msgserver/tests/rig.h"
#include "platform/base/unique_fd.h"

namespace kelm::msgserver::testing {
namespace {

std::vector<CMessage> Of(const std::vector<CMessage>& ms, std::int32_t id) {
  std::vector<CMessage> out;
  for (const CMessage& m : ms)
    if (m.id == id && m.status != kStatusNotify) out.push_back(m);
  return out;
}

std::string FinalText(const std::vector<CMessage>& ms, std::int32_t id) {
  for (const CMessage& m : ms)
    if (m.id == id && m.status == kStatusFinal) return m.text;
  return "<none>";
}

TEST(Root, AFreshConsoleListsOneEntryPerAgentAndTheServerVersion) {
  Rig rig;
  auto c = rig.Connect();
  const auto got = Of(rig.Ask(*c, kReqListRights, 5, ""), 5);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].text, "FileVersion@pr-@1.0.0.7");
  EXPECT_EQ(got[1].text, "Host1@o--@2");
  for (const auto& m : got) EXPECT_EQ(m.code, kReqListRights);
  EXPECT_EQ(got[2].status, kStatusFinal);
  EXPECT_EQ(got[2].text, "800@Functional");
}

TEST(Root, AnAgentThatJoinsLaterIsAnnouncedToTheConsoleWith8194) {
  Rig rig;
  auto c = rig.Connect();
  rig.AddFakeAgent("127.0.0.3", "Host2");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  rig.Pump([&] { return !c->got.empty(); });
  ASSERT_EQ(c->got.size(), 1u);
  EXPECT_EQ(c->got[0].code, kNotifyFolderChanged);
  EXPECT_EQ(c->got[0].status, kStatusNotify);
  EXPECT_EQ(c->got[0].text, "\\");
  EXPECT_EQ(Texts(rig.Ask(*c, kReqListRights, 6, ""), kStatusPartial).size(), 3u);
}

TEST(Root, TheServersOwnFolderAnswersItselfAndRefusesWhatOnlyAnAgentCouldDo) {
  Rig rig;
  auto c = rig.Connect();
  struct Case {
    std::int32_t code;
    const char* text;
    const char* final;
    const char* partial;
  } cases[] = {
      {kReqLogon, "logon x", "802@Access Denied", nullptr},
      {kReqQuery, "Host1", "802@Access Denied", nullptr},
      {kReqQuery, "Nothing", "801@Error", nullptr},
      {kReqQuery, ".", "800@Functional", ".@srvhost@o--@1"},
      {kReqQuery, "FileVersion", "800@Functional", "FileVersion@pr-@1.0.0.7"},
      {kReqChangeFolder, "Nothing", "803@Not found", nullptr},
      {kReqChangeFolder, "..", "803@Not found", nullptr},
      {kReqSetProperty, "FileVersion@2", "802@Access Denied", nullptr},
      {kReqInvoke, "Rebuild@1", "802@Access Denied", nullptr},
      {kReqRefresh, "", "800@Functional", nullptr},
  };
  std::int32_t id = 100;
  for (const Case& k : cases) {
    ++id;
    const auto got = Of(rig.Ask(*c, k.code, id, k.text), id);
    ASSERT_FALSE(got.empty()) << k.code << " " << k.text;
    EXPECT_EQ(got.back().text, k.final) << k.code << " " << k.text;
    EXPECT_EQ(got.back().code, k.code);
    if (k.partial) {
      ASSERT_EQ(got.size(), 2u);
      EXPECT_EQ(got[0].text, k.partial);
    } else {
      EXPECT_EQ(got.size(), 1u) << k.code << " " << k.text;
    }
  }
  // Nothing of it went to the agent beyond the opening exchange.
  EXPECT_EQ(rig.Agent(0).received.size(), 3u);
}

TEST(Forwarding, ARequestInsideAnAgentIsOneSequenceUnderOneIdentifierAndRepliesKeepTheConsolesId) {
  Rig rig;
  auto c = rig.Connect();
  auto& agent = rig.Agent(0);
  agent.received.clear();
  // The first request inside the agent's folder lists it at the agent first; the console sees
  // only its own answer, from the server's copy.
  EXPECT_EQ(FinalText(rig.Ask(*c, kReqChangeFolder, 6, "Host1"), 6), "800@Functional");
  EXPECT_TRUE(agent.received.empty());
  auto got = Of(rig.Ask(*c, kReqListRights, 7, ""), 7);
  EXPECT_EQ(Texts(got, kStatusPartial), (std::vector<std::string>{"Controller1@o--@5", "Status@pr-@OK"}));
  EXPECT_EQ(got.size(), 3u);
  ASSERT_EQ(agent.received.size(), 3u);
  EXPECT_EQ(agent.received[0].text, "user ffffffff");
  EXPECT_EQ(agent.received[1].code, kReqChangeFolder);
  EXPECT_EQ(agent.received[1].text, "\\");
  EXPECT_EQ(agent.received[2].code, kReqListRights);
  // Listed once: the next listing is answered by the server alone.
  rig.Ask(*c, kReqListRights, 71, "");
  EXPECT_EQ(agent.received.size(), 3u);

  EXPECT_EQ(FinalText(rig.Ask(*c, kReqChangeFolder, 8, "Controller1"), 8), "800@Functional");
  rig.Ask(*c, kReqListRights, 81, "");
  agent.received.clear();
  got = rig.Ask(*c, kReqInvoke, 9, "Rebuild@1");
  ASSERT_EQ(agent.received.size(), 4u);
  const std::int32_t seq = agent.received[0].id;
  const std::pair<std::int32_t, std::string> want[] = {
      {kReqLogon, "user ffffffff"}, {kReqChangeFolder, "\\"}, {kReqChangeFolder, "Controller1"}, {kReqInvoke, "Rebuild@1"}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(agent.received[i].code, want[i].first);
    EXPECT_EQ(agent.received[i].text, want[i].second);
    EXPECT_EQ(agent.received[i].id, seq);
  }
  const auto mine = Of(got, 9);
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].code, kReqInvoke);
  EXPECT_EQ(mine[0].status, kStatusPartial);
  EXPECT_EQ(mine[0].text, "800@Functional@Rebuild@1@");
  EXPECT_EQ(mine[1].text, "800@Functional");

  // A volatile property is read from the agent; "." is answered from the server's copy.
  got = rig.Ask(*c, kReqQuery, 10, "Temp");
  EXPECT_EQ(Texts(Of(got, 10), kStatusPartial), std::vector<std::string>{"Temp@prv@40"});
  EXPECT_EQ(agent.received.back().text, "Temp");
  EXPECT_EQ(Texts(Of(rig.Ask(*c, kReqQuery, 11, "."), 11), kStatusPartial),
            std::vector<std::string>{".@Controller1@o--@5"});
  // A logon reply's key is what the next selection carries.
  EXPECT_EQ(FinalText(rig.Ask(*c, kReqLogon, 12, "logon secret"), 12), "800@Functional");
  agent.received.clear();
  rig.Ask(*c, kReqInvoke, 13, "Rebuild@2");
  ASSERT_FALSE(agent.received.empty());
  EXPECT_EQ(agent.received[0].text, "user 1a2b");
}

// A console on a plain socket, off the loop, so that the data segments the server sent it can
// be counted.
struct RawConsole {
  plat::UniqueFd fd;
  MessageDecoder decoder;
  std::vector<CMessage> got;

  explicit RawConsole(std::uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  void Send(std::int32_t code, std::int32_t id, const std::string& text) {
    const std::string bytes = EncodeMessage(CMessage(code, id, kStatusRequest, text));
    EXPECT_EQ(::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  void Read() {
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd.get(), buf, sizeof buf, MSG_DONTWAIT)) > 0) decoder.Feed(std::string_view(buf, n));
    CMessage m;
    while (decoder.Next(m) == DecodeStatus::kOk) got.push_back(m);
  }
  std::uint32_t DataSegmentsIn() const {
    tcp_info info{};
    socklen_t len = sizeof info;
    EXPECT_EQ(::getsockopt(fd.get(), IPPROTO_TCP, TCP_INFO, &info, &len), 0);
    return info.tcpi_data_segs_in;
  }
  // The request's final reply has come, and how many data segments it all took.
  std::uint32_t Ask(Rig& rig, std::int32_t code, std::int32_t id, const std::string& text) {
    const std::uint32_t before = DataSegmentsIn();
    Send(code, id, text);
    rig.Pump([&] {
      Read();
      return FinalText(got, id) != "<none>";
    });
    EXPECT_EQ(FinalText(got, id), "800@Functional") << text;
    return DataSegmentsIn() - before;
  }
};

TEST(Replies, ThoseMadeInOneGoReachTheConsoleInOneSegment) {
  Rig rig;
  const std::size_t users = rig.doc->Users().size();
  RawConsole c(rig.doc->ConsolePort());
  ASSERT_TRUE(rig.Pump([&] { return rig.doc->Users().size() > users; }));
  c.Ask(rig, kReqChangeFolder, 1, "Host1");
  c.Ask(rig, kReqChangeFolder, 2, "Controller1");
  c.Ask(rig, kReqListRights, 3, "");
  struct Case {
    std::int32_t code;
    const char* text;
    std::size_t partials;
  } cases[] = {
      {kReqListRights, "", 3},   // from the server's copy
      {kReqQuery, ".", 1},       // from the copy
      {kReqQuery, "Temp", 1},    // a volatile property: read from the agent first
  };
  std::int32_t id = 10;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    c.got.clear();
    EXPECT_EQ(c.Ask(rig, k.code, ++id, k.text), 1u);
    EXPECT_EQ(Texts(Of(c.got, id), kStatusPartial).size(), k.partials);
  }
}

TEST(Replies, TheWorkerLooksForAnAgentsAnswerOnlyWhileARequestIsAtTheAgent) {
  Rig rig;
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  rig.Ask(*c, kReqListRights, 2, "");
  EXPECT_FALSE(rig.doc->AwaitsAgent());
  FakeAgent& agent = rig.Agent(0);
  agent.hold = [](const CMessage& m) { return m.code == kReqInvoke; };
  c->Send(kReqInvoke, 3, "Rebuild@1");
  ASSERT_TRUE(rig.Pump([&] { return agent.heldCount() == 1; }));
  EXPECT_TRUE(rig.doc->AwaitsAgent());
  agent.hold = nullptr;
  agent.AnswerHeld();
  ASSERT_TRUE(rig.Pump([&] { return FinalText(c->got, 3) != "<none>"; }));
  EXPECT_FALSE(rig.doc->AwaitsAgent());
}

TEST(Forwarding, SetPropertyCarriesTheAgentsRefusalOrFunctional) {
  for (const char* reply : {"800@Functional", "802@Access Denied"}) {
    Rig rig;
    rig.Agent(0).setReply = reply;
    auto c = rig.Connect();
    rig.Ask(*c, kReqChangeFolder, 1, "Host1");
    rig.Ask(*c, kReqChangeFolder, 2, "Controller1");
    const auto got = Of(rig.Ask(*c, kReqSetProperty, 3, "Name@c2"), 3);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, kReqSetProperty);
    EXPECT_EQ(got[0].text, reply);
  }
}

TEST(Forwarding, TwoConsolesAskingTheSameThingAreBothAnswered) {
  Rig rig;
  auto a = rig.Connect();
  auto b = rig.Connect();
  for (Console* c : {a.get(), b.get()}) rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  a->Send(kReqInvoke, 5, "Rebuild@1");
  b->Send(kReqInvoke, 5, "Rebuild@1");
  std::vector<CMessage> ga, gb;
  rig.Pump([&] {
    for (auto& m : a->Take()) ga.push_back(m);
    for (auto& m : b->Take()) gb.push_back(m);
    return FinalText(ga, 5) != "<none>" && FinalText(gb, 5) != "<none>";
  });
  EXPECT_EQ(FinalText(ga, 5), "800@Functional");
  EXPECT_EQ(FinalText(gb, 5), "800@Functional");
}

TEST(Forwarding, ARefusedLogonSelectionTellsTheConsoleItIsNotLoggedOnAndEndsItsRequest) {
  Rig rig;
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  rig.Agent(0).userReply = "803@Not found";
  rig.Agent(0).received.clear();
  const auto got = rig.Ask(*c, kReqInvoke, 2, "Rebuild@1");
  EXPECT_EQ(FinalText(got, 2), "804@Abort");
  bool told = false;
  for (const CMessage& m : got)
    if (m.code == kNotifyNotLoggedOn && m.status == kStatusNotify && m.text == "\\Host1") told = true;
  EXPECT_TRUE(told);
  // The request itself never reached the agent.
  for (const CMessage& m : rig.Agent(0).received) EXPECT_NE(m.code, kReqInvoke);
}

TEST(Forwarding, AListingThatNoLongerNamesAChildRemovesItFromTheServersCopy) {
  Rig rig;
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  EXPECT_EQ(Texts(Of(rig.Ask(*c, kReqListRights, 2, ""), 2), kStatusPartial).size(), 2u);
  rig.Agent(0).children["\\"] = {"Controller1@o--@5"};
  EXPECT_EQ(FinalText(rig.Ask(*c, kReqRefresh, 3, ""), 3), "800@Functional");
  EXPECT_EQ(Texts(Of(rig.Ask(*c, kReqListRights, 4, ""), 4), kStatusPartial),
            std::vector<std::string>{"Controller1@o--@5"});
}

TEST(Notifications, AgentPathsAreRewrittenIntoTheServersTree) {
  Rig rig;
  auto a = rig.Connect();
  auto b = rig.Connect();
  struct Case {
    std::int32_t code;
    const char* from;
    const char* to;
  } cases[] = {
      {kNotifyEvent, "\\", "\\Host1"},
      {kNotifyEvent, "\\@1@2@3@Disk@failed", "\\Host1@1@2@3@Disk@failed"},
      {kNotifyFolderChanged, "\\Controller1@", "\\Host1\\Controller1@"},
      {kNotifyFolderGone, "\\Controller1\\Array1@", "\\Host1\\Controller1\\Array1@"},
  };
  for (const Case& k : cases) {
    rig.Agent(0).Notify(k.code, k.from);
    for (Console* c : {a.get(), b.get()}) {
      rig.Pump([&] { return !c->got.empty(); });
      const auto got = c->Take();
      ASSERT_EQ(got.size(), 1u) << k.from;
      EXPECT_EQ(got[0].code, k.code);
      EXPECT_EQ(got[0].status, kStatusNotify);
      EXPECT_EQ(got[0].text, k.to);
    }
  }
}

TEST(AgentLoss, ATimeOutDropsTheAgentWith8193AndEndsWhatWasWaiting) {
  Rig rig;
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  rig.Ask(*c, kReqChangeFolder, 2, "Controller1");
  rig.Agent(0).silentCodes = {kReqInvoke};
  c->Send(kReqInvoke, 3, "Rebuild@1");
  c->Send(kReqInvoke, 4, "Rebuild@2");
  rig.Settle();
  EXPECT_TRUE(c->Take().empty());
  rig.Ticks(59);
  EXPECT_EQ(rig.doc->Agents().size(), 1u);
  rig.Ticks(1);
  std::vector<CMessage> got;
  auto gone8193 = [&] {
    for (const CMessage& m : got)
      if (m.code == kNotifyFolderGone && m.text == "\\Host1") return true;
    return false;
  };
  rig.Pump([&] {
    for (auto& m : c->Take()) got.push_back(m);
    return rig.doc->Agents().empty() && FinalText(got, 4) != "<none>" && gone8193();
  });
  EXPECT_TRUE(rig.doc->Agents().empty());
  EXPECT_EQ(FinalText(got, 3), "806@Time Out");
  // The request behind it could no longer be forwarded.
  EXPECT_EQ(FinalText(got, 4), "801@Error");
  EXPECT_TRUE(gone8193());
  // The console stood inside the agent: it is back in the root.
  EXPECT_EQ(Texts(Of(rig.Ask(*c, kReqQuery, 5, "."), 5), kStatusPartial), std::vector<std::string>{".@srvhost@o--@1"});
}

TEST(AgentLoss, ALostAgentMovesOnlyTheConsolesThatStoodInsideIt) {
  Rig rig;
  rig.AddFakeAgent("127.0.0.3", "Host2");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  rig.Pump([&] { return rig.ReadyAgents() == 2; });
  auto in1 = rig.Connect();
  auto in2 = rig.Connect();
  rig.Ask(*in1, kReqChangeFolder, 1, "Host1");
  rig.Ask(*in2, kReqChangeFolder, 1, "Host2");
  rig.Agent(0).DropConnections();
  rig.Pump([&] { return rig.doc->Agents().size() == 1; });
  ASSERT_EQ(rig.doc->Agents().size(), 1u);
  for (Console* c : {in1.get(), in2.get()}) {
    rig.Pump([&] { return !c->got.empty(); });
    const auto got = c->Take();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].code, kNotifyFolderGone);
    EXPECT_EQ(got[0].text, "\\Host1");
  }
  EXPECT_EQ(Texts(Of(rig.Ask(*in1, kReqQuery, 2, "."), 2), kStatusPartial), std::vector<std::string>{".@srvhost@o--@1"});
  EXPECT_EQ(Texts(Of(rig.Ask(*in2, kReqQuery, 2, "."), 2), kStatusPartial), std::vector<std::string>{".@Host2@o--@2"});
}

TEST(Consoles, AConsoleThatLeavesHasItsRequestsDroppedAtTheAgentAndIsReleased) {
  Rig rig;
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  rig.Agent(0).silentCodes = {kReqInvoke};
  c->Send(kReqInvoke, 2, "Rebuild@1");
  c->Send(kReqInvoke, 3, "Rebuild@2");
  CAgent* agent = rig.doc->Agents()[0];
  rig.Pump([&] { return agent->queueSize() > 0 && !agent->busy() == false; });
  c->Close();
  rig.Pump([&] { return rig.doc->Users().empty(); });
  rig.Settle();
  EXPECT_TRUE(rig.doc->Users().empty());
  EXPECT_EQ(agent->queueSize(), 0u);
  // The agent goes on serving others.
  rig.Agent(0).silentCodes.clear();
  auto d = rig.Connect();
  rig.Ask(*d, kReqChangeFolder, 1, "Host1");
  EXPECT_EQ(FinalText(rig.Ask(*d, kReqInvoke, 4, "Rebuild@1"), 4), "800@Functional");
}

}  // namespace
}  // namespace kelm::msgserver::testing

namespace kelm::msgserver::testing {
namespace {

TEST(Folders, ABusyHeadThatNeverHearsBackTimesOutAndTheQueueMovesOn) {
  // The default time-out, and one a private root has shortened.
  for (int limit : {CVirtualFolder::kBusyTimeoutTicks, 3}) {
    SCOPED_TRACE(limit);
    DocOptions o;
    o.folderTimeoutTicks = limit;
    Rig rig(std::move(o));
    auto c = rig.Connect();
    rig.Ask(*c, kReqChangeFolder, 1, "Host1");
    rig.Ask(*c, kReqListRights, 2, "");
    rig.Agent(0).silentCodes = {kReqInvoke};
    c->Send(kReqInvoke, 3, "Rebuild@1");
    c->Send(kReqQuery, 4, ".");
    rig.Settle();
    CVirtualFolder* folder = rig.doc->Users()[0]->AgentFolder(rig.doc->Agents()[0]);
    ASSERT_NE(folder, nullptr);
    ASSERT_TRUE(folder->busy());
    // Only the folder's own clock runs here: the connection's time-out is not what frees it.
    for (int i = 0; i < limit - 1; ++i) folder->TickTree();
    rig.Settle();
    EXPECT_TRUE(c->Take().empty());
    folder->TickTree();
    std::vector<CMessage> got;
    rig.Pump([&] {
      for (auto& m : c->Take()) got.push_back(m);
      return FinalText(got, 4) != "<none>";
    });
    EXPECT_EQ(FinalText(got, 3), "806@Time Out");
    EXPECT_EQ(FinalText(got, 4), "800@Functional");
    EXPECT_FALSE(folder->busy());
  }
}

}  // namespace
}  // namespace kelm::msgserver::testing
