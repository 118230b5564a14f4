// A real installation: ostrel, driven through its scripted answers, runs from a private root's
// floppy drive while a foreground agent runs; it stages the three floppies (the test swaps the
// drive's link when a disk is asked for), stops the agent through its stop event and starts
// issetup, which installs every part under the root. The installed agent then serves the three
// families' simulated controllers to a client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "message/message.h"
#include "tests/system/agent/agent_process.h"

extern char** environ;

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

fs::path Medium() {
  const char* m = std::getenv("KELM_TEST_MEDIUM");
  return m ? fs::path(m) : fs::path();
}

// Puts a volume into the drive: the drive's link is replaced in one rename.
void Insert(const fs::path& drive, int disk) {
  const fs::path next = drive.string() + ".next";
  std::error_code ec;
  fs::remove(next, ec);
  fs::create_directory_symlink(Medium() / ("DISK" + std::to_string(disk)), next);
  fs::rename(next, drive);
}

int Kelmsim(const std::string& args) {
  std::string cmd = "'" + AgentRoot::bin("kelmsim").string() + "' " + args + " >/dev/null 2>&1";
  int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// The wizard with its standard input and output on pipes.
struct Wizard {
  pid_t pid = -1;
  int in = -1, out = -1;
  std::string pending;

  explicit Wizard(const fs::path& program) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    std::string p = program.string(), script = "--script";
    char* argv[] = {p.data(), script.data(), nullptr};
    if (::posix_spawn(&pid, p.c_str(), &actions, nullptr, argv, environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in = toChild[1];
    out = fromChild[0];
  }
  ~Wizard() {
    if (in >= 0) ::close(in);
    if (out >= 0) ::close(out);
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  void Say(const std::string& line) {
    const std::string l = line + "\n";
    ASSERT_EQ(::write(in, l.data(), l.size()), static_cast<ssize_t>(l.size()));
  }
  // The next line it (or the installer it started) writes; nothing at the end of both or after
  // the deadline.
  std::optional<std::string> Line(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      if (auto nl = pending.find('\n'); nl != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      ssize_t n = ::read(out, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      pending.append(buf, static_cast<std::size_t>(n));
    }
  }
};

TEST(RealInstall, TheWizardStagesTheFloppiesStopsTheAgentAndEveryPartIsInstalled) {
  if (Medium().empty() || !fs::exists(Medium() / "DISK1")) GTEST_SKIP() << "no medium was built";
  AgentRoot root({});
  const fs::path drive = root.dir() / "media/floppy";
  fs::create_directories(drive.parent_path());
  Insert(drive, 1);

  // The earlier installation's agent runs in the foreground.
  AgentProcess earlier(root, {"-win98"});
  ASSERT_TRUE(earlier.ready());

  Wizard wizard(drive / "Ostrel.exe");
  ASSERT_GT(wizard.pid, 0);
  wizard.Say("type All Components");
  wizard.Say("next");
  wizard.Say("finish");
  Lines lines;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (auto line = wizard.Line(deadline)) {
    lines.push_back(*line);
    for (int disk : {2, 3}) {
      if (*line == "prompt: Please insert DISK" + std::to_string(disk) + " into " + drive.string()) {
        Insert(drive, disk);
        wizard.Say("ok");
      }
    }
  }
  int st = 0;
  ASSERT_EQ(::waitpid(wizard.pid, &st, 0), wizard.pid);
  wizard.pid = -1;
  EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0) << ::testing::PrintToString(lines);
  EXPECT_EQ(earlier.Wait(10000), std::optional<int>(0)) << "the agent stops on its stop event";

  const auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  for (const char* l : {"progress: Copying files for Disk1", "progress: Copying files for Disk2",
                        "progress: Copying files for Disk3", "$Remote: Remote Monitoring Utility installed (kelm-remote 1.0.0)",
                        "$Agent: Message Agent installed (kelm-agent 1.0.0)",
                        "$SC: Sorventic Component installed (kelm-sc 1.0.0)"})
    EXPECT_TRUE(has(l)) << l << "\n" << ::testing::PrintToString(lines);
  EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("message:", 0) == 0; }))
      << ::testing::PrintToString(lines);
  EXPECT_TRUE(fs::exists(root.dir() / "windows/temp/Velka03/data2.cab"));

  // The installed agent with the simulators: the three families' trees.
  const fs::path installed = root.dir() / "usr/bin/halvorn";
  ASSERT_TRUE(fs::exists(installed));
  ASSERT_EQ(Kelmsim("start"), 0);
  EXPECT_EQ(Kelmsim("fault handshake warm"), 0);
  EXPECT_EQ(AgentRoot::Run({installed.string(), "-i", "admin", "secret", "-s"}), 0);
  {
    AgentProcess agent(root, {"-win98"}, true, installed);
    ASSERT_TRUE(agent.ready());
    auto c = agent.Tcp();
    ASSERT_TRUE(c);
    ASSERT_EQ(c->Logon("admin", "secret"), 800);
    const Lines top = c->List();
    for (const char* family : {"SC_RAID", "MV_RAID", "VANTREL_RAID"}) {
      SCOPED_TRACE(family);
      ASSERT_TRUE(std::any_of(top.begin(), top.end(),
                              [&](const std::string& l) { return l.rfind(std::string(family) + "@o--@", 0) == 0; }))
          << ::testing::PrintToString(top);
      ASSERT_EQ(c->Result(kReqChangeFolder, family), 800);
      // The family's controllers: at least one folder below its root, waited for while the
      // component finds them.
      bool controllers = false;
      for (int i = 0; i < 100 && !controllers; ++i) {
        const Lines below = c->List();
        controllers = std::any_of(below.begin(), below.end(),
                                  [](const std::string& l) { return l.find("@o--@") != std::string::npos; });
        if (!controllers) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      EXPECT_TRUE(controllers);
      ASSERT_EQ(c->Result(kReqChangeFolder, ".."), 800);
    }
  }
  Kelmsim("stop");
}

}  // namespace
}  // namespace kelm::systest
