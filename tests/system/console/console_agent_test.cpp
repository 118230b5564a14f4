// The console's core against the real agent over the local channel, with a family's component over
// its simulated driver: it logs on, mirrors the tree, and acts on an array (a rebuild whose new
// status arrives through the agent's notification; a delete through the array's controller).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
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

// A real agent with one family's component over its simulator, and a console logged on to it.
class ConsoleWithAgent : public ::testing::Test {
 protected:
  // False (after a skip) when the component is not built.
  bool Boot(const std::string& library) {
    const fs::path component = AgentRoot::lib(library);
    if (!fs::exists(component)) return false;
    root.emplace(std::vector<fs::path>{component});
    sims.emplace();
    EXPECT_TRUE(sims->started());
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}), 0);
    // The console reaches the agent through its registered local class.
    EXPECT_EQ(AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-RegServer"}), 0);
    agent.emplace(*root, std::vector<std::string>{"-win98"});
    EXPECT_TRUE(agent->ready());
    auto made = plat::makeEpollLoop();
    EXPECT_TRUE(made) << made.message();
    loop = std::move(*made);
    DocumentOptions opts;
    opts.programPath = "/opt/kelm/bin/kelm";
    doc = std::make_unique<CDremmoralDoc>(ui, *loop, plat::systemClock(), opts);
    return true;
  }
  void TearDown() override {
    if (doc) doc->Close();
    doc.reset();
  }
  // Runs the console's loop (and its one-second poll) until the condition holds; the ceiling only
  // keeps a broken build from hanging.
  bool Until(const std::function<bool()>& done, int ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done() && std::chrono::steady_clock::now() < end) {
      (void)loop->runOnce(20);
      if (std::chrono::steady_clock::now() - lastPoll >= std::chrono::seconds(1)) {
        lastPoll = std::chrono::steady_clock::now();
        doc->Poll();
      }
    }
    return done();
  }
  // Connects and logs on; the agent's node.
  CVirtualFolder* LogOn() {
    doc->OnInitialUpdate();
    std::string shown;
    for (const auto& b : ui.boxes) shown += b + "\n";
    EXPECT_EQ(doc->connections().size(), 1u) << shown;
    if (doc->connections().empty()) return nullptr;
    CPellwick* conn = doc->connections().front();
    EXPECT_TRUE(Until([&] { return !conn->firstQueryPending(); }));
    // The local agent's node now carries the agent's own root entry.
    CVirtualFolder* host = nullptr;
    for (CPea* child : doc->root()->SubFolders(false)) {
      auto* f = dynamic_cast<CVirtualFolder*>(child);
      if (f && f->nodeType() == kNodeAgent) host = f;
    }
    EXPECT_NE(host, nullptr);
    if (!host) return nullptr;
    EXPECT_EQ(host->GetProperty("ServerStatus", "", true), "1");
    doc->SetCommandNode(host);
    EXPECT_TRUE(doc->IsCommandEnabled(kCmdLogin));
    doc->OnCommand(kCmdLogin);
    EXPECT_TRUE(Until([&] { return host->GetIntProperty("bHaveLogin", 0, true) == 1; }));
    return host;
  }
  // The folder at the path, listed.
  CVirtualFolder* Open(const std::string& path) {
    CVirtualFolder* f = nullptr;
    Until([&] {
      f = doc->root()->FindByPath(path);
      if (f && !f->isOpen()) f->Refresh();
      return f && f->isOpen();
    });
    return f;
  }

  std::optional<AgentRoot> root;
  std::optional<SteppedSimulators> sims;
  std::optional<AgentProcess> agent;
  std::unique_ptr<plat::EventLoop> loop;
  ScriptedUi ui;
  std::unique_ptr<CDremmoralDoc> doc;
  std::chrono::steady_clock::time_point lastPoll = std::chrono::steady_clock::now();
};

TEST_F(ConsoleWithAgent, LogsOnMirrorsTheIdeTreeAndSeesARebuildArrive) {
  if (!Boot("libtirrow.so")) GTEST_SKIP() << "the IDE-family component is not built";
  CVirtualFolder* host = LogOn();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(Until([&] { return host->FindChild("MV_RAID") != nullptr; }));
  const std::string top = "\\" + host->name() + "\\MV_RAID";
  CVirtualFolder* family = Open(top);
  ASSERT_NE(family, nullptr);
  EXPECT_EQ(doc->BuildNodeLabel(family).text, "MAROVELT");
  CVirtualFolder* array = Open(top + "\\Ary1");
  ASSERT_NE(array, nullptr);
  CVirtualFolder* disk = Open(top + "\\Ary1\\disk2");
  ASSERT_NE(disk, nullptr);
  ASSERT_FALSE(disk->GetProperty("handle", "", true).empty());
  EXPECT_EQ(array->GetIntProperty("Status", -1, true), 0);

  CArrayAction(doc.get(), array).RebuildArray(kActStart, disk);
  // The component's poll sees the task and fires its change; the console reloads the array.
  EXPECT_TRUE(Until([&] { return (array->GetIntProperty("Status", 0, true) & 0xFF00) == 0x200; }))
      << "Status " << array->GetProperty("Status", "", true);
  EXPECT_NE(doc->BuildNodeLabel(array).text.find("Rebuilding"), std::string::npos);
}

TEST_F(ConsoleWithAgent, DeleteArrayGoesToTheIopControllerWithTheArraysHandle) {
  if (!Boot("libvantrel.so")) GTEST_SKIP() << "the intelligent-I/O component is not built";
  CVirtualFolder* host = LogOn();
  ASSERT_NE(host, nullptr);
  ASSERT_TRUE(Until([&] { return host->FindChild("VANTREL_RAID") != nullptr; }));
  const std::string iop = "\\" + host->name() + "\\VANTREL_RAID\\IOP1";
  ASSERT_NE(Open("\\" + host->name() + "\\VANTREL_RAID"), nullptr);
  CVirtualFolder* controller = Open(iop);
  ASSERT_NE(controller, nullptr);
  CVirtualFolder* array = Open(iop + "\\Array1");
  ASSERT_NE(array, nullptr);
  doc->SetCommandNode(array);
  ASSERT_TRUE(doc->IsCommandEnabled(kCmdDeleteArray));
  struct Replies : ReplyListener {
    void OnInvokeReply(int status, const std::string& text) override { got.push_back(std::to_string(status) + " " + text); }
    std::vector<std::string> got;
  } replies;
  controller->AddListener(&replies);
  doc->OnCommand(kCmdDeleteArray);  // confirmed with Yes
  // The controller, not the array, answers the delete.
  EXPECT_TRUE(Until([&] { return !replies.got.empty() && replies.got.back().rfind("3 ", 0) == 0; }));
  controller->RemoveListener(&replies);
  ASSERT_FALSE(replies.got.empty());
  EXPECT_EQ(replies.got.back(), "3 " + FormatResult(kResultFunctional));
  EXPECT_NE(replies.got.front().find("DeleteArray@512"), std::string::npos) << replies.got.front();
}

}  // namespace
}  // namespace kelm::systest
