// The connection thread, the handshake timing, the fall of the link and its reconnection, and the
// life cycle — on scripted ports, with every wait recorded instead of slept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/testing/temp_root.h"
#include "serialapi/tests/scripted_port.h"

namespace glimmora::testing {
namespace {

std::vector<std::uint32_t> withoutTransactionSleeps(const std::vector<std::uint32_t>& calls) {
  std::vector<std::uint32_t> out;
  for (auto c : calls)
    if (c != 1) out.push_back(c);
  return out;
}

TEST(Handshake, ShortAndLongWaitFollowTheThirdByte) {
  struct Case {
    Bytes answer;
    std::vector<std::uint32_t> sleeps;
  };
  const std::vector<Case> cases = {
      {{0xA3, 0xA3, 0xA3}, {40, 100, 100, 50}},
      {{0xA3, 0xA3, 0x00}, {4000, 100, 100, 50}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer[2]);
    ScriptedLibrary s;
    s.wire->handshake = c.answer;
    ASSERT_TRUE(s.connect());
    EXPECT_EQ(withoutTransactionSleeps(s.sleeper.calls()), c.sleeps);
    std::lock_guard<std::mutex> g(s.wire->m);
    EXPECT_EQ(s.wire->handshakes, (std::vector<Bytes>{{0xA2}, {0xA4}}));
    EXPECT_TRUE(s.wire->requests.empty());
  }
}

TEST(Handshake, AnswerA3ThenOtherEndsAfterOneTryPerPortWithoutAutoconnect) {
  ScriptedLibrary s;
  s.present = {0, 1};
  s.wire->handshake = {0xA3, 0x00, 0x00};
  ASSERT_EQ(s.lib->initialize(), 0);
  EXPECT_EQ(s.lib->link().tryToConnect(), 0);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> g(s.wire->m);
    return s.wire->handshakes.size() >= 2 && s.hasTrace("Waiting for hComMonitor to be signaled\n") &&
           std::count(s.traces.begin(), s.traces.end(), "Waiting for hComMonitor to be signaled\n") >= 2;
  }));
  EXPECT_FALSE(s.lib->link().ready());
  std::lock_guard<std::mutex> g(s.wire->m);
  EXPECT_EQ(s.wire->handshakes.size(), 2u);
}

TEST(Handshake, SilentLineWithoutAutoconnectStaysDownUntilAsked) {
  ScriptedLibrary s;
  s.present = {0, 1};
  s.wire->silent = true;
  ASSERT_EQ(s.lib->initialize(), 0);
  s.lib->link().tryToConnect();
  ASSERT_TRUE(eventually([&] {
    std::lock_guard<std::mutex> g(s.traceMutex);
    return std::count(s.traces.begin(), s.traces.end(), "Waiting for hComMonitor to be signaled\n") >= 2;
  }));
  EXPECT_FALSE(s.lib->link().ready());
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    EXPECT_EQ(s.wire->handshakes.size(), 2u);
    s.wire->silent = false;
  }
  s.lib->link().tryToConnect();
  EXPECT_TRUE(eventually([&] { return s.lib->link().ready(); }));
}

TEST(LinkFall, TimeOutTakesTheLinkDownAndAutoconnectBringsItBack) {
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->silent = true;
  }
  EXPECT_EQ(s.lib->deleteArray(1), 2);
  EXPECT_TRUE(s.hasTrace("Timeout: setting event\n"));
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->silent = false;
  }
  ASSERT_TRUE(eventually([&] { return s.lib->link().ready(); }));
  EXPECT_EQ(s.lib->link().linkTimeout(), Link::kConnectTimeoutMs);
  s.wire->reply(replyFrame(108, {0}));
  EXPECT_EQ(s.lib->deleteArray(1), 0);
}

TEST(LinkFall, WithoutAutoconnectCommandsAnswer17UntilReconnected) {
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  s.lib->link().setAutoConnect(0);
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->silent = true;
  }
  EXPECT_EQ(s.lib->deleteArray(1), 2);
  EXPECT_TRUE(s.lib->link().lost());
  EXPECT_TRUE(s.hasTrace("Not setting event\n"));
  s.wire->takeRequests();
  EXPECT_EQ(s.lib->deleteArray(1), 17);
  EXPECT_TRUE(s.wire->takeRequests().empty());
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->silent = false;
  }
  s.lib->link().tryToConnect();
  EXPECT_TRUE(eventually([&] { return s.lib->link().ready(); }));
}

TEST(LinkFall, AWriteThatCannotCompleteTakesTheLinkDownLikeARead) {
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  s.lib->link().setAutoConnect(0);
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->stuck = true;
  }
  EXPECT_EQ(s.lib->deleteArray(1), 2);
  EXPECT_FALSE(s.lib->link().ready());
  EXPECT_TRUE(s.lib->link().lost());
  EXPECT_TRUE(s.hasTrace("Error in communicatons--write 1\n"));
}

TEST(LinkFall, ALineThatFailedIsOpenedAfreshWhereATimedOutOneIsKept) {
  struct Case {
    const char* what;
    bool Wire::*flag;
    const char* trace;
    int reopened;
  };
  const Case cases[] = {
      {"a write that times out", &Wire::stuck, "Error in communicatons--write 1\n", 0},
      {"a line that hung up", &Wire::hungUp, "Error in communicatons--write 2\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedLibrary s;
    ASSERT_TRUE(s.connect());
    s.lib->link().setAutoConnect(0);
    int opens = 0;
    {
      std::lock_guard<std::mutex> g(s.wire->m);
      opens = s.wire->opens;
      s.wire.get()->*c.flag = true;
    }
    EXPECT_EQ(s.lib->deleteArray(1), 2);
    EXPECT_TRUE(s.lib->link().lost());
    EXPECT_TRUE(s.hasTrace(c.trace));
    {
      std::lock_guard<std::mutex> g(s.wire->m);
      s.wire.get()->*c.flag = false;
    }
    s.lib->link().tryToConnect();
    ASSERT_TRUE(eventually([&] { return s.lib->link().ready(); }));
    std::lock_guard<std::mutex> g(s.wire->m);
    EXPECT_EQ(s.wire->opens - opens, c.reopened);
  }
}

TEST(FailureReasons, AFailedCommandLogsWhyBesideItsResultCode) {
  // Command 108: a 9-byte request, a 5-byte reply, read within 90000 ms.
  struct Case {
    const char* what;
    bool Wire::*flag;
    const char* logged;
  };
  const Case cases[] = {
      {"a silent line", &Wire::silent, "command 108 failed: Com1: 0 of 5 reply bytes in 90000 ms"},
      {"a write that times out", &Wire::stuck, "command 108 failed: Com1: 0 of 9 request bytes sent in 90000 ms"},
      {"a line that hung up", &Wire::hungUp, "command 108 failed: Com1: the line hung up"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedLibrary s;
    ASSERT_TRUE(s.connect());
    s.lib->link().setAutoConnect(0);
    EXPECT_TRUE(s.log().empty());
    {
      std::lock_guard<std::mutex> g(s.wire->m);
      s.wire.get()->*c.flag = true;
    }
    EXPECT_EQ(s.lib->deleteArray(1), 2) << "the result code stays the generic one";
    EXPECT_EQ(s.log(), std::vector<std::string>{c.logged});
    EXPECT_EQ(s.lib->deleteArray(1), 17);
    EXPECT_EQ(s.log().size(), 1u) << "a command refused without a link has nothing to log";
  }
}

TEST(FailureReasons, APortThatCannotBeOpenedIsLoggedWithWhy) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path&)> make;  // the device node, or nothing
    const char* reason;
  };
  const Case cases[] = {
      {"no device node", [](const std::filesystem::path&) {}, "No such file or directory"},
      {"a node that is no terminal", [](const std::filesystem::path& node) { std::ofstream(node) << "x"; },
       "is not a terminal"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    plat::testing::TempRoot root;
    std::filesystem::create_directories(root.dir() / "dev");
    c.make(root.dir() / "dev" / "ttyS0");
    plat::RecordingSleeper sleeper;
    std::vector<std::string> logged;
    LinkEnv env;  // the real ports
    env.sleeper = &sleeper;
    env.readSettings = [] {
      Settings settings;
      settings.number = 1;
      return settings;
    };
    env.log = [&](std::string_view line) { logged.emplace_back(line); };
    Glimmora lib(std::move(env));
    EXPECT_EQ(lib.initialize(), 2);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("Com1: ", 0), 0u) << logged[0];
    EXPECT_NE(logged[0].find((root.dir() / "dev" / "ttyS0").string()), std::string::npos) << logged[0];
    EXPECT_NE(logged[0].find(c.reason), std::string::npos) << logged[0];
  }
}

TEST(FailureReasons, APortThatStaysAwayIsLoggedOnceNotAtEveryAttempt) {
  ScriptedLibrary s;
  s.missing = plat::Error{EACCES, "cannot open /dev/ttyS0: Permission denied"};
  ASSERT_TRUE(s.connect());
  s.lib->link().setAutoConnect(0);
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->hungUp = true;
    s.wire->unplugged = true;
  }
  EXPECT_EQ(s.lib->deleteArray(1), 2);
  auto waits = [&] {
    std::lock_guard<std::mutex> g(s.traceMutex);
    return std::count(s.traces.begin(), s.traces.end(), "Waiting for hComMonitor to be signaled\n");
  };
  for (int attempt = 0; attempt < 2; ++attempt) {
    const auto before = waits();
    s.lib->link().tryToConnect();
    ASSERT_TRUE(eventually([&] { return waits() > before; }));
  }
  EXPECT_FALSE(s.lib->link().ready());
  const auto log = s.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Com1: cannot open /dev/ttyS0: Permission denied"), 1) << log.size();
  EXPECT_TRUE(s.hasTrace("Unable to open com port 1!\n"));
}

TEST(LinkFall, AReplyThatArrivesLateIsPurgedBeforeTheNextRequest) {
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  {
    std::lock_guard<std::mutex> g(s.wire->m);
    s.wire->pending = replyFrame(108, {0});  // a stale answer already on the line
  }
  s.wire->reply(replyFrame(108, {1}));
  EXPECT_EQ(s.lib->deleteArray(1), 2);
}

TEST(LifeCycle, UseCountKeepsTheLinkUntilTheLastTerminate) {
  ScriptedLibrary s;
  ASSERT_TRUE(s.connect());
  EXPECT_EQ(s.lib->initialize(), 0);
  EXPECT_TRUE(s.hasTrace("raInitialize simply return!!!!\n"));
  EXPECT_EQ(s.lib->terminate(), 0);
  EXPECT_TRUE(s.lib->link().ready());
  s.wire->takeRequests();
  EXPECT_EQ(s.lib->terminate(), 0);
  EXPECT_FALSE(s.lib->link().ready());
  EXPECT_TRUE(s.hasTrace("raTerminate really closes all stuff!\n"));
  EXPECT_EQ(s.wire->takeRequests(), (std::vector<Bytes>{{0xA1, 0xA1, 0x75, 0x00, 0x00, 0x00, 0x00, 0x00}}));
}

TEST(LifeCycle, TerminateWithoutInitializeReturnsAtOnce) {
  ScriptedLibrary s;
  EXPECT_EQ(s.lib->terminate(), 0);
  EXPECT_TRUE(s.sleeper.calls().empty());
}

TEST(LifeCycle, FailedFirstInitializeUndoesItsWork) {
  ScriptedLibrary s;
  s.present = {};
  EXPECT_EQ(s.lib->initialize(), 2);
  EXPECT_FALSE(s.lib->link().started());
  EXPECT_EQ(s.lib->terminate(), 0);  // nothing to end, no thread to wait for
  s.present = {0};
  EXPECT_TRUE(s.connect());
}

TEST(LifeCycle, WaitFlagWaitIsBounded) {
  ScriptedLibrary s;
  s.wire->silent = true;
  s.lib->link().setWaitFlag(1);
  EXPECT_EQ(s.lib->initialize(), 0);  // autoconnect off: nobody connects, the wait gives up
  EXPECT_FALSE(s.lib->link().ready());
  auto calls = s.sleeper.calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), Link::kReadyPollMs), Link::kReadyWaitMs / Link::kReadyPollMs);
}

TEST(Settings, RegistryValuesChooseThePorts) {
  struct Case {
    const char* name;
    Settings settings;
    std::vector<int> present;
    int opens;    // ports the library opened
    int current;  // the port it talks to
    int number;
    bool automatic;
  };
  const std::vector<Case> cases = {
      {"defaults scan two", {}, {0, 1}, 2, 0, 2, true},
      {"number 0 scans one", {std::nullopt, std::nullopt, 0, std::nullopt}, {0, 1}, 1, 0, 1, true},
      {"number 40 is held to the table", {std::nullopt, std::nullopt, 40, std::nullopt}, {3}, 1, 3, 10, true},
      {"fixed port 3", {3, 2, std::nullopt, std::nullopt}, {0, 1, 2}, 1, 2, 2, false},
      {"port 9 is ignored", {9, 2, std::nullopt, std::nullopt}, {0}, 1, 0, 2, true},
      {"port without the flag bit", {3, 1, std::nullopt, std::nullopt}, {0}, 1, 0, 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedLibrary s;
    s.settings = c.settings;
    s.present = c.present;
    ASSERT_EQ(s.lib->initialize(), 0);
    std::lock_guard<std::mutex> g(s.wire->m);
    EXPECT_EQ(s.wire->opens, c.opens);
    EXPECT_EQ(s.lib->link().currentPort(), c.current);
    EXPECT_EQ(s.lib->link().numberOfPorts(), c.number);
    EXPECT_EQ(s.lib->link().firstAvailable(), c.current);
    (void)c.automatic;
  }
}

TEST(Settings, FixedPortThatCannotOpenFailsAndIsForgotten) {
  ScriptedLibrary s;
  s.settings.port = 4;
  s.settings.flag = 2;
  s.present = {0};
  EXPECT_EQ(s.lib->initialize(), 2);
  EXPECT_EQ(s.lib->link().firstAvailable(), Link::kNoPort);
}

TEST(Settings, FixedPortBeyondTheScanRangeConnects) {
  ScriptedLibrary s;
  s.settings.port = 5;
  s.settings.flag = 2;
  s.present = {4};
  ASSERT_TRUE(s.connect());
  EXPECT_EQ(s.lib->link().currentPort(), 4);
}

}  // namespace
}  // namespace glimmora::testing

#include <cstdlib>
#include <filesystem>

#include "platform/registry/registry.h"

namespace glimmora::testing {
namespace {

TEST(RegistrySettings, ValuesAreReadBySize) {
  auto root = std::filesystem::temp_directory_path() / ("glimmora-reg-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root);
  ::setenv("KELM_ROOT", root.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  EXPECT_FALSE(readRegistrySettings().port.has_value());
  auto key = plat::reg::Key::create(plat::reg::Hive::CurrentUser, "VelkariRaidApiCfg\\comport");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->setDword("port", 3));
  ASSERT_TRUE(key->setDword("flag", 2));
  ASSERT_TRUE(key->setBinary("number", {5, 0}));  // too short to be read
  ASSERT_TRUE(key->setBinary("autoconnect", {1, 9, 9, 9}));
  Settings s = readRegistrySettings();
  EXPECT_EQ(s.port, 3u);
  EXPECT_EQ(s.flag, 2u);
  EXPECT_FALSE(s.number.has_value());
  EXPECT_EQ(s.autoconnect, 1);
  std::filesystem::remove_all(root);
  ::unsetenv("KELM_ROOT");
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace glimmora::testing
