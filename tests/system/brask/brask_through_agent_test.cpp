// The serial family through the real agent: halvorn loads both families' components, kelmsim
// serves the serial port and the IDE driver, and a TCP client reads the tree the component shows
// as the console's pages will. Model time moves only when a test steps it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "message/message.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

using Lines = std::vector<std::string>;

int Kelmsim(const std::string& args) {
  std::string cmd = "'" + AgentRoot::bin("kelmsim").string() + "' " + args + " >/dev/null 2>&1";
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Every folder below the current one, "indent name type", through change-folder and listing.
void ListTree(AgentClient& c, const std::string& indent, Lines& out) {
  for (const auto& line : c.List()) {
    auto first = line.find('@');
    if (first == std::string::npos || line.compare(first, 5, "@o--@") != 0) continue;
    const std::string name = line.substr(0, first);
    out.push_back(indent + name + " " + line.substr(first + 5));
    ASSERT_EQ(c.Result(kReqChangeFolder, name), 800) << name;
    ListTree(c, indent + "  ", out);
    ASSERT_EQ(c.Result(kReqChangeFolder, ".."), 800);
  }
}

std::string KelmsimStatus() { return SteppedSimulators::Output("status"); }

// The serial subsystem's line for its first array.
std::string SimArrayLine() {
  const std::string s = KelmsimStatus();
  const auto at = s.find("array 0 \"Data\"");
  return at == std::string::npos ? "<no array 0>" : s.substr(at, s.find('\n', at) - at);
}

class BraskThroughAgent : public ::testing::Test {
 protected:
  explicit BraskThroughAgent(bool warm = true)
      : root_(warm ? std::vector<std::filesystem::path>{AgentRoot::lib("libbrask.so"), AgentRoot::lib("libtirrow.so")}
                   : std::vector<std::filesystem::path>{AgentRoot::lib("libbrask.so")}) {
    EXPECT_EQ(Kelmsim("start --stepped-clock"), 0);
    // A subsystem that is already awake answers the handshake at once.
    if (warm) {
      EXPECT_EQ(Kelmsim("fault handshake warm"), 0);
    }
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  ~BraskThroughAgent() override { Kelmsim("stop"); }
  std::unique_ptr<AgentClient> LoggedOn(const AgentProcess& agent) {
    auto c = agent.Tcp();
    if (!c || c->LogonWithin(60000, "admin", "secret") != 800) return nullptr;
    return c;
  }
  // A client of the local channel, as the console on this host: the array tasks are local-only.
  std::unique_ptr<AgentClient> LocalLoggedOn(const AgentProcess& agent) {
    auto c = agent.Local();
    if (!c || !c->Send(CMessage(kReqComOpen, 0, 0, "")) || !c->WaitNotification(kNotifyNotLoggedOn)) return nullptr;
    auto token = ReadLocalToken();
    if (!token || c->LogonWithin(60000, "admin", "secret", token->first, token->second) != 800) return nullptr;
    return c;
  }
  AgentRoot root_;
};

// A subsystem that has just woken: the handshake takes longer than the root waits at its start.
// The serial family alone, so that the agent starts as soon as it can.
class BraskColdThroughAgent : public BraskThroughAgent {
 protected:
  BraskColdThroughAgent() : BraskThroughAgent(false) {}
};

TEST_F(BraskThroughAgent, ATcpClientListsTheSerialSubsystemsTree) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = agent.Tcp();
  ASSERT_TRUE(c);
  ASSERT_EQ(c->Logon("admin", "secret"), 800);
  const Lines top = c->List();
  EXPECT_NE(std::find(top.begin(), top.end(), "SC_RAID@o--@14"), top.end()) << ::testing::PrintToString(top);
  EXPECT_TRUE(std::any_of(top.begin(), top.end(), [](const std::string& l) { return l.rfind("MV_RAID@o--@", 0) == 0; }))
      << "the IDE family sits beside it";
  ASSERT_EQ(c->Result(kReqChangeFolder, "SC_RAID"), 800);
  const Lines root = c->List();
  EXPECT_NE(std::find(root.begin(), root.end(), "ComportStatus@pr-@Connected"), root.end());
  EXPECT_NE(std::find(root.begin(), root.end(), "Type@pr-@VELKARI SorventicRAID"), root.end());
  Lines tree;
  ListTree(*c, "", tree);
  EXPECT_EQ(tree, (Lines{"Controller1 23", "  ch1 20", "  ch2 20", "    master 24", "  ch3 20", "    master 24",
                         "  ch4 20", "    master 24", "  ch5 20", "    master 24", "  ch6 20", "    master 24",
                         "  Enclosure1 25", "  Array1 22", "    disk1 24", "    disk2 24", "    disk3 24"}));
  ASSERT_EQ(c->Result(kReqChangeFolder, "Controller1"), 800);
  ASSERT_EQ(c->Result(kReqChangeFolder, "Array1"), 800);
  auto name = c->Request(kReqQuery, "name");
  ASSERT_EQ(name.size(), 2u);
  EXPECT_EQ(name[0].text, "name@pr-@Data");
}

TEST_F(BraskThroughAgent, AStoppedSynchronisationStops) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = LocalLoggedOn(agent);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Cd("SC_RAID/Controller1/Array1"));
  EXPECT_EQ(c->Value("Status"), "0");
  ASSERT_EQ(c->Result(kReqInvoke, "SyncArray@512"), 800);
  ASSERT_EQ(c->Result(kReqRefresh, ""), 800);
  EXPECT_EQ(c->Value("Status"), "256") << "synchronising";
  EXPECT_EQ(c->Value("ThrottleStatus"), "1");
  ASSERT_EQ(Kelmsim("fault step 4000"), 0);
  EXPECT_NE(SimArrayLine().find("synchronising 40%"), std::string::npos) << SimArrayLine();

  ASSERT_EQ(c->Result(kReqInvoke, "SyncArray@2048"), 800);
  ASSERT_EQ(c->Result(kReqRefresh, ""), 800);
  EXPECT_EQ(c->Value("Status"), "0") << "the synchronisation stopped";
  EXPECT_EQ(c->Value("ThrottleStatus"), "2");
  EXPECT_EQ(SimArrayLine().find("synchronising"), std::string::npos) << SimArrayLine();
  // Time goes on: a stopped synchronisation does not come back, and the array can start another.
  ASSERT_EQ(Kelmsim("fault step 20000"), 0);
  ASSERT_EQ(c->Result(kReqRefresh, ""), 800);
  EXPECT_EQ(c->Value("Status"), "0");
  ASSERT_EQ(c->Result(kReqInvoke, "SyncArray@512"), 800);
  ASSERT_EQ(c->Result(kReqRefresh, ""), 800);
  EXPECT_EQ(c->Value("Status"), "256");
}

TEST_F(BraskThroughAgent, SupplyVoltagesReadAsTheBoxPageShowsThem) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = LoggedOn(agent);
  ASSERT_TRUE(c);
  ASSERT_TRUE(c->Cd("SC_RAID/Controller1/Enclosure1"));
  // The page shows the value times 0.001.
  auto shown = [&](const char* property, const char* label) {
    auto v = c->Value(property);
    if (!v) return std::string("<none>");
    char text[64];
    std::snprintf(text, sizeof text, "Voltage %s=%.2f", label, std::atoi(v->c_str()) * 0.001);
    return std::string(text);
  };
  EXPECT_EQ(shown("Volt5", "5V"), "Voltage 5V=5.02");
  EXPECT_EQ(shown("Volt12", "12V"), "Voltage 12V=12.04");
}

TEST_F(BraskColdThroughAgent, ALinkThatComesUpLaterIsAnnouncedToTheClients) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = LoggedOn(agent);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->Result(kReqChangeFolder, "SC_RAID"), 800);
  EXPECT_TRUE(c->List().size() > 0);
  // The root's poll makes the controller once the background handshake is done, and says so.
  bool told = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!told && std::chrono::steady_clock::now() < end) {
    auto changed = c->WaitNotification(kNotifyFolderChanged, 500);
    told = changed && changed->text == "\\SC_RAID@";
  }
  ASSERT_TRUE(told) << "the clients are told of the controller that came";
  // The client answers with a refresh, as the console does; the agent's copy then holds the controller.
  ASSERT_EQ(c->Result(kReqRefresh, ""), 800);
  const Lines root = c->List();
  EXPECT_NE(std::find(root.begin(), root.end(), "ComportStatus@pr-@Connected"), root.end())
      << ::testing::PrintToString(root);
  EXPECT_TRUE(std::any_of(root.begin(), root.end(), [](const std::string& l) { return l.rfind("Controller1@o--@", 0) == 0; }))
      << ::testing::PrintToString(root);
}

}  // namespace
}  // namespace kelm::systest
