// kelm-bench-serial: transactions per second of a small command (the cache size query: an 8-byte
// request and an 8-byte reply) through libglimmora.so against the simulator, beside the time the
// same bytes take on a 115200-baud line (10 bits a byte with start and stop bits).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "serialapi/glimmora.h"
#include "tests/system/serial/sim_process.h"

int main(int argc, char** argv) {
  int transactions = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (transactions < 10 || transactions > 1000000) {
    std::fprintf(stderr, "usage: kelm-bench-serial [TRANSACTIONS 10..1000000]\n");
    return 2;
  }
  auto bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
  kelm::systest::SimProcess sim(bin, "kelm-bench-serial");
  auto scenario = sim.root() / "bench.scn";
  std::ofstream(scenario) << "[serial]\nhandshake warm\n";
  std::string out;
  if (sim.kelmsim("start --scenario " + scenario.string(), &out) != 0) {
    std::fprintf(stderr, "kelm-bench-serial: the simulator did not start: %s", out.c_str());
    return 1;
  }
  if (raInitialize(0) != 0) {
    std::fprintf(stderr, "kelm-bench-serial: raInitialize failed\n");
    return 1;
  }
  TryToConnectComPort();
  for (int i = 0; i < 1000 && !raIsComportReady(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!raIsComportReady()) {
    std::fprintf(stderr, "kelm-bench-serial: no link to the simulator\n");
    raTerminate(0);
    return 1;
  }
  int size = 0;
  for (int i = 0; i < 50; ++i) raGetCacheMemorySize(&size);
  int failures = 0;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < transactions; ++i)
    if (raGetCacheMemorySize(&size) != 0) ++failures;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  raTerminate(0);

  const double bytes = 8 + 8;
  const double wireMs = bytes * 10.0 / 115200.0 * 1000.0;
  const double measuredMs = seconds * 1000.0 / transactions;
  std::printf("transactions: %d (failed %d)\n", transactions, failures);
  std::printf("measured: %.0f transactions/s, %.3f ms each\n", transactions / seconds, measuredMs);
  std::printf("wire time at 115200 baud: %.3f ms each (%.0f transactions/s)\n", wireMs, 1000.0 / wireMs);
  std::printf("ratio: %.2f\n", measuredMs / wireMs);
  return failures == 0 ? 0 : 1;
}
