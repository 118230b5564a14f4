// Times registry value reads and writes in a private root (KELM_ROOT, or a temporary one).
//   registry_bench [reads=10000] [writes=1000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry/registry.h"

using namespace plat::reg;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

}  // namespace

int main(int argc, char** argv) {
  const long reads = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  const long writes = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;
  if (reads <= 0 || writes <= 0 || reads > 100000000 || writes > 10000000) {
    std::fprintf(stderr, "usage: registry_bench [reads] [writes]\n");
    return 2;
  }
  std::filesystem::path made;
  if (!std::getenv("KELM_ROOT")) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kelm-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    made = tmpl;
    setenv("KELM_ROOT", tmpl.c_str(), 1);
  }
  auto key = Key::create(Hive::LocalMachine, "SOFTWARE\\Velkari Technology, Inc.\\Message Agent");
  if (!key) return 1;
  std::vector<Value> values;
  for (int i = 0; i < 100; ++i) values.push_back(Value::dword("Value" + std::to_string(i), static_cast<std::uint32_t>(i)));
  values.push_back(Value::string("Name", "Velkari RAID message agent"));
  if (!key->setValues(values)) return 1;

  auto t0 = Clock::now();
  std::uint64_t sum = 0;
  for (long i = 0; i < reads; ++i) {
    if (i % 2)
      sum += key->getDword("Value" + std::to_string(i % 100)).valueOr(0);
    else
      sum += key->getString("name").valueOr("").size();
  }
  auto t1 = Clock::now();
  for (long i = 0; i < writes; ++i) {
    if (!key->setDword("Written" + std::to_string(i % 50), static_cast<std::uint32_t>(i))) return 1;
  }
  auto t2 = Clock::now();
  // Opening a key by path and reading one value, as a caller without a kept handle does.
  for (long i = 0; i < reads; ++i) {
    auto k = Key::open(Hive::LocalMachine, "software\\velkari technology, inc.\\message agent");
    sum += k ? k->getDword("Value7").valueOr(0) : 0;
  }
  auto t3 = Clock::now();

  std::printf("hive: %s\n", hiveFile(Hive::LocalMachine).c_str());
  std::printf("%ld value reads: %.1f ms (%.2f us each)\n", reads, ms(t0, t1), ms(t0, t1) * 1000 / reads);
  std::printf("%ld value writes: %.1f ms (%.2f us each)\n", writes, ms(t1, t2), ms(t1, t2) * 1000 / writes);
  std::printf("%ld open-and-read: %.1f ms (%.2f us each)\n", reads, ms(t2, t3), ms(t2, t3) * 1000 / reads);
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sum));
  if (!made.empty()) std::filesystem::remove_all(made);
  return 0;
}
