// A timed-out request's late answer through the real agent: kelmsim holds back the serial
// subsystem's reply to one call of a controller method, the agent answers after pellwick's
// (shortened) folder time-out, and the console's retry must get its own answer, never the late one.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "message/message.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/msgserver/pellwick_process.h"

namespace kelm::systest {
namespace {

int Kelmsim(const std::string& args) {
  const std::string cmd = "'" + AgentRoot::bin("kelmsim").string() + "' " + args + " >/dev/null 2>&1";
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// What the console hears of a call of the buzzer method: the echo of its request, or the
// final's text when no echo came.
std::string Invoke(AgentClient& console, const std::string& text) {
  const auto got = console.Request(kReqInvoke, text, 10000);
  for (const CMessage& m : got)
    if (m.status == kStatusPartial) return m.text;
  return got.empty() ? "<nothing>" : got.back().text;
}

TEST(LateReplies, ATimedOutCallsLateAnswerNeverReachesTheRetry) {
  AgentRoot root({AgentRoot::lib("libbrask.so")});
  // The daemon and the shortened timing go with the test, however it ends (before the root).
  struct Cleanup {
    ~Cleanup() {
      ::unsetenv("KELM_PELLWICK_TICK_MS");
      ::unsetenv("KELM_PELLWICK_FOLDER_TICKS");
      Kelmsim("stop");
    }
  } cleanup;
  ASSERT_EQ(Kelmsim("start --stepped-clock"), 0);
  ASSERT_EQ(Kelmsim("fault handshake warm"), 0);
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  // A tick of 50 ms and a folder time-out of 6 ticks: 0.3 s, against the connection's own 3 s.
  ::setenv("KELM_PELLWICK_TICK_MS", "50", 1);
  ::setenv("KELM_PELLWICK_FOLDER_TICKS", "6", 1);
  AgentProcess agent(root, {"-win98"});
  PellwickProcess server(root);
  ASSERT_TRUE(agent.ready() && server.ready());
  auto console = server.Console();
  ASSERT_TRUE(console);
  std::string host;
  for (int i = 0; i < 400 && host.empty(); ++i) {
    for (const auto& e : console->List())
      if (e.find("@o--@") != std::string::npos) host = e.substr(0, e.find('@'));
    if (host.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_FALSE(host.empty()) << "pellwick did not find the agent";
  ASSERT_EQ(console->Result(kReqChangeFolder, host), 800);
  ASSERT_EQ(console->Logon("admin", "secret"), 800);
  ASSERT_TRUE(console->Cd("SC_RAID/Controller1"));

  ASSERT_EQ(Invoke(*console, "SilentBuzzer@warm"), "800@Functional@SilentBuzzer@warm");
  // The subsystem's reply to the next call comes 1.5 s late: the console hears the time-out.
  ASSERT_EQ(Kelmsim("fault late 1500"), 0);
  EXPECT_EQ(Invoke(*console, "SilentBuzzer@first"), "806@Time Out");
  // The retry goes out while the agent still waits for the late reply; the answer it gets is
  // its own, and the first call's late one reaches nobody.
  EXPECT_EQ(Invoke(*console, "SilentBuzzer@retry"), "800@Functional@SilentBuzzer@retry");
  EXPECT_EQ(Invoke(*console, "SilentBuzzer@after"), "800@Functional@SilentBuzzer@after");
  // The agent was kept: its connection never went quiet for the connection's whole time-out.
  bool listed = false;
  ASSERT_EQ(console->Result(kReqChangeFolder, "\\"), 800);
  for (const auto& e : console->List()) listed = listed || e.rfind(host + "@", 0) == 0;
  EXPECT_TRUE(listed);
}

}  // namespace
}  // namespace kelm::systest
