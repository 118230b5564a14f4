// halvorn as a real process in a private root, with the test component registered.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/base/paths.h"
#include "platform/base/unix_address.h"
#include "platform/kernel/named_objects.h"
#include "platform/loop/socket.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;

class AgentSystemTest : public ::testing::Test {
 protected:
  AgentSystemTest() : root_({AgentRoot::lib("libkelmtestcomponent.so")}) {
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  }
  bool Contains(const std::vector<std::string>& list, const std::string& entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
  }
  AgentRoot root_;
};

// An account file that cannot be written: "/i" prints its failure text and, beside it, why.
TEST_F(AgentSystemTest, InitThatCannotWriteTheStoreSaysWhy) {
  const fs::path store = plat::paths::stateDir() / "halvorn.PWD";
  ASSERT_TRUE(fs::exists(store));
  const auto before = fs::file_size(store);
  fs::create_directories(plat::paths::stateDir() / "QUILLON.PW_" / "inside");  // no new copy can be made
  const std::string command = AgentRoot::bin("halvorn").string() + " -i other pw 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[512];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  const int st = ::pclose(p);
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 1) << st;
  EXPECT_NE(out.find("System initialization failed, you may try it again later."), std::string::npos) << out;
  EXPECT_NE(out.find("QUILLON.PW_"), std::string::npos) << out;
  EXPECT_NE(out.find(std::strerror(EEXIST)), std::string::npos) << out;
  EXPECT_EQ(fs::file_size(store), before);
}

TEST_F(AgentSystemTest, TcpClientLogsOnListsAndInvokes) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto c = agent.Tcp();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Result(kReqListRights, ""), -1);  // not logged on: 8192 instead of a reply
  ASSERT_EQ(c->Logon("admin", "secret"), 800);
  auto root = c->List();
  EXPECT_TRUE(Contains(root, "TEST_RAID@o--@14"));
  EXPECT_TRUE(Contains(root, "Users@o--@12"));
  EXPECT_TRUE(Contains(root, "TestEvent@prw@523"));
  ASSERT_EQ(c->Result(kReqChangeFolder, "TEST_RAID"), 800);
  auto top = c->List();
  EXPECT_TRUE(Contains(top, "Model@pr-@Test subsystem"));
  EXPECT_FALSE(Contains(top, "Ping@m--@2013265919"));  // local-only: not for a TCP client
  ASSERT_EQ(c->Result(kReqChangeFolder, "Controller0"), 800);
  auto before = c->Request(kReqQuery, "EventCount");
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0].text, "EventCount@prv@0");
  c->notifications().clear();
  auto invoked = c->Request(kReqInvoke, "MakeEvent@disk failed");
  ASSERT_EQ(invoked.size(), 2u);
  EXPECT_EQ(invoked[0].text, "800@Functional@MakeEvent@disk failed");
  auto changed = c->WaitNotification(kNotifyFolderChanged);
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->text, "\\TEST_RAID\\Controller0@");
  auto after = c->Request(kReqQuery, "EventCount");
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0].text, "EventCount@prv@1");
}

TEST_F(AgentSystemTest, AnnouncementArrivesOnTheAnnouncementPort) {
  auto loop = std::move(plat::makeEpollLoop().value());
  auto bound = plat::UdpSocket::bind(*loop, "127.0.0.1", root_.port(plat::paths::kAgentAnnouncePort));
  ASSERT_TRUE(bound) << bound.message();
  auto udp = std::move(*bound);
  std::string got;
  udp->onDatagram([&](std::string_view d, const std::string&, std::uint16_t) { got.assign(d); });
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  for (int i = 0; i < 2000 && got.empty(); ++i) loop->runOnce(10);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.rfind("VELKARI_RAID#", 0), 0u) << got;
  EXPECT_NE(got.find("#Hello World!"), std::string::npos) << got;
}

TEST_F(AgentSystemTest, TheStopEventStopsTheForegroundAgent) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  // The event exists once the agent waits on it (after its start).
  std::optional<plat::kernel::NamedEvent> ev;
  for (int i = 0; i < 2000 && !ev; ++i) {
    if (auto opened = plat::kernel::NamedEvent::open("ZODUzAve-ServiceStop"))
      ev.emplace(std::move(*opened));
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(ev);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(ev->set().ok());
  auto code = agent.Wait(20000);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0);
  std::printf("stopped %lld ms after the stop event\n", static_cast<long long>(ms.count()));
  // "win98" installed the unit on its way.
  EXPECT_TRUE(fs::exists(plat::paths::serviceUnitDir() / "ZODUzAve.service"));
}

TEST_F(AgentSystemTest, ServiceModeReportsToTheServiceManagerAndStopsOnSigterm) {
  const fs::path sockPath = root_.dir() / "notify.sock";
  plat::UniqueFd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  auto addr = plat::unixAddress(sockPath.string());
  ASSERT_TRUE(addr.ok());
  ASSERT_EQ(::bind(sock.get(), addr->get(), addr->length), 0);
  ::setenv("NOTIFY_SOCKET", sockPath.c_str(), 1);
  AgentProcess agent(root_, {});
  ::unsetenv("NOTIFY_SOCKET");
  ASSERT_TRUE(agent.ready());
  std::string all;
  auto waitFor = [&](const std::string& what) {
    while (all.find(what) == std::string::npos) {
      pollfd p{sock.get(), POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return false;
      char buf[4096];
      ssize_t n = ::recv(sock.get(), buf, sizeof buf, 0);
      if (n > 0) all.append(buf, static_cast<std::size_t>(n)).append("\n");
    }
    return true;
  };
  ASSERT_TRUE(waitFor("READY=1")) << all;
  ::kill(agent.pid(), SIGUSR1);
  ASSERT_TRUE(waitFor("STATUS=Paused")) << all;
  ::kill(agent.pid(), SIGUSR2);
  ASSERT_TRUE(waitFor("STATUS=Running\n")) << all;
  auto c = agent.Tcp();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Logon("admin", "secret"), 800);
  ::kill(agent.pid(), SIGTERM);
  EXPECT_TRUE(waitFor("STOPPING=1")) << all;
  auto code = agent.Wait(20000);
  ASSERT_TRUE(code);
  EXPECT_EQ(*code, 0);
}

TEST_F(AgentSystemTest, LocalChannelClientGetsNotLoggedOnAndLocalOnlyMethods) {
  AgentProcess agent(root_, {"-win98"});
  ASSERT_TRUE(agent.ready());
  auto local = agent.Local();
  ASSERT_TRUE(local);
  ASSERT_TRUE(local->Send(CMessage(kReqComOpen, 0, 0, "")));
  auto first = local->Next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->code, kNotifyNotLoggedOn);
  EXPECT_EQ(first->text, "\\@");
  auto token = ReadLocalToken();
  ASSERT_TRUE(token);
  ASSERT_EQ(local->Logon("admin", "secret", token->first, token->second), 800);
  auto tcp = agent.Tcp();
  ASSERT_TRUE(tcp) << "no TCP connection to the agent";
  ASSERT_EQ(tcp->Logon("admin", "secret"), 800);
  EXPECT_EQ(local->List(), tcp->List());  // the same tree
  ASSERT_EQ(local->Result(kReqChangeFolder, "TEST_RAID"), 800);
  ASSERT_EQ(tcp->Result(kReqChangeFolder, "TEST_RAID"), 800);
  EXPECT_TRUE(Contains(local->List(), "Ping@m--@2013265919"));
  EXPECT_FALSE(Contains(tcp->List(), "Ping@m--@2013265919"));
  EXPECT_EQ(local->Result(kReqInvoke, "Ping@from the console"), 800);
  EXPECT_EQ(tcp->Result(kReqInvoke, "Ping@from afar"), 802);
  // The change notification tells the console to re-read the folder.
  ASSERT_TRUE(local->WaitNotification(kNotifyFolderChanged));
  ASSERT_EQ(local->Result(kReqRefresh, ""), 800);
  auto q = local->Request(kReqQuery, "LastPing");
  ASSERT_EQ(q.size(), 2u);
  EXPECT_EQ(q[0].text, "LastPing@pr-@from the console");
  ASSERT_TRUE(local->Send(CMessage(kReqComClose, 0, 0, "")));
}

TEST_F(AgentSystemTest, InstalledUnitIsAcceptedBySystemdAnalyze) {
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-SvcInstall"}), 0);
  const fs::path unit = plat::paths::serviceUnitDir() / "ZODUzAve.service";
  ASSERT_TRUE(fs::exists(unit));
  const fs::path analyze = "/usr/bin/systemd-analyze";
  if (!fs::exists(analyze)) GTEST_SKIP() << "systemd-analyze is not installed";
  const std::string cmd = analyze.string() + " verify --man=no '" + unit.string() + "' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_TRUE(p);
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  const int rc = ::pclose(p);
  EXPECT_EQ(rc, 0) << out;
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-SvcRemove"}), 0);
  EXPECT_FALSE(fs::exists(unit));
}

}  // namespace
}  // namespace kelm::systest
