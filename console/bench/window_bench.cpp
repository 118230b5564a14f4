// The window side of the console's benchmark, offscreen: the outline and list built for a mirrored
// tree, one poll's update of it with arrays rebuilding, and a start against the real agent until
// the outline shows every controller.
#include "console/bench/window_bench.h"

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/crypto/logon_token.h"
#include "console/core/tests/fake_agent.h"
#include "console/ui/console_app.h"
#include "message/com_socket.h"
#include "platform/com/activation.h"
#include "platform/registry/profile.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/temp_root.h"
#include "tests/system/agent/agent_process.h"

namespace kelm::console::bench {
namespace {

using Ms = std::chrono::duration<double, std::milli>;
using SteadyClock = std::chrono::steady_clock;
using ui::ConsoleApp;

const char* kCompany = "Velkari Technology Inc.";
const char* kProduct = "Kelm";

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

std::vector<CVirtualFolder*> ChildFolders(CVirtualFolder* f) {
  std::vector<CVirtualFolder*> out;
  if (!f) return out;
  for (CPea* c : f->SubFolders(false)) {
    if (auto* cf = AsFolder(c); cf && cf == c) out.push_back(cf);
  }
  return out;
}

bool IsControllerType(int t) {
  return t == kNodeIopController || t == kNodeIdeController || t == kNodeSerialController;
}

}  // namespace

std::optional<WindowFigures> MeasureWindows(int nodes, int rounds) {
  plat::testing::TempRoot root;
  plat::ManualClock clock;
  testing::FakeAgent agent;
  // One controller whose arrays fill the outline and the list alike.
  const int arrays = std::max(1, nodes - 1);
  testing::FakeNode* ctl = agent.root.Folder("Controller0", kNodeIdeController);
  ctl->Add("model", "pr-", "M-100");
  for (int a = 0; a < arrays; ++a) {
    testing::FakeNode* arr = ctl->Folder("Array" + std::to_string(a), kNodeIdeArray);
    arr->Add("name", "prw", "Data" + std::to_string(a));
    // The first ten rebuild.
    arr->Add("Status", "pr-", a < WindowFigures::kRebuilding ? "512" : "0");
    arr->Add("percent", "prv", "0");
    arr->Add("ThrottleStatus", "pr-", "0");
    arr->Add("RebuildArray", "m--", "60");
    arr->Add("SyncArray", "m--", "60");
  }
  if (!plat::reg::Profile(kCompany, kProduct).writeString("MessageServer\\MyConsole\\LOCALAGENT", "bValidProfile", "1")) {
    std::fprintf(stderr, "no profile\n");
    return std::nullopt;
  }
  DocumentOptions opts;
  opts.channelFactory = agent.Factory();
  opts.programPath = "/opt/kelm/bin/kelm";
  auto app = std::make_unique<ConsoleApp>(opts, clock);
  if (app->InitInstance() != ConsoleApp::Start::Started) {
    std::fprintf(stderr, "the console did not start\n");
    return std::nullopt;
  }
  ui::CMainFrame* frame = app->frame();
  frame->resize(1200, 860);
  ui::COutLineView* tree = frame->outline();
  auto pump = [&] {
    for (int i = 0; i < 8; ++i) {
      agent.Deliver();
      app->loop().runOnce(0);
      QApplication::processEvents();
    }
  };
  // The whole tree listed and cached once.
  CVirtualFolder* controller = nullptr;
  auto open = [&] {
    for (int i = 0; i < 20; ++i) {
      pump();
      CVirtualFolder* host = FindFolderOfType(app->doc()->root(), kNodeAgent);
      if (QTreeWidgetItem* h = tree->ItemOf(host)) h->setExpanded(true);
      controller = FindFolderOfType(app->doc()->root(), kNodeIdeController);
      if (QTreeWidgetItem* c = tree->ItemOf(controller)) {
        c->setExpanded(true);
        if (ChildFolders(controller).size() == static_cast<std::size_t>(arrays) &&
            tree->itemCount() >= static_cast<std::size_t>(nodes)) {
          return true;
        }
      }
    }
    return false;
  };
  if (!open()) {
    std::fprintf(stderr, "the tree did not open (%zu items)\n", tree->itemCount());
    return std::nullopt;
  }
  WindowFigures out;
  std::vector<double> build;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = SteadyClock::now();
    tree->Rebuild();
    CVirtualFolder* host = FindFolderOfType(app->doc()->root(), kNodeAgent);
    if (QTreeWidgetItem* h = tree->ItemOf(host)) h->setExpanded(true);
    QTreeWidgetItem* c = tree->ItemOf(controller);
    if (c) {
      c->setExpanded(true);
      tree->setCurrentItem(c);
    }
    QApplication::processEvents();
    frame->repaint();
    build.push_back(Ms(SteadyClock::now() - t0).count());
    out.items = tree->itemCount();
    out.listed = static_cast<std::size_t>(frame->list()->count());
    pump();  // the listings the expansion asked for
  }
  out.buildMs = Median(build);
  // Polls: the rebuilding arrays move on each second.
  std::vector<double> polls;
  for (int r = 0; r < std::max(rounds, 20); ++r) {
    for (int a = 0; a < WindowFigures::kRebuilding; ++a) {
      ctl->Child("Array" + std::to_string(a))->Child("percent")->value = std::to_string((r * 3 + a) % 100 + 1);
    }
    clock.advanceMs(1000);
    const auto t0 = SteadyClock::now();
    frame->Poll();
    pump();
    frame->list()->viewport()->repaint();
    polls.push_back(Ms(SteadyClock::now() - t0).count());
  }
  out.pollMs = Median(polls);
  out.pollMaxMs = *std::max_element(polls.begin(), polls.end());
  for (const ProgressBar& b : frame->list()->lastBars()) out.bars += b.draw ? 1 : 0;
  app.reset();
  return out;
}

std::optional<double> MeasureStart(std::string& why) {
  namespace fs = std::filesystem;
  using systest::AgentRoot;
  std::vector<fs::path> components;
  for (const char* c : {"libtirrow.so", "libvantrel.so", "libbrask.so"}) {
    const fs::path p = AgentRoot::lib(c);
    if (!fs::exists(p)) {
      why = p.string() + " is not built";
      return std::nullopt;
    }
    components.push_back(p);
  }
  for (const char* p : {"halvorn", "kelmsim"}) {
    if (!fs::exists(AgentRoot::bin(p))) {
      why = AgentRoot::bin(p).string() + " is not built";
      return std::nullopt;
    }
  }
  AgentRoot root(components);
  if (AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "start", "--stepped-clock"}) != 0) {
    why = "the simulators did not start";
    return std::nullopt;
  }
  struct SimStop {
    ~SimStop() { AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "stop"}); }
  } simStop;
  (void)AgentRoot::Run({AgentRoot::bin("kelmsim").string(), "fault", "handshake", "warm"});
  if (AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-i", "admin", "secret", "-s"}) != 0 ||
      AgentRoot::Run({AgentRoot::bin("halvorn").string(), "-RegServer"}) != 0) {
    why = "the agent could not be set up";
    return std::nullopt;
  }
  systest::AgentProcess agent(root, {});
  const auto served = SteadyClock::now() + std::chrono::seconds(20);
  while (agent.ready() && !fs::exists(plat::com::localSocketPath(kComSocketName)) && SteadyClock::now() < served) {
    QThread::msleep(10);
  }
  if (!agent.ready() || !fs::exists(plat::com::localSocketPath(kComSocketName))) {
    why = "the agent does not serve its local channel";
    return std::nullopt;
  }
  // The saved logon: the console logs on by itself.
  plat::reg::Profile profile(kCompany, kProduct);
  const std::string token = crypto::BuildLogonToken("admin", "secret");
  char host[256] = {};
  (void)::gethostname(host, sizeof host - 1);
  for (const std::string& name : {std::string("LOCALAGENT"), std::string(host)}) {
    const std::string section = "MessageServer\\MyConsole\\" + name;
    (void)profile.writeString(section, "UserProfile", token);
    (void)profile.writeString(section, "bAutoSave", "1");
    (void)profile.writeString(section, "bValidProfile", "1");
  }
  const auto t0 = SteadyClock::now();
  auto app = std::make_unique<ConsoleApp>();
  if (app->InitInstance() != ConsoleApp::Start::Started) {
    why = "the console did not start";
    return std::nullopt;
  }
  ui::COutLineView* tree = app->frame()->outline();
  // The administrator opens each system as it shows; done when every system is listed and each
  // of its controllers has its item.
  auto shown = [&] {
    CVirtualFolder* agentNode = FindFolderOfType(app->doc()->root(), kNodeAgent);
    if (!agentNode || agentNode->GetIntProperty("bHaveLogin", 0, true) != 1) return false;
    if (QTreeWidgetItem* a = tree->ItemOf(agentNode)) a->setExpanded(true);
    int systems = 0;
    bool all = true;
    for (CVirtualFolder* s : ChildFolders(agentNode)) {
      if (s->nodeType() != kNodeRaidSystem) continue;
      ++systems;
      if (QTreeWidgetItem* i = tree->ItemOf(s)) i->setExpanded(true);
      int controllers = 0;
      for (CVirtualFolder* c : ChildFolders(s)) {
        if (!IsControllerType(c->nodeType())) continue;
        ++controllers;
        all = all && tree->ItemOf(c) != nullptr;
      }
      all = all && controllers > 0;
    }
    return systems >= 3 && all;
  };
  const auto limit = t0 + std::chrono::seconds(20);
  bool done = false;
  while (!(done = shown()) && SteadyClock::now() < limit) {
    QEventLoop wait;
    QTimer::singleShot(2, &wait, &QEventLoop::quit);
    wait.exec();
  }
  const double ms = Ms(SteadyClock::now() - t0).count();
  app.reset();
  if (!done) {
    why = "the outline did not show every controller within 20 s";
    return std::nullopt;
  }
  return ms;
}

}  // namespace kelm::console::bench
