#pragma once
// The console's core against the real agent: a private root with the given components and the
// simulators on a stepped clock, the agent in the foreground, and a document on a real loop that
// logs on to it. until() runs the loop and the one-second poll until a condition holds.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/core/document.h"
#include "console/core/null_ui_services.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {

class ScriptedUi : public console::NullUiServices {
 public:
  int MessageBox(const console::MessageBoxRequest& r) override {
    boxes.push_back(r.text);
    return r.buttons == console::MsgButtons::YesNo ? console::kIdYes : console::kIdOk;
  }
  std::optional<console::LoginInput> RunLoginDialog(const std::string&, const std::string&) override {
    return console::LoginInput{"admin", "secret", false};
  }
  std::optional<console::CreateArrayOptions> RunCreateArrayOptions() override { return options; }
  std::vector<std::string> boxes;
  std::optional<console::CreateArrayOptions> options = console::CreateArrayOptions{};
};

class ConsoleSession {
 public:
  explicit ConsoleSession(const std::vector<std::filesystem::path>& components) : root_(components) {}
  ~ConsoleSession() {
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
    agent_ = std::make_unique<AgentProcess>(root_, std::vector<std::string>{"-win98"});
    if (!agent_->ready()) return ::testing::AssertionFailure() << "the agent did not start";
    auto loop = plat::makeEpollLoop();
    if (!loop) return ::testing::AssertionFailure() << loop.message();
    loop_ = std::move(*loop);
    console::DocumentOptions opts;
    opts.programPath = "/opt/kelm/bin/kelm";
    doc = std::make_unique<console::CDremmoralDoc>(ui, *loop_, plat::systemClock(), opts);
    lastPoll_ = std::chrono::steady_clock::now();
    doc->OnInitialUpdate();
    if (doc->connections().size() != 1u) return ::testing::AssertionFailure() << "no connection to the agent";
    console::CPellwick* conn = doc->connections().front();
    if (!until([&] { return !conn->firstQueryPending(); })) return ::testing::AssertionFailure() << "no first reply";
    for (CPea* child : doc->root()->SubFolders(false)) {
      auto* f = dynamic_cast<console::CVirtualFolder*>(child);
      if (f && f->nodeType() == console::kNodeAgent) host = f;
    }
    if (!host) return ::testing::AssertionFailure() << "no agent node";
    doc->SetCommandNode(host);
    doc->OnCommand(console::kCmdLogin);
    doc->SetCommandNode(nullptr);
    if (!until([&] { return host->GetIntProperty("bHaveLogin", 0, true) == 1; })) {
      return ::testing::AssertionFailure() << "no logon";
    }
    return ::testing::AssertionSuccess();
  }

  // Runs the console's loop (and its one-second poll) until the condition holds; the ceiling only
  // keeps a broken build from hanging.
  bool until(const std::function<bool()>& done, int ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      (void)loop_->runOnce(20);
      if (std::chrono::steady_clock::now() - lastPoll_ >= std::chrono::seconds(1)) {
        lastPoll_ = std::chrono::steady_clock::now();
        doc->Poll();
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

  // The loop the console runs on, for another document beside `doc`.
  plat::EventLoop& loop() { return *loop_; }
  // The session's private root.
  const std::filesystem::path& dir() const { return root_.dir(); }

  ScriptedUi ui;
  std::unique_ptr<console::CDremmoralDoc> doc;
  console::CVirtualFolder* host = nullptr;

 private:
  AgentRoot root_;
  std::unique_ptr<SteppedSimulators> sims_;
  std::unique_ptr<AgentProcess> agent_;
  std::unique_ptr<plat::EventLoop> loop_;
  std::chrono::steady_clock::time_point lastPoll_;
};

}  // namespace kelm::systest
