#include "agent/service/service_app.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/base/paths.h"
#include "platform/base/unique_fd.h"
#include "platform/base/unix_address.h"
#include "platform/kernel/named_objects.h"
#include "platform/registry/registry.h"
#include "platform/testing/held_hive.h"
#include "platform/testing/result_values.h"
#include "platform/testing/temp_root.h"

namespace kelm {
namespace {

TEST(ServiceWords, CommandLineTable) {
  struct Case {
    std::vector<std::string> args;
    ServiceWord word;
    std::vector<std::string> rest;
  } cases[] = {
      {{}, ServiceWord::kNone, {}},
      {{"-SvcInstall"}, ServiceWord::kSvcInstall, {}},
      {{"/svcinstall"}, ServiceWord::kSvcInstall, {}},
      {{"-SVCREMOVE"}, ServiceWord::kSvcRemove, {}},
      {{"-win98"}, ServiceWord::kWin98, {}},
      {{"/Win98", "x"}, ServiceWord::kWin98, {"x"}},
      {{"-SvcDeb", "a", "-b"}, ServiceWord::kSvcDeb, {"a", "-b"}},
      {{"SvcDeb"}, ServiceWord::kNone, {}},  // no '-' or '/': skipped
      {{"plain", "args"}, ServiceWord::kNone, {}},
      {{"-i", "name", "-svcdeb", "-win98"}, ServiceWord::kSvcDeb, {"-win98"}},  // the first word decides
      {{"-", "/"}, ServiceWord::kNone, {}},
      {{"-SvcDebX"}, ServiceWord::kNone, {}},
  };
  for (const Case& c : cases) {
    ServiceCommand cmd = ScanServiceWords(c.args);
    std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(cmd.word, c.word) << label;
    EXPECT_EQ(cmd.rest, c.rest) << label;
  }
}

// A program whose hooks only record what happened.
class TestApp : public CServiceApp {
 public:
  TestApp() : CServiceApp({"KelmTestSvc", "Kelm test service"}) {}
  std::uint32_t OnServiceStart(const std::vector<std::string>& args, std::uint32_t& specific) override {
    started = args;
    specific = 7;
    return startResult;
  }
  int OnServiceStop() override {
    ++stops;
    return 0;
  }
  int OnServicePause() override {
    ++pauses;
    return 0;
  }
  int OnServiceContinue() override {
    ++continues;
    return 0;
  }
  std::uint32_t startResult = 0;
  std::vector<std::string> started;
  int stops = 0, pauses = 0, continues = 0;
};

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(ServiceInstall, UnitAndServiceKeyAreWrittenAndRemovedTogether) {
  plat::testing::TempRoot root;
  TestApp app;
  app.SetProgramPath("/opt/kelm dir/bin/halvorn");
  ASSERT_TRUE(app.InstallService());
  const auto unit = plat::paths::serviceUnitDir() / "KelmTestSvc.service";
  const std::string text = readFile(unit);
  EXPECT_NE(text.find("Description=Kelm test service\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ExecStart=\"/opt/kelm dir/bin/halvorn\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Type=notify\n"), std::string::npos);
  EXPECT_NE(text.find("Environment=KELM_ROOT=" + root.dir().string() + "\n"), std::string::npos) << text;
  auto key =
      plat::reg::Key::open(plat::reg::Hive::LocalMachine, "SOFTWARE\\Velkari Technology, Inc.\\Service\\KelmTestSvc");
  ASSERT_TRUE(key);
  EXPECT_EQ(plat::testing::valueOf(key->getString("ServiceName")), "KelmTestSvc");
  EXPECT_EQ(plat::testing::valueOf(key->getString("ServiceDisplayName")), "Kelm test service");
  EXPECT_EQ(plat::testing::valueOf(key->getString("ServiceBinaryPath")),
            "/opt/kelm dir/bin/halvorn");  // without quotes

  ASSERT_TRUE(app.RemoveService());
  EXPECT_FALSE(std::filesystem::exists(unit));
  EXPECT_FALSE(
      plat::reg::Key::open(plat::reg::Hive::LocalMachine, "SOFTWARE\\Velkari Technology, Inc.\\Service\\KelmTestSvc"));
  EXPECT_TRUE(app.RemoveService());  // removing again is harmless
}

// A service key the registry does not take fails install and remove, with the registry's reason
// in the log.
TEST(ServiceInstall, AServiceKeyThatCannotBeWrittenOrDeletedIsLoggedWithItsReason) {
  plat::testing::TempRoot root;
  TestApp app;
  app.SetProgramPath("/opt/kelm/bin/halvorn");
  app.SetLogToStderr(true);
  ASSERT_TRUE(app.InstallService());  // the hive exists from here on
  plat::testing::HeldHive busy(plat::reg::Hive::LocalMachine);
  ASSERT_TRUE(busy.held());
  struct Case {
    const char* what;
    std::function<bool(TestApp&)> run;
    const char* logged;
  } cases[] = {
      {"install", [](TestApp& a) { return a.InstallService(); }, "install: the service key cannot be written: "},
      {"remove", [](TestApp& a) { return a.RemoveService(); }, "remove: the service key cannot be deleted: "},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStderr();
    const bool ok = c.run(app);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok) << c.what;
    const std::size_t at = log.find(c.logged);
    ASSERT_NE(at, std::string::npos) << c.what << ": " << log;
    // The registry's own reason follows.
    EXPECT_GT(log.find('\n', at), at + std::strlen(c.logged)) << c.what << ": " << log;
  }
}

TEST(ServiceInstall, WordsOnTheCommandLineInstallAndRemove) {
  plat::testing::TempRoot root;
  const auto unit = plat::paths::serviceUnitDir() / "KelmTestSvc.service";
  EXPECT_EQ(plat::testing::runInChild([] { return TestApp().InitInstance({"/svcinstall"}); }), 0);
  EXPECT_TRUE(std::filesystem::exists(unit));
  EXPECT_EQ(plat::testing::runInChild([] { return TestApp().InitInstance({"-SvcRemove"}); }), 0);
  EXPECT_FALSE(std::filesystem::exists(unit));
  // Two plain arguments and no word: the program ends at once without starting.
  EXPECT_EQ(plat::testing::runInChild([] {
              TestApp app;
              int r = app.InitInstance({"one", "two"});
              return r == 1 && app.started.empty() && app.stops == 0 ? 0 : 2;
            }),
            0);
}

TEST(ServiceInstall, SecondInstanceEndsAtOnce) {
  plat::testing::TempRoot root;
  auto held = plat::kernel::NamedMutex::create("KelmTestSvc-Mutex");
  ASSERT_TRUE(held);
  EXPECT_EQ(plat::testing::runInChild([] { return TestApp().InitInstance({"-SvcInstall"}); }), 1);
  EXPECT_FALSE(std::filesystem::exists(plat::paths::serviceUnitDir() / "KelmTestSvc.service"));
}

// A datagram socket standing in for the service manager's NOTIFY_SOCKET.
class NotifySocket {
 public:
  explicit NotifySocket(const std::filesystem::path& path) : path_(path) {
    fd_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    auto a = plat::unixAddress(path.string());
    EXPECT_TRUE(a.ok());
    EXPECT_EQ(::bind(fd_.get(), a->get(), a->length), 0);
  }
  // Collects datagrams until one contains `what` (false after 20 s without it).
  bool waitFor(const std::string& what) {
    for (;;) {
      if (all_.find(what) != std::string::npos) return true;
      pollfd p{fd_.get(), POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) return false;
      char buf[4096];
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
      if (n > 0) all_.append(buf, static_cast<std::size_t>(n)).append("\n");
    }
  }
  const std::string& all() const { return all_; }

 private:
  std::filesystem::path path_;
  plat::UniqueFd fd_;
  std::string all_;
};

int waitExit(pid_t pid) {
  int st = 0;
  while (::waitpid(pid, &st, 0) < 0) {
  }
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

// Runs the test program in service mode in a child that reports to `notifySock`; the child's
// exit code is 0 when the run gave 0 with the expected hook counts, else 3 or its own code.
pid_t startService(const std::filesystem::path& notifyPath, std::uint32_t startResult) {
  ::setenv("NOTIFY_SOCKET", notifyPath.c_str(), 1);
  pid_t pid = ::fork();
  if (pid == 0) {
    TestApp app;
    app.startResult = startResult;
    int r = app.InitInstance({});
    if (startResult != 0) ::_exit(r);
    ::_exit(r == 0 && app.stops == 1 && app.pauses == 1 && app.continues == 1 ? 0 : 3);
  }
  ::unsetenv("NOTIFY_SOCKET");
  return pid;
}

TEST(ServiceMode, ReportsReadyPauseContinueAndStoppingToTheServiceManager) {
  plat::testing::TempRoot root;
  NotifySocket notifySock(root.dir() / "notify.sock");
  pid_t pid = startService(root.dir() / "notify.sock", 0);
  ASSERT_TRUE(notifySock.waitFor("READY=1")) << notifySock.all();
  ::kill(pid, SIGUSR1);
  ASSERT_TRUE(notifySock.waitFor("STATUS=Paused")) << notifySock.all();
  ::kill(pid, SIGUSR1);  // already paused: the flag stays, the hook is not called again
  ::kill(pid, SIGUSR2);
  ASSERT_TRUE(notifySock.waitFor("STATUS=Running\n")) << notifySock.all();
  ::kill(pid, SIGUSR2);
  ::kill(pid, SIGTERM);
  ASSERT_TRUE(notifySock.waitFor("STOPPING=1")) << notifySock.all();
  EXPECT_EQ(waitExit(pid), 0) << notifySock.all();
}

TEST(ServiceMode, AStartFailureReportsTheServiceStoppedWithItsError) {
  plat::testing::TempRoot root;
  NotifySocket notifySock(root.dir() / "notify.sock");
  pid_t pid = startService(root.dir() / "notify.sock", 5);
  EXPECT_EQ(waitExit(pid), 1);
  EXPECT_TRUE(notifySock.waitFor("ERRNO=5")) << notifySock.all();
  EXPECT_EQ(notifySock.all().find("READY=1"), std::string::npos);
}

TEST(ForegroundMode, Win98InstallsAndStopsOnTheStopEvent) {
  plat::testing::TempRoot root;
  // Setting the event before the program waits is kept for its wait.
  auto ev = plat::kernel::NamedEvent::create("KelmTestSvc-ServiceStop");
  ASSERT_TRUE(ev);
  ASSERT_TRUE(ev->set().ok());
  int r = plat::testing::runInChild([] {
    TestApp app;
    int code = app.InitInstance({"-win98"});
    return code == 0 && app.stops == 1 && app.started.empty() ? 0 : 3;
  });
  EXPECT_EQ(r, 0);
  EXPECT_TRUE(std::filesystem::exists(plat::paths::serviceUnitDir() / "KelmTestSvc.service"));
}

TEST(ForegroundMode, SvcDebStopsOnCtrlCAndGetsTheArgumentsAfterTheWord) {
  plat::testing::TempRoot root;
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipeFds[0]);
    struct App : TestApp {
      int fd;
      std::uint32_t OnServiceStart(const std::vector<std::string>& args, std::uint32_t& s) override {
        TestApp::OnServiceStart(args, s);
        char c = 1;
        return ::write(fd, &c, 1) == 1 ? 0 : 1;
      }
    } app;
    app.fd = pipeFds[1];
    int code = app.InitInstance({"-SvcDeb", "x"});
    ::_exit(code == 0 && app.stops == 1 && app.started == std::vector<std::string>{"x"} ? 0 : 3);
  }
  ::close(pipeFds[1]);
  char c;
  ASSERT_EQ(::read(pipeFds[0], &c, 1), 1);
  ::close(pipeFds[0]);
  ::kill(pid, SIGINT);
  EXPECT_EQ(waitExit(pid), 0);
}

TEST(ForegroundMode, RequestStopEndsTheRunWithAnError) {
  plat::testing::TempRoot root;
  int r = plat::testing::runInChild([] {
    struct App : TestApp {
      std::uint32_t OnServiceStart(const std::vector<std::string>&, std::uint32_t&) override {
        RequestStop("worker died");
        return 0;
      }
    } app;
    return app.InitInstance({"-SvcDeb"}) == 1 && app.stops == 1 ? 0 : 3;
  });
  EXPECT_EQ(r, 0);
}

}  // namespace
}  // namespace kelm
