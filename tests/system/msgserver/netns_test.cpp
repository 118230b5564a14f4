// Across hosts: three agents, each in a network namespace of its own with its own host name,
// address and root, on one bridge with the message server; a console talks to the server over
// TCP. Made by the test itself (ip netns, veth pairs, a bridge); skipped where that is not allowed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/base/paths.h"
#include "platform/testing/temp_root.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/msgserver/pellwick_process.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;

int Sh(const std::string& cmd) {
  const int st = std::system((cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : 1;
}

class Network {
 public:
  Network() : tag_(std::to_string(::getpid() % 100000)), net_("10.213." + std::to_string(::getpid() % 250) + ".") {
    bridge_ = "kbr" + tag_;
    ok_ = ::geteuid() == 0 && Sh("ip link add " + bridge_ + " type bridge") == 0;
    ok_ = ok_ && Sh("ip addr add " + net_ + "254/24 dev " + bridge_) == 0 && Sh("ip link set " + bridge_ + " up") == 0;
  }
  ~Network() {
    for (const auto& ns : spaces_) Sh("ip netns del " + ns);
    Sh("ip link del " + bridge_);
  }
  bool ok() const { return ok_; }
  std::string broadcast() const { return net_ + "255"; }
  // A namespace with one address on the bridge; its name.
  std::string AddHost(int n) {
    const std::string ns = "kns" + tag_ + "-" + std::to_string(n);
    const std::string v = "kv" + tag_ + "x" + std::to_string(n);
    const bool made = Sh("ip netns add " + ns) == 0;
    if (made) spaces_.push_back(ns);
    ok_ = ok_ && made && Sh("ip link add " + v + " type veth peer name " + v + "p") == 0 &&
          Sh("ip link set " + v + "p netns " + ns) == 0 && Sh("ip link set " + v + " master " + bridge_) == 0 &&
          Sh("ip link set " + v + " up") == 0 && Sh("ip -n " + ns + " link set lo up") == 0 &&
          Sh("ip -n " + ns + " addr add " + net_ + std::to_string(n) + "/24 dev " + v + "p") == 0 &&
          Sh("ip -n " + ns + " link set " + v + "p up") == 0;
    return ns;
  }

 private:
  std::string tag_, net_, bridge_;
  std::vector<std::string> spaces_;
  bool ok_ = false;
};

// One agent host: its own root (test component, an administrator), its namespace and host name.
class AgentHost {
 public:
  AgentHost(std::string ns, std::string name, fs::path dir) : ns_(std::move(ns)), name_(std::move(name)), dir_(std::move(dir)) {
    fs::create_directories(dir_);
    Run(AgentRoot::bin("kelmregsvr").string() + " -s " + AgentRoot::lib("libkelmtestcomponent.so").string());
    Run(AgentRoot::bin("halvorn").string() + " -i admin secret -s");
  }
  ~AgentHost() { Kill(); }
  void Start() {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("KELM_ROOT", dir_.c_str(), 1);
      const std::string inner = "hostname " + name_ + " && exec " + AgentRoot::bin("halvorn").string() + " -win98";
      ::execlp("ip", "ip", "netns", "exec", ns_.c_str(), "unshare", "--uts", "sh", "-c", inner.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int st = 0;
    ::waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  void Run(const std::string& cmd) { Sh("KELM_ROOT=" + dir_.string() + " " + cmd); }
  std::string ns_, name_;
  fs::path dir_;
  pid_t pid_ = -1;
};

TEST(AcrossHosts, DiscoveryOneTreeRelayAndAnAgentDroppedAndFoundAgain) {
  Network net;
  if (!net.ok()) GTEST_SKIP() << "network namespaces, veth pairs and bridges cannot be made here (needs root with CAP_NET_ADMIN)";
  std::vector<std::string> spaces;
  for (int n = 1; n <= 3; ++n) spaces.push_back(net.AddHost(n));
  if (!net.ok()) GTEST_SKIP() << "network namespaces cannot be set up here";

  AgentRoot root({});
  ::setenv("KELM_BROADCAST", net.broadcast().c_str(), 1);
  std::vector<std::unique_ptr<AgentHost>> hosts;
  for (int n = 1; n <= 3; ++n)
    hosts.push_back(std::make_unique<AgentHost>(spaces[n - 1], "agent" + std::to_string(n), root.dir() / ("host" + std::to_string(n))));

  PellwickProcess server(root);
  ASSERT_TRUE(server.ready());
  auto console = server.Console();
  ASSERT_TRUE(console);
  for (auto& h : hosts) h->Start();
  const std::vector<std::string> all = {"agent1", "agent2", "agent3"};
  std::vector<std::string> folders;
  for (int i = 0; i < 600 && folders != all; ++i) {
    folders = Folders(console->List());
    if (folders != all) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_EQ(folders, all);

  // A request relayed into one agent, and its event relayed back.
  ASSERT_EQ(console->Result(kReqChangeFolder, "agent2"), 800);
  ASSERT_EQ(console->Logon("admin", "secret"), 800);
  ASSERT_EQ(console->Result(kReqChangeFolder, "TEST_RAID"), 800);
  ASSERT_EQ(console->Result(kReqChangeFolder, "Controller0"), 800);
  console->notifications().clear();
  const auto invoked = console->Request(kReqInvoke, "MakeEvent@disk failed");
  ASSERT_EQ(invoked.size(), 2u);
  EXPECT_EQ(invoked[1].text, "800@Functional");
  auto changed = console->WaitNotification(kNotifyFolderChanged);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->text, "\\agent2\\TEST_RAID\\Controller0@");

  // One agent dies: dropped with 8193; restarted: found again by its announcement.
  console->notifications().clear();
  hosts[2]->Kill();
  auto gone = console->WaitNotification(kNotifyFolderGone, 20000);
  ASSERT_TRUE(gone);
  EXPECT_EQ(gone->text, "\\agent3");
  // The console stood in another agent: it stays there.
  EXPECT_EQ(console->Request(kReqQuery, ".").front().text, ".@Controller0@o--@23");
  ASSERT_EQ(console->Result(kReqChangeFolder, "\\"), 800);
  EXPECT_EQ(Folders(console->List()), (std::vector<std::string>{"agent1", "agent2"}));
  hosts[2]->Start();
  auto back = console->WaitNotification(kNotifyFolderChanged, 20000);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->text, "\\");
  EXPECT_EQ(Folders(console->List()), all);
}

}  // namespace
}  // namespace kelm::systest
