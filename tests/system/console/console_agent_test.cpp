// The console's core against the real agent over the local channel, with the IDE-family component
// over the simulated Marovelt driver: it logs on, mirrors the tree, starts a rebuild, and sees the
// array's new status arrive through the agent's notification.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

#include "console/core/array_action.h"
#include "console/core/document.h"
#include "console/core/null_ui_services.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::systest {
namespace {

namespace fs = std::filesystem;
using namespace kelm::console;

class ScriptedUi : public NullUiServices {
 public:
  int MessageBox(const MessageBoxRequest& r) override {
    boxes.push_back(r.text);
    return r.buttons == MsgButtons::YesNo ? kIdYes : kIdOk;
  }
  std::optional<LoginInput> RunLoginDialog(const std::string&, const std::string&) override {
    return LoginInput{"admin", "secret", false};
  }
  std::vector<std::string> boxes;
};

class Counting : public DocumentView {
 public:
  void OnUpdate(int, CPea*) override {}
};

TEST(ConsoleWithAgent, LogsOnMirrorsTheIdeTreeAndSeesARebuildArrive) {
  const fs::path tirrow = AgentRoot::lib("libtirrow.so");
  if (!fs::exists(tirrow)) GTEST_SKIP() << "the IDE-family component is not built";
  AgentRoot root({tirrow});
  SteppedSimulators sims;
  ASSERT_TRUE(sims.started());
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
  // The console reaches the agent through its registered local class.
  ASSERT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-RegServer"}), 0);
  AgentProcess agent(root, {"-win98"});
  ASSERT_TRUE(agent.ready());

  auto loop = plat::makeEpollLoop();
  ASSERT_TRUE(loop) << loop.message();
  ScriptedUi ui;
  DocumentOptions opts;
  opts.programPath = "/opt/kelm/bin/kelm";
  CDremmoralDoc doc(ui, **loop, plat::systemClock(), opts);
  auto lastPoll = std::chrono::steady_clock::now();
  // Runs the console's loop (and its one-second poll) until the condition holds; the ceiling only
  // keeps a broken build from hanging.
  auto until = [&](const std::function<bool()>& done, int ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      (void)(*loop)->runOnce(20);
      if (std::chrono::steady_clock::now() - lastPoll >= std::chrono::seconds(1)) {
        lastPoll = std::chrono::steady_clock::now();
        doc.Poll();
      }
    }
    return done();
  };
  doc.OnInitialUpdate();
  std::string shown;
  for (const auto& b : ui.boxes) shown += b + "\n";
  ASSERT_EQ(doc.connections().size(), 1u) << shown;
  CPellwick* conn = doc.connections().front();
  ASSERT_TRUE(until([&] { return !conn->firstQueryPending(); }));
  // The local agent's node now carries the agent's own root entry.
  CVirtualFolder* host = nullptr;
  for (CPea* child : doc.root()->SubFolders(false)) {
    auto* f = dynamic_cast<CVirtualFolder*>(child);
    if (f && f->nodeType() == kNodeAgent) host = f;
  }
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->GetProperty("ServerStatus", "", true), "1");

  doc.SetCommandNode(host);
  ASSERT_TRUE(doc.IsCommandEnabled(kCmdLogin));
  doc.OnCommand(kCmdLogin);
  ASSERT_TRUE(until([&] { return host->GetIntProperty("bHaveLogin", 0, true) == 1; }));
  ASSERT_TRUE(until([&] { return host->FindChild("MV_RAID") != nullptr; }));
  const std::string top = "\\" + host->name() + "\\MV_RAID";
  auto open = [&](const std::string& path) -> CVirtualFolder* {
    CVirtualFolder* f = nullptr;
    until([&] {
      f = doc.root()->FindByPath(path);
      if (f && !f->isOpen()) f->Refresh();
      return f && f->isOpen();
    });
    return f;
  };
  CVirtualFolder* family = open(top);
  ASSERT_NE(family, nullptr);
  EXPECT_EQ(doc.BuildNodeLabel(family).text, "MAROVELT");
  CVirtualFolder* array = open(top + "\\Ary1");
  ASSERT_NE(array, nullptr);
  CVirtualFolder* disk = open(top + "\\Ary1\\disk2");
  ASSERT_NE(disk, nullptr);
  ASSERT_FALSE(disk->GetProperty("handle", "", true).empty());
  EXPECT_EQ(array->GetIntProperty("Status", -1, true), 0);

  CArrayAction(&doc, array).RebuildArray(kActStart, disk);
  // The component's poll sees the task and fires its change; the console reloads the array.
  EXPECT_TRUE(until([&] { return (array->GetIntProperty("Status", 0, true) & 0xFF00) == 0x200; }))
      << "Status " << array->GetProperty("Status", "", true);
  EXPECT_NE(doc.BuildNodeLabel(array).text.find("Rebuilding"), std::string::npos);
  doc.Close();
}

}  // namespace
}  // namespace kelm::systest
