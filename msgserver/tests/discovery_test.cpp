#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "msgserver/tests/rig.h"

namespace kelm::msgserver::testing {
namespace {

TEST(Renumbering, ServerHandlesFiveCodesItselfAndGivesConsolesTheirOwnBack) {
  struct Case {
    std::int32_t console, server;
  } cases[] = {{4098, 0xA001}, {4099, 0xA002}, {4100, 0xA003}, {4101, 0xA004}, {4103, 0xA006}, {4102, 0}, {4097, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(ServerCode(c.console), c.server) << c.console;
    if (c.server) {
      EXPECT_EQ(ConsoleCode(c.server), c.console) << c.console;
    }
  }
  // What goes back to the console: its own numbers, never a bare change-folder step.
  EXPECT_EQ(ConsoleCode(4097), 4097);
  EXPECT_EQ(ConsoleCode(4102), 4102);
  EXPECT_EQ(ConsoleCode(4099), 0);
  EXPECT_EQ(ConsoleCode(8195), 0);
}

TEST(Discovery, StartConnectsToItsOwnHostWithTheOpeningExchangeAndAnnouncesItself) {
  Rig rig;
  ASSERT_EQ(rig.doc->Agents().size(), 1u);
  EXPECT_EQ(rig.doc->Agents()[0]->address(), "127.0.0.2");
  EXPECT_EQ(rig.doc->Agents()[0]->rootEntry(), "Host1@o--@2");
  const auto& got = rig.Agent(0).received;
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got[0].code, kReqChangeFolder);
  EXPECT_EQ(got[0].text, "\\");
  EXPECT_EQ(got[1].code, kReqQuery);
  EXPECT_EQ(got[1].text, ".");
  // Which host it is, whatever address announced it.
  EXPECT_EQ(got[2].code, kReqQuery);
  EXPECT_EQ(got[2].text, "IPAddress");
  EXPECT_EQ(got[0].id, got[1].id);
  EXPECT_EQ(got[0].id, got[2].id);
  rig.Pump([&] { return !rig.serverAnnouncements.empty(); });
  ASSERT_FALSE(rig.serverAnnouncements.empty());
  EXPECT_EQ(rig.serverAnnouncements[0], "VELKARI_PELLWICK#srvhost#Hello World!");
}

TEST(Discovery, OnlyWellFormedAnnouncementsAddAnAgentAndOneAddressGivesOneConnection) {
  struct Case {
    const char* text;
    bool adds;
  } cases[] = {
      {"velkari_raid#Host2#Hello World!", true},
      {"VELKARI_RAID#Host2", false},           // no second '#'
      {"VELKARI_PELLWICK#Host2#x", false},     // another program's word
      {"VELKARI_RAID##Hello World!", false},   // no name
      {"VELKARI_RAID#Ho@st#Hello World!", false},  // a name that cannot be a folder
      {"VELKARI_RAIDX#Host2#x", false},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.AddFakeAgent("127.0.0.3", "Host2");
    rig.SendBeacon("127.0.0.3", c.text);
    if (c.adds)
      rig.Pump([&] { return rig.ReadyAgents() == 2; });
    else
      rig.Settle();
    EXPECT_EQ(rig.doc->Agents().size(), c.adds ? 2u : 1u) << c.text;
  }
  Rig rig;
  rig.AddFakeAgent("127.0.0.3", "Host2");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#OtherName#Hello World!");
  rig.Pump([&] { return rig.ReadyAgents() == 2; });
  rig.Settle();
  EXPECT_EQ(rig.doc->Agents().size(), 2u);
  EXPECT_EQ(rig.Agent(1).connections(), 1u);
  // Connections made in the same second use different identifiers.
  ASSERT_FALSE(rig.Agent(1).received.empty());
  EXPECT_NE(rig.Agent(0).received[0].id, rig.Agent(1).received[0].id);
}

TEST(Discovery, AnAgentThatCannotBeReachedIsNotKeptAndItsNextAnnouncementTriesAgain) {
  Rig rig;
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  rig.Settle();
  EXPECT_EQ(rig.doc->Agents().size(), 1u);
  // The agent that is not kept is logged with the reason it cannot be reached.
  const auto logged = std::find_if(rig.logs.begin(), rig.logs.end(), [](const std::string& l) {
    return l.find("agent Host2 at 127.0.0.3 cannot be reached: ") != std::string::npos;
  });
  ASSERT_NE(logged, rig.logs.end()) << (rig.logs.empty() ? "(no log)" : rig.logs.back());
  EXPECT_NE(logged->find(std::strerror(ECONNREFUSED)), std::string::npos) << *logged;
  rig.AddFakeAgent("127.0.0.3", "Host2");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  EXPECT_TRUE(rig.Pump([&] { return rig.ReadyAgents() == 2; }));
}

TEST(Caps, BeyondACapTheNewcomerIsRefusedAndLoggedAndTheOthersStay) {
  DocOptions o;
  o.maxAgents = 1;
  o.maxConsoles = 1;
  Rig rig(o);
  rig.AddFakeAgent("127.0.0.3", "Host2");
  rig.SendBeacon("127.0.0.3", "VELKARI_RAID#Host2#Hello World!");
  rig.Settle();
  EXPECT_EQ(rig.doc->Agents().size(), 1u);
  EXPECT_EQ(rig.doc->Agents()[0]->address(), "127.0.0.2");
  auto first = rig.Connect();
  Console second(*rig.loop, rig.doc->ConsolePort());
  rig.Pump([&] { return second.closed; });
  EXPECT_TRUE(second.closed);
  EXPECT_EQ(rig.doc->Users().size(), 1u);
  EXPECT_FALSE(first->closed);
  const std::string logs = [&] {
    std::string all;
    for (auto& l : rig.logs) all += l + "\n";
    return all;
  }();
  EXPECT_NE(logs.find("Host2"), std::string::npos) << logs;
  EXPECT_NE(logs.find("console"), std::string::npos) << logs;
}

TEST(Caps, AFolderQueueBeyondItsCapRefusesTheNewRequest) {
  DocOptions o;
  o.maxQueuedPerFolder = 2;
  Rig rig(o);
  auto c = rig.Connect();
  rig.Ask(*c, kReqChangeFolder, 1, "Host1");
  rig.Ask(*c, kReqListRights, 2, "");
  // The first request hangs at the agent, the second waits behind it; the rest find the queue full.
  rig.Agent(0).silentCodes = {kReqInvoke};
  for (int id = 10; id < 15; ++id) c->Send(kReqInvoke, id, "Rebuild@1");
  std::vector<CMessage> got;
  rig.Pump([&] {
    for (auto& m : c->Take()) got.push_back(m);
    return got.size() >= 3;
  });
  rig.Settle();
  for (auto& m : c->Take()) got.push_back(m);
  ASSERT_EQ(got.size(), 3u);
  for (const CMessage& m : got) {
    EXPECT_EQ(m.text, "801@Error");
    EXPECT_GE(m.id, 12);
  }
  EXPECT_FALSE(rig.logs.empty());
}

}  // namespace
}  // namespace kelm::msgserver::testing
