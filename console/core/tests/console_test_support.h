#pragma once
// The fixture of the console core's tests: a private root, a manual clock, a loop on it, a
// scripted screen and a fake agent on the local channel.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "console/core/document.h"
#include "console/core/tests/fake_agent.h"
#include "platform/base/clock.h"
#include "platform/testing/temp_root.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/manual_clock.h"

namespace kelm::console::testing {

// A scripted screen. Every call that would run a nested loop on a real screen first runs duringModal,
// where a test lets records arrive or prunes nodes, as a real nested loop would.
class FakeUi : public UiServices {
 public:
  int MessageBox(const MessageBoxRequest& r) override {
    boxes.push_back(r);
    ++boxDepth;
    maxBoxDepth = std::max(maxBoxDepth, boxDepth);
    Modal();
    --boxDepth;
    if (!answers.empty()) {
      const int a = answers.front();
      answers.erase(answers.begin());
      return a;
    }
    return r.buttons == MsgButtons::YesNo ? kIdYes : kIdOk;
  }
  void Beep(std::uint32_t kind) override { beeps.push_back(kind); }
  void SetWaitCursor(bool) override {}
  void SetUserText(const std::string& text) override { userText = text; }
  void SetActivity(int) override {}
  std::optional<FontChoice> PickFont(const FontChoice&) override {
    Modal();
    return font;
  }
  std::optional<ColorRef> PickColour(ColorRef) override {
    Modal();
    return colour;
  }
  std::optional<LoginInput> RunLoginDialog(const std::string& userName, const std::string& agentName) override {
    dialogs.push_back(userName + "|" + agentName);
    Modal();
    return login;
  }
  void FocusOutline() override { ++outlineFocus; }
  void SelectInOutline(CPea* node) override { selected = node; }
  void EditLabel(CPea*) override {}
  void OpenRebuildWizard(CPea* array, CPea* disk) override { wizard = {array, disk}; }
  void OpenEventViewer(CPea*) override {}
  std::optional<std::string> PickSaveFile(const std::string& name, const std::string& ext,
                                          const std::string& filter) override {
    saveRequests.push_back(name + "|" + ext + "|" + filter);
    Modal();
    return savePath;
  }
  SplitterMode ShowOnlyPane(SplitterPane pane) override {
    const SplitterMode old = splitter;
    splitter = pane == SplitterPane::List ? SplitterMode::ListOnly : SplitterMode::PropertyOnly;
    return old;
  }
  SplitterMode ShowAllPanes() override {
    const SplitterMode old = splitter;
    splitter = SplitterMode::BothPanes;
    return old;
  }
  std::optional<CreateArrayOptions> RunCreateArrayOptions() override {
    ++optionDialogs;
    Modal();
    return createOptions;
  }
  void CloseMainWindow() override { ++closeRequests; }
  bool RebootMachine() override {
    ++reboots;
    return rebootSucceeds;
  }

  // Runs once per modal call while set; a handler may clear or replace it.
  std::function<void()> duringModal;
  void Modal() {
    if (duringModal) {
      std::function<void()> f = duringModal;
      f();
    }
  }

  std::vector<MessageBoxRequest> boxes;
  std::vector<int> answers;
  std::vector<std::uint32_t> beeps;
  std::vector<std::string> dialogs;
  std::optional<LoginInput> login;
  std::optional<FontChoice> font;
  std::optional<ColorRef> colour;
  std::vector<std::string> saveRequests;
  std::optional<std::string> savePath;
  SplitterMode splitter = SplitterMode::BothPanes;
  std::optional<CreateArrayOptions> createOptions = CreateArrayOptions{};
  int optionDialogs = 0;
  int boxDepth = 0;
  int maxBoxDepth = 0;
  int closeRequests = 0;
  int reboots = 0;
  bool rebootSucceeds = true;
  std::string userText;
  int outlineFocus = 0;
  CPea* selected = nullptr;
  std::pair<CPea*, CPea*> wizard{nullptr, nullptr};
};

class RecordingView : public DocumentView {
 public:
  void OnUpdate(int hint, CPea* node) override { hints.emplace_back(hint, node); }
  int Count(int hint, const CPea* node = nullptr) const {
    int n = 0;
    for (const auto& [h, p] : hints) n += h == hint && (!node || p == node);
    return n;
  }
  std::vector<std::pair<int, CPea*>> hints;
};

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() : loop(plat::makeEpollLoop(clock).value()) {
    agent.root.Add("Description", "pr-", "agent");
    FakeNode* c0 = agent.root.Folder("Controller0", kNodeIdeController);
    c0->Add("model", "pr-", "M-100");
    c0->Add("CreateArray", "m--", "60");
    FakeNode* a1 = c0->Folder("Array1", kNodeIdeArray);
    a1->Add("name", "prw", "Data");
    a1->Add("Status", "pr-", "0");
    a1->Add("percent", "prv", "0");
    a1->Add("RebuildArray", "m--", "60");
    a1->Add("SyncArray", "m--", "60");
  }
  ~ConsoleTest() override {
    doc.reset();
    loop->runOnce(0);
  }

  // A profile that lets the console open the local agent without the Login dialog.
  void ValidProfile() {
    plat::reg::Profile p("Velkari Technology Inc.", "Kelm");
    ASSERT_TRUE(p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "bValidProfile", "1"));
    ASSERT_TRUE(p.writeString("MessageServer\\MyConsole\\LOCALAGENT", "UserProfile", ""));
  }

  void Start() {
    DocumentOptions opts;
    opts.channelFactory = agent.Factory();
    opts.programPath = "/opt/kelm/bin/kelm";
    doc = std::make_unique<CDremmoralDoc>(ui, *loop, clock, opts);
    doc->AddView(&view);
    doc->OnInitialUpdate();
    Pump();
  }

  // Delivers every answer and runs what became due.
  void Pump() {
    for (int i = 0; i < 20; ++i) {
      agent.Deliver();
      loop->runOnce(0);
    }
  }

  CVirtualFolder* Node(const std::string& path) { return doc->root()->FindByPath(path); }
  CVirtualFolder* Agent() { return dynamic_cast<CVirtualFolder*>(doc->root()->FindChild("HOST7")); }
  CPellwick* Conn() { return doc->connections().empty() ? nullptr : doc->connections().front(); }

  plat::testing::TempRoot root;
  plat::ManualClock clock;
  std::unique_ptr<plat::EventLoop> loop;
  FakeUi ui;
  RecordingView view;
  FakeAgent agent;
  std::unique_ptr<CDremmoralDoc> doc;
};

// A detached node of a given type with local values, for the rules that read only the node.
class NodeFixture : public ConsoleTest {
 protected:
  void SetUp() override {
    ValidProfile();
    Start();
  }
  // A console-made folder under parent (the agent when null) with the given values.
  CVirtualFolder* Make(const std::string& name, int type, std::vector<std::pair<std::string, std::string>> values = {},
                       CVirtualFolder* parent = nullptr) {
    if (!parent) parent = Agent();
    auto* f = dynamic_cast<CVirtualFolder*>(parent->AddFolderFromEntry(name + "@o--@" + std::to_string(type)));
    for (auto& [k, v] : values) {
      if (k[0] == '!') {
        f->AddMethod(k.substr(1), std::stoi(v));
      } else {
        f->AddChildEntry(k, "pr-", v);
      }
    }
    return f;
  }
};

}  // namespace kelm::console::testing
