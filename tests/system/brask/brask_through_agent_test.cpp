// The serial family through the real agent: halvorn loads both families' components, kelmsim
// serves the serial port and the IDE driver, and a TCP client lists the tree the component shows.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
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

class BraskThroughAgent : public ::testing::Test {
 protected:
  BraskThroughAgent() : root_({AgentRoot::lib("libbrask.so"), AgentRoot::lib("libtirrow.so")}) {
    EXPECT_EQ(Kelmsim("start"), 0);
    // A subsystem that is already awake answers the handshake at once.
    EXPECT_EQ(Kelmsim("fault handshake warm"), 0);
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  ~BraskThroughAgent() override { Kelmsim("stop"); }
  AgentRoot root_;
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

}  // namespace
}  // namespace kelm::systest
