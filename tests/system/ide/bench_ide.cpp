// kelm-bench-ide [TICKS]: the IDE-family component's CPU time per simulated second, against the
// simulated driver with 4 cards and their arrays, every tick of the poll run as the timer would run
// it. Each tick stands for one second of model time. The last line is "cpu: X%" (of one core).
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "components/ide/ide_nodes.h"
#include "components/ide/ide_poll.h"
#include "platform/loop/event_loop.h"
#include "tests/system/serial/sim_process.h"

namespace {

double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Four cards, every drive slot filled, the driver's four array slots in use, an enclosure per card.
const char* kScenario = R"([ide]
card 0 3
card 1 3
card 2 4
card 3 9
disk 0 20000
disk 1 20000
disk 2 20000
disk 3 20000
disk 4 40000
disk 5 40000
disk 6 40000
disk 7 40000
disk 8 80000
disk 9 80000
disk 10 80000
disk 11 80000
disk 12 120000
disk 13 120000
disk 14 120000
disk 15 120000
array 0 raid1 0 2
array 1 raid5 4 5 6
array 2 raid0 8 9 10
array 3 raid10 12 13 14 15
enclosure 0 1
enclosure 2 17
enclosure 4 1
enclosure 6 17
)";

}  // namespace

int main(int argc, char** argv) {
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1800;
  const char* bin = std::getenv("KELM_TEST_BIN");
  std::string binDir = bin ? bin : "";
  if (binDir.empty()) {
    std::string self = argv[0];
    binDir = self.substr(0, self.find_last_of('/') == std::string::npos ? 0 : self.find_last_of('/'));
    if (binDir.empty()) binDir = ".";
  }
  kelm::systest::SimProcess sim(binDir, "ide-bench");
  const auto scenario = sim.root() / "scenario.ini";
  std::ofstream(scenario) << kScenario;
  std::string out;
  if (sim.kelmsim("start --stepped-clock --scenario " + scenario.string(), &out) != 0) {
    std::fprintf(stderr, "kelmsim start failed: %s\n", out.c_str());
    return 1;
  }
  auto loop = std::move(*plat::makeEpollLoop());
  auto root = plat::com::makeObject<tirrow::CTirrowRoot>();
  root->Build();
  int controllers = 0, arrays = 0;
  for (const auto& e : root->Entries()) {
    if (!e->IsChild()) continue;
    controllers += e->name.rfind("MVP", 0) == 0;
    arrays += e->name.rfind("Ary", 0) == 0;
  }
  std::printf("cards: %d, arrays: %d\n", controllers, arrays);
  auto& poll = tirrow::CIdePoll::Get();
  for (int i = 0; i < 20; ++i) poll.Tick();  // warm-up
  const double start = cpuSeconds();
  for (int i = 0; i < ticks; ++i) poll.Tick();
  const double used = cpuSeconds() - start;
  std::printf("ticks (simulated seconds): %d\n", ticks);
  std::printf("component cpu: %.3f s\n", used);
  root->Driver()->Shutdown();
  root = nullptr;
  std::printf("cpu: %.4f%%\n", used / ticks * 100.0);
  return 0;
}
