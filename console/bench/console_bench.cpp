// One refresh of a large mirrored tree: every folder of the console's mirror is re-read from the
// agent (change folder, refresh, list) and every answer goes through the request engine and the
// tree. A scripted agent answers at once, so what is measured is the console's own work. Then the
// windows, offscreen: the outline and list built, a poll's update with arrays rebuilding, and a
// start against the real agent and simulators until the outline shows every controller.
#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "console/bench/window_bench.h"
#include "console/core/document.h"
#include "console/core/node_cache.h"
#include "console/core/null_ui_services.h"
#include "console/core/tests/fake_agent.h"
#include "platform/base/clock.h"
#include "platform/testing/temp_root.h"
#include "platform/loop/event_loop.h"
#include "platform/testing/manual_clock.h"

using namespace kelm;
using namespace kelm::console;

namespace {

class QuietUi : public NullUiServices {
 public:
  int MessageBox(const MessageBoxRequest&) override { return kIdOk; }
};

void Collect(CVirtualFolder* f, std::vector<CVirtualFolder*>& out) {
  out.push_back(f);
  for (CPea* c : f->SubFolders(false)) {
    if (auto* sub = dynamic_cast<CVirtualFolder*>(c)) Collect(sub, out);
  }
}

// The core's refresh; its median in ms, or a negative value when it could not run.
double MeasureRefresh(int nodes, int rounds) {
  plat::testing::TempRoot root;
  plat::ManualClock clock;
  auto loop = plat::makeEpollLoop(clock);
  if (!loop) {
    std::fprintf(stderr, "no loop: %s\n", loop.message().c_str());
    return -1;
  }
  testing::FakeAgent agent;
  // Controllers of 99 arrays each, every folder with a few values and methods.
  int made = 0;
  for (int c = 0; made < nodes; ++c) {
    testing::FakeNode* ctl = agent.root.Folder("Controller" + std::to_string(c), kNodeIdeController);
    ++made;
    ctl->Add("model", "pr-", "M-100");
    for (int a = 0; a < 99 && made < nodes; ++a, ++made) {
      testing::FakeNode* arr = ctl->Folder("Array" + std::to_string(a), kNodeIdeArray);
      arr->Add("name", "prw", "Data" + std::to_string(a));
      arr->Add("Status", "pr-", "0");
      arr->Add("percent", "prv", "0");
      arr->Add("ThrottleStatus", "pr-", "0");
      arr->Add("RebuildArray", "m--", "60");
      arr->Add("SyncArray", "m--", "60");
    }
  }
  if (auto stored = plat::reg::Profile("Velkari Technology Inc.", "Kelm")
                        .writeString("MessageServer\\MyConsole\\LOCALAGENT", "bValidProfile", "1");
      !stored) {
    std::fprintf(stderr, "no profile: %s\n", stored.message().c_str());
    return -1;
  }
  QuietUi ui;
  DocumentOptions opts;
  opts.channelFactory = agent.Factory();
  CDremmoralDoc doc(ui, **loop, clock, opts);
  doc.OnInitialUpdate();
  auto pump = [&] {
    for (int i = 0; i < 4; ++i) {
      agent.Deliver();
      (*loop)->runOnce(0);
    }
  };
  pump();
  // Open the whole tree once.
  for (int depth = 0; depth < 3; ++depth) {
    std::vector<CVirtualFolder*> all;
    Collect(doc.root(), all);
    for (CVirtualFolder* f : all) f->Refresh();
    pump();
  }
  std::vector<CVirtualFolder*> all;
  Collect(doc.root(), all);
  // The panes' cache: labels, images and command states of every node, built as a poll does. It
  // stays registered for the refreshes below, as the windows' cache is.
  NodeCache cache(doc);
  for (CVirtualFolder* f : all) cache.Track(f);
  std::vector<double> cacheMs;
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    cache.RebuildAll();
    cacheMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(cacheMs.begin(), cacheMs.end());
  std::vector<double> ms;
  const std::size_t before = agent.received.size();
  for (int r = 0; r < rounds; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    for (CVirtualFolder* f : all) {
      if (f->GetParent() && f->GetParent()->GetParent()) f->Reload();
    }
    pump();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("mirrored folders: %zu, records the agent answered per refresh: %zu\n", all.size(),
              (agent.received.size() - before) / static_cast<std::size_t>(rounds));
  std::printf("refresh of the whole tree: best %.2f ms, median %.2f ms over %d rounds\n", ms.front(),
              ms[ms.size() / 2], rounds);
  std::printf("cached labels of %zu nodes: best %.2f ms, median %.2f ms over %d rounds\n", cache.size(),
              cacheMs.front(), cacheMs[cacheMs.size() / 2], rounds);
  return ms[ms.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int nodes = argc > 1 ? std::clamp(std::atoi(argv[1]), 10, 1000000) : 1000;
  const int rounds = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 1000) : 5;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  const double refresh = MeasureRefresh(nodes, rounds);
  if (refresh < 0) return 1;
  const auto windows = console::bench::MeasureWindows(nodes, rounds);
  if (!windows) return 1;
  std::printf("outline of %zu items and list of %zu items built: median %.2f ms over %d rounds\n", windows->items,
              windows->listed, windows->buildMs, rounds);
  std::printf("poll with %d arrays rebuilding (%d bars drawn): median %.2f ms, worst %.2f ms\n",
              console::bench::WindowFigures::kRebuilding, windows->bars, windows->pollMs, windows->pollMaxMs);
  std::string why;
  const auto start = console::bench::MeasureStart(why);
  if (!start) std::printf("start: not measured: %s\n", why.c_str());
  std::printf("ms: %.2f\n", refresh);
  std::printf("outline and list build ms: %.2f\n", windows->buildMs);
  std::printf("poll update ms: %.2f\n", windows->pollMs);
  if (start) std::printf("start until every controller shows ms: %.2f\n", *start);
  return 0;
}
