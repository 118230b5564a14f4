#pragma once
// Fakes of what the wizard's Finish reaches: named objects, the service manager, waiting, the
// administrator's answers, the progress window and the launcher.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "setup/core/finish_orchestrator.h"

namespace kelm::setup::testing {

namespace fs = std::filesystem;

constexpr const char* kAgentMutex = "ZODUzAve-Mutex";
constexpr const char* kServerMutex = "REDErUve-Mutex";
constexpr const char* kAgentDenied = "Error Stopping Agent, No Admin Previlage?";
constexpr const char* kServerDenied = "Error Stopping Server, No Admin Previlage?";

// Mutexes held by name; a stop (event or service manager) lets one go after some pauses.
struct FakeWorld : NamedObjects, ServiceManager, Pacer {
  std::set<std::string> held;
  std::map<std::string, plat::Error> heldErrors;  // a mutex whose query is refused
  std::set<std::string> managed;                   // services the service manager runs
  std::map<std::string, int> stopError;            // a stop the service manager refuses
  std::set<std::string> deaf;                      // programs that never go away
  std::vector<std::string> events, stops;
  std::uint32_t pausedMs = 0;
  int releaseAfterPauses = 2;
  std::map<std::string, int> leaving;  // mutex -> pauses left until it is free
  // Called once per console query, so that a test can close the console.
  std::function<void()> onConsoleQuery;

  plat::Result<bool> MutexHeld(std::string_view name) override {
    const std::string n(name);
    if (n == kConsoleMutex && onConsoleQuery) onConsoleQuery();
    if (auto e = heldErrors.find(n); e != heldErrors.end()) return e->second;
    return held.count(n) > 0;
  }
  void leave(const std::string& service) {
    if (!deaf.count(service)) leaving[service + "-Mutex"] = releaseAfterPauses;
  }
  plat::Result<void> SetEvent(std::string_view name) override {
    const std::string n(name);
    events.push_back(n);
    const std::string service = n.substr(0, n.find('-'));
    if (!held.count(service + "-Mutex")) return plat::Error{ENXIO, "no such event"};
    leave(service);
    return plat::success();
  }
  plat::Result<bool> Runs(std::string_view service) override { return managed.count(std::string(service)) > 0; }
  plat::Result<void> Stop(std::string_view service) override {
    const std::string s(service);
    stops.push_back(s);
    if (auto e = stopError.find(s); e != stopError.end()) return plat::Error{e->second, "refused"};
    leave(s);
    return plat::success();
  }
  // Called at each pause, as the event loop would run the window meanwhile.
  std::function<void()> onPause;
  void Pause(std::uint32_t ms) override {
    pausedMs += ms;
    if (onPause) onPause();
    for (auto it = leaving.begin(); it != leaving.end();) {
      if (--it->second <= 0) {
        held.erase(it->first);
        it = leaving.erase(it);
      } else {
        ++it;
      }
    }
    // The copy worker runs meanwhile.
    std::this_thread::yield();
  }
};

struct FakePrompts : Prompts {
  std::vector<std::string> questions, messages;
  std::function<bool(const std::string&)> answer = [](const std::string&) { return true; };
  bool OkCancel(const std::string& text) override {
    questions.push_back(text);
    return answer(text);
  }
  void Message(const std::string& text) override { messages.push_back(text); }
};

struct FakeProgress : ProgressWindow {
  std::vector<std::string> captions;
  std::vector<int> lastPercent;  // the bar when each window was hidden
  int percent = -1;
  bool shown = false;
  void Show(const std::string& caption, const std::string& text) override {
    EXPECT_EQ(text, "Please wait while copying files to the hard disk...");
    captions.push_back(caption);
    shown = true;
  }
  void SetPercent(int p) override {
    EXPECT_TRUE(shown);
    EXPECT_GE(p, 0);
    EXPECT_LE(p, 100);
    percent = p;
  }
  void Hide() override {
    lastPercent.push_back(percent);
    shown = false;
  }
};

struct FakeLauncher : Launcher {
  struct Start {
    fs::path program;
    std::vector<std::string> args;
    fs::path workingDir;
  };
  std::vector<Start> starts;
  int error = 0;
  plat::Result<void> Start(const fs::path& program, const std::vector<std::string>& args,
                           const fs::path& workingDir) override {
    starts.push_back({program, args, workingDir});
    if (error) return plat::errnoError("starting " + program.string(), error);
    return plat::success();
  }
};

}  // namespace kelm::setup::testing
