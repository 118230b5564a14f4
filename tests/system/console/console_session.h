#pragma once
// The console's core against the real agent: a private root with the given components and the
// simulators on a stepped clock, the agent in the foreground, and a document on a real loop that
// logs on to it. until() runs the loop and the one-second poll until a condition holds. The loop's
// clock runs with real time and can be stepped ahead, so that the console's own waits pass at once.
// The agent can instead run in this process on a manual clock (its one-minute walk, which reads the
// components' new events, then passes when the test steps it).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/core/document.h"
#include "console/core/null_ui_services.h"
#include "agent/core/halvorn_doc.h"
#include "agent/events/services/agent_event_services.h"
#include "platform/testing/manual_clock.h"
#include "tests/system/agent/agent_process.h"
#include "tests/system/agent/stepped_doc.h"

namespace kelm::systest {

// The agent's document with its event services on a worker thread of its own, serving the local
// channel and TCP as halvorn does, on a clock that moves only when stepped.
class SteppedAgent {
 public:
  SteppedAgent() {
    std::promise<bool> ready;
    worker_ = std::thread([this, &ready] {
      auto loop = plat::makeEpollLoop(clock_);
      if (!loop) return ready.set_value(false);
      loop_ = std::move(*loop);
      agent::DocOptions o;
      o.loop = loop_.get();
      o.clock = &clock_;
      o.makeEvents = [](agent::CHalvornDoc& d) { return std::make_unique<events::CAgentEventServices>(d); };
      doc_ = std::make_unique<agent::CHalvornDoc>(o);
      // The store is named after the program that keeps it: this one's gets the same account.
      if (plat::FAILED(doc_->Accounts().InitUserStore("admin", "secret"))) return ready.set_value(false);
      doc_->CloseAll();
      doc_->StartListening();
      doc_->OnTick();  // the first walk
      ready.set_value(true);
      (void)loop_->run();
      doc_.reset();
    });
    ready_ = ready.get_future().get();
  }
  ~SteppedAgent() {
    if (loop_) {
      loop_->post([this] { doc_.reset(); });
      loop_->quit();
    }
    if (worker_.joinable()) worker_.join();
  }
  SteppedAgent(const SteppedAgent&) = delete;
  SteppedAgent& operator=(const SteppedAgent&) = delete;
  bool ready() const { return ready_; }
  void step(int seconds) { StepDocument(clock_, *loop_, *doc_, seconds); }

 private:
  plat::ManualClock clock_{plat::systemClock().wallSeconds()};
  std::unique_ptr<plat::EventLoop> loop_;
  std::unique_ptr<agent::CHalvornDoc> doc_;
  std::thread worker_;
  bool ready_ = false;
};

class ScriptedUi : public console::NullUiServices {
 public:
  int MessageBox(const console::MessageBoxRequest& r) override {
    boxes.push_back(r.text);
    titles.push_back(r.caption);
    return r.buttons == console::MsgButtons::YesNo ? console::kIdYes : console::kIdOk;
  }
  std::optional<console::LoginInput> RunLoginDialog(const std::string&, const std::string&) override {
    return login;
  }
  std::optional<console::CreateArrayOptions> RunCreateArrayOptions() override { return options; }
  // A recording rebooter: the machine is never rebooted by a test.
  bool RebootMachine() override {
    ++reboots;
    return rebootWorks;
  }
  void CloseMainWindow() override { ++closes; }
  std::vector<std::string> boxes, titles;
  console::LoginInput login{"admin", "secret", false};
  std::optional<console::CreateArrayOptions> options = console::CreateArrayOptions{};
  int reboots = 0, closes = 0;
  bool rebootWorks = true;
};

// Real time plus an offset the test moves forward.
class SteppableClock final : public plat::Clock {
 public:
  std::int64_t wallSeconds() const override { return plat::systemClock().wallSeconds() + offsetMs_ / 1000; }
  std::int64_t monotonicMs() const override { return plat::systemClock().monotonicMs() + offsetMs_; }
  void step(std::chrono::milliseconds by) { offsetMs_ += by.count(); }

 private:
  std::atomic<std::int64_t> offsetMs_{0};
};

// Another console on the same loop, with a connection of its own.
struct OtherConsole {
  ScriptedUi ui;
  std::unique_ptr<console::CDremmoralDoc> doc;
  console::CVirtualFolder* host = nullptr;
  ~OtherConsole() {
    if (doc) doc->Close();
  }
};

class ConsoleSession {
 public:
  enum class Agent { Process, SteppedInProcess };
  explicit ConsoleSession(const std::vector<std::filesystem::path>& components, Agent kind = Agent::Process)
      : kind_(kind), root_(components) {}
  ~ConsoleSession() {
    others_.clear();
    if (doc) doc->Close();
    doc.reset();  // before the loop its timers run on
  }

  // Starts the simulators and the agent, then the console; false (with the reason) when any fails.
  ::testing::AssertionResult Start() {
    sims_ = std::make_unique<SteppedSimulators>();
    if (!sims_->started()) return ::testing::AssertionFailure() << "the simulators did not start";
    if (AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}) != 0 ||
        AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-RegServer"}) != 0) {
      return ::testing::AssertionFailure() << "the agent could not be set up";
    }
    if (kind_ == Agent::SteppedInProcess) {
      stepped_ = std::make_unique<SteppedAgent>();
      if (!stepped_->ready()) return ::testing::AssertionFailure() << "the agent did not start";
    } else {
      agent_ = std::make_unique<AgentProcess>(root_, std::vector<std::string>{"-win98"});
      if (!agent_->ready()) return ::testing::AssertionFailure() << "the agent did not start";
      // The console connects once, at once: wait until the local channel opened after the TCP port.
      if (!agent_->Local()) return ::testing::AssertionFailure() << "the agent's local channel did not open";
    }
    auto loop = plat::makeEpollLoop(clock_);
    if (!loop) return ::testing::AssertionFailure() << loop.message();
    loop_ = std::move(*loop);
    lastPoll_ = std::chrono::steady_clock::now();
    return LogOn(ui, doc, host);
  }

  // A second console logged on to the same agent as the given user; null (with the failure
  // recorded) when it could not log on.
  OtherConsole* OpenAnother(const std::string& user, const std::string& password) {
    auto other = std::make_unique<OtherConsole>();
    other->ui.login = console::LoginInput{user, password, false};
    const auto logged = LogOn(other->ui, other->doc, other->host);
    EXPECT_TRUE(logged);
    if (!logged) return nullptr;
    others_.push_back(std::move(other));
    return others_.back().get();
  }

  // Moves the console's loop clock ahead: its timers due by then fire on the next pass.
  void stepClock(std::chrono::milliseconds by) { clock_.step(by); }

  // Runs the console's loop (and its one-second poll) until the condition holds; the ceiling only
  // keeps a broken build from hanging.
  bool until(const std::function<bool()>& done, int ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      (void)loop_->runOnce(20);
      if (std::chrono::steady_clock::now() - lastPoll_ >= std::chrono::seconds(1)) {
        lastPoll_ = std::chrono::steady_clock::now();
        doc->Poll();
        for (auto& o : others_) o->doc->Poll();
      }
    }
    return done();
  }

  // The folder at the path below the console root, listed.
  console::CVirtualFolder* open(const std::string& path) {
    console::CVirtualFolder* f = nullptr;
    until([&] {
      f = doc->root()->FindByPath(path);
      if (f && !f->isOpen()) f->Refresh();
      return f && f->isOpen();
    });
    return f;
  }

  // The first listed child folder of the given node type, opened; waits at most ms for one.
  console::CVirtualFolder* child(console::CVirtualFolder* parent, int nodeType, int ms = 30000) {
    console::CVirtualFolder* found = nullptr;
    until([&] {
      for (CPea* c : parent->SubFolders(true)) {
        auto* f = dynamic_cast<console::CVirtualFolder*>(c);
        if (f && f->nodeType() == nodeType) found = f;
        if (found) break;
      }
      return found != nullptr;
    }, ms);
    if (!found) return nullptr;
    until([&] {
      if (!found->isOpen()) found->Refresh();
      return found->isOpen();
    });
    return found->isOpen() ? found : nullptr;
  }

  // The first node of the given type among the children of the family nodes below the agent (a
  // controller, or an array of a family without one), opened.
  console::CVirtualFolder* familyChild(int nodeType) {
    console::CVirtualFolder* found = nullptr;
    until([&] {
      for (CPea* c : host->SubFolders(true)) {
        auto* family = dynamic_cast<console::CVirtualFolder*>(c);
        if (!family || family->nodeType() != console::kNodeRaidSystem) continue;
        if (!family->isOpen()) family->Refresh();
        for (CPea* cc : family->SubFolders(false)) {
          auto* f = dynamic_cast<console::CVirtualFolder*>(cc);
          if (f && f->nodeType() == nodeType && !found) found = f;
        }
      }
      return found != nullptr;
    });
    if (!found) return nullptr;
    until([&] {
      if (!found->isOpen()) found->Refresh();
      return found->isOpen();
    });
    return found;
  }

  // An agent in this process moves on by the seconds, with the console's loop running meanwhile.
  void stepAgent(int seconds) {
    for (int i = 0; i < seconds && stepped_; ++i) {
      stepped_->step(1);
      (void)loop_->runOnce(0);
    }
  }
  // The loop the console runs on, for another document beside `doc`.
  plat::EventLoop& loop() { return *loop_; }
  // The session's private root.
  const std::filesystem::path& dir() const { return root_.dir(); }

  ScriptedUi ui;
  std::unique_ptr<console::CDremmoralDoc> doc;
  console::CVirtualFolder* host = nullptr;

 private:
  // A document on the session's loop that logs on to the local agent through the ui's dialog.
  ::testing::AssertionResult LogOn(ScriptedUi& with, std::unique_ptr<console::CDremmoralDoc>& made,
                                   console::CVirtualFolder*& agent) {
    console::DocumentOptions opts;
    opts.programPath = "/opt/kelm/bin/kelm";
    made = std::make_unique<console::CDremmoralDoc>(with, *loop_, clock_, opts);
    made->OnInitialUpdate();
    if (made->connections().size() != 1u) return ::testing::AssertionFailure() << "no connection to the agent";
    console::CPellwick* conn = made->connections().front();
    if (!until([&] { return !conn->firstQueryPending(); })) return ::testing::AssertionFailure() << "no first reply";
    for (CPea* child : made->root()->SubFolders(false)) {
      auto* f = dynamic_cast<console::CVirtualFolder*>(child);
      if (f && f->nodeType() == console::kNodeAgent) agent = f;
    }
    if (!agent) return ::testing::AssertionFailure() << "no agent node";
    made->SetCommandNode(agent);
    made->OnCommand(console::kCmdLogin);
    made->SetCommandNode(nullptr);
    if (!until([&] { return agent->GetIntProperty("bHaveLogin", 0, true) == 1; })) {
      return ::testing::AssertionFailure() << "no logon as " << with.login.userName;
    }
    return ::testing::AssertionSuccess();
  }

  Agent kind_;
  AgentRoot root_;
  std::unique_ptr<SteppedSimulators> sims_;
  std::unique_ptr<AgentProcess> agent_;
  std::unique_ptr<SteppedAgent> stepped_;
  SteppableClock clock_;  // before the loop and the documents that use it
  std::unique_ptr<plat::EventLoop> loop_;
  std::vector<std::unique_ptr<OtherConsole>> others_;
  std::chrono::steady_clock::time_point lastPoll_;
};

}  // namespace kelm::systest
