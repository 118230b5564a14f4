// halvorn with the IDE-family component over the simulated Marovelt driver that kelmsim serves.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;

// The value of a "name@type@value" entry.
std::string EntryValue(const std::string& entry) {
  auto a = entry.find('@');
  auto b = a == std::string::npos ? a : entry.find('@', a + 1);
  return b == std::string::npos ? std::string() : entry.substr(b + 1);
}

std::string Query(AgentClient& c, const std::string& name) {
  auto got = c.Request(kReqQuery, name);
  return got.size() == 2 ? EntryValue(got[0].text) : std::string("<none>");
}

bool Listed(const std::vector<std::string>& list, const std::string& prefix) {
  for (const auto& e : list)
    if (e.rfind(prefix, 0) == 0) return true;
  return false;
}

// A query repeated until it answers `want` (the component polls once a second); the last answer.
std::string Await(AgentClient& c, const std::string& name, const std::string& want) {
  std::string got;
  for (int i = 0; i < 300; ++i) {
    got = Query(c, name);
    if (got == want) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return got;
}

int Kelmsim(const std::vector<std::string>& args) {
  std::vector<std::string> argv{AgentRoot::bin("kelmsim").string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return AgentRoot::Run(argv);
}

// A member replaced after its disk failed, and then a rebuild of it that was stopped: each time the
// mirror is critical, the waiting disk is a disk of the array with "Rebuild" 2, and the rebuild
// that names it runs ("Rebuild" 1) and leaves the mirror functional.
TEST(AgentWithIde, AReplacedMemberIsRebuiltToAFunctionalMirror) {
  const fs::path tirrow = AgentRoot::lib("libtirrow.so");
  if (!fs::exists(tirrow)) GTEST_SKIP() << "the IDE-family component is not built";
  AgentRoot root({tirrow});
  SteppedSimulators sims;
  ASSERT_TRUE(sims.started());
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  AgentProcess agent(root, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto local = agent.Local();
  ASSERT_TRUE(local);
  ASSERT_TRUE(local->Send(CMessage(kReqComOpen, 0, 0, "")));
  ASSERT_TRUE(local->WaitNotification(kNotifyNotLoggedOn));
  auto token = ReadLocalToken();
  ASSERT_TRUE(token);
  ASSERT_EQ(local->Logon("admin", "secret", token->first, token->second), 800);
  for (const char* step : {"MV_RAID", "Ary1"}) ASSERT_EQ(local->Result(kReqChangeFolder, step), 800) << step;
  ASSERT_EQ(Query(*local, "Status"), "0");

  ASSERT_EQ(Kelmsim({"fault", "disk-fail", "2"}), 0);
  ASSERT_EQ(Kelmsim({"fault", "disk-insert", "2"}), 0);
  // Rebuilds the replaced member, stopping the first try halfway.
  for (bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "replaced" : "after a stopped rebuild");
    EXPECT_EQ(Await(*local, "Status", "-2147483647"), "-2147483647");  // critical
    int entered = 0;
    for (int i = 0; i < 300 && (entered = local->Result(kReqChangeFolder, "disk2")) != 800; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(entered, 800) << "the waiting disk is a disk of its array";
    EXPECT_EQ(Await(*local, "Rebuild", "2"), "2");
    const std::string handle = Query(*local, "handle");
    ASSERT_EQ(local->Result(kReqChangeFolder, ".."), 800);
    EXPECT_EQ(local->Result(kReqInvoke, "RebuildArray@512@" + handle), 800);
    EXPECT_EQ(Await(*local, "Status", "512"), "512");
    ASSERT_EQ(local->Result(kReqChangeFolder, "disk2"), 800);
    EXPECT_EQ(Await(*local, "Rebuild", "1"), "1");
    ASSERT_EQ(local->Result(kReqChangeFolder, ".."), 800);
    if (stop) {
      ASSERT_EQ(Kelmsim({"fault", "step", "30000"}), 0);
      EXPECT_EQ(local->Result(kReqInvoke, "RebuildArray@2048@"), 800);
    }
  }
  ASSERT_EQ(Kelmsim({"fault", "step", "200000"}), 0);
  EXPECT_EQ(Await(*local, "Status", "0"), "0");  // the mirror is whole
  ASSERT_EQ(local->Result(kReqChangeFolder, "disk2"), 800);
  EXPECT_EQ(Await(*local, "Rebuild", "0"), "0");
}

TEST(AgentWithIde, RebuildFromTheLocalConsoleChangesTheArrayAndNotifiesEveryClient) {
  const fs::path tirrow = AgentRoot::lib("libtirrow.so");
  if (!fs::exists(tirrow)) GTEST_SKIP() << "the IDE-family component is not built";
  AgentRoot root({tirrow});
  SteppedSimulators sims;
  ASSERT_TRUE(sims.started());
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  AgentProcess agent(root, {"-win98"});
  ASSERT_TRUE(agent.ready());

  auto tcp = agent.Tcp();
  ASSERT_TRUE(tcp) << "no TCP connection to the agent";
  ASSERT_EQ(tcp->Logon("admin", "secret"), 800);
  EXPECT_TRUE(Listed(tcp->List(), "MV_RAID@o--@14"));
  ASSERT_EQ(tcp->Result(kReqChangeFolder, "MV_RAID"), 800);
  auto family = tcp->List();
  EXPECT_TRUE(Listed(family, "MVP1@o--@")) << family.size();
  EXPECT_TRUE(Listed(family, "Ary1@o--@"));
  ASSERT_EQ(tcp->Result(kReqChangeFolder, "Ary1"), 800);
  EXPECT_EQ(Query(*tcp, "Status"), "0");

  auto local = agent.Local();
  ASSERT_TRUE(local);
  ASSERT_TRUE(local->Send(CMessage(kReqComOpen, 0, 0, "")));
  ASSERT_TRUE(local->WaitNotification(kNotifyNotLoggedOn));
  auto token = ReadLocalToken();
  ASSERT_TRUE(token);
  ASSERT_EQ(local->Logon("admin", "secret", token->first, token->second), 800);
  for (const char* step : {"MV_RAID", "Ary1", "disk2"}) ASSERT_EQ(local->Result(kReqChangeFolder, step), 800) << step;
  const std::string target = Query(*local, "handle");
  ASSERT_NE(target, "<none>");
  ASSERT_EQ(local->Result(kReqChangeFolder, ".."), 800);

  // The rebuild is a local-only method: refused over TCP, run for the console on this host.
  EXPECT_EQ(tcp->Result(kReqInvoke, "RebuildArray@512@" + target), 802);
  tcp->notifications().clear();
  EXPECT_EQ(local->Result(kReqInvoke, "RebuildArray@512@" + target), 800);

  // The component's poll (once a second) sees the task and fires its change to every client.
  auto changed = tcp->WaitNotification(kNotifyFolderChanged, 30000);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->text.rfind("\\MV_RAID", 0), 0u) << changed->text;
  std::string status;
  for (int i = 0; i < 300 && status != "512"; ++i) {
    status = Query(*local, "Status");
    if (status != "512") std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(status, "512");  // rebuilding
}

}  // namespace
}  // namespace kelm::systest
