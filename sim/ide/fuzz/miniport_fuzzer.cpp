// Fuzzes what a host may send the simulated driver: control requests with any header, code, length
// and data, one after another on model time, from two callers.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/ide/miniport.h"
#include "tests/fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::ide::DriverModel model;
  sim::ide::Miniport port(model);
  std::int64_t t = 0;
  // Each request: a length byte, a code byte, then that many bytes behind a well-formed header
  // (so the fuzzer reaches every code), its Length field taken from the input as well.
  for (std::size_t i = 0; i + 2 <= size;) {
    std::size_t n = std::min<std::size_t>(data[i] * 4u, size - i - 2);
    std::uint32_t code = data[i + 1] % 26;
    i += 2;
    std::vector<std::uint8_t> in(28 + n, 0);
    std::uint32_t header[] = {28, 0, 0, 10000, code, 0xFFFFFFFF, static_cast<std::uint32_t>(n)};
    std::memcpy(in.data(), header, 4);
    std::memcpy(in.data() + 4, "MAROVELT", 8);
    std::memcpy(in.data() + 16, &header[4], 12);
    std::memcpy(in.data() + 28, data + i, n);
    if (n >= 4) std::memcpy(in.data() + 24, data + i, 4);  // sometimes a lying Length
    i += n;
    auto a = port.request(1 + t % 2, sim::ide::kIoctlScsiMiniport, in, in.size(), t * 1000);
    if (a && a->out.size() > in.size()) __builtin_trap();
    t += 7;
    model.advance(t * 1000);
    port.takeAnswers();
  }
  return 0;
}

// One well-formed request of every code the driver knows, then a rebuild with its abort.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  std::string all;
  for (std::uint32_t code = 1; code <= 24; ++code) {
    auto length = sim::ide::dataLength(code);
    if (!length) continue;
    std::size_t words = (*length + 3) / 4;
    std::string one;
    one.push_back(static_cast<char>(words));
    one.push_back(static_cast<char>(code));
    std::string data(words * 4, '\0');
    std::uint32_t n = static_cast<std::uint32_t>(*length);
    std::memcpy(data.data(), &n, 4);  // the Length word, and for code 19 a count beyond 20
    one += data;
    seeds.push_back(one);
    all += one;
  }
  seeds.push_back(all);
}
