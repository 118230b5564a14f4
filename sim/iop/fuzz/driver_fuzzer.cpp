// Fuzzes what a host may send the simulated Palindrex driver: identify requests, API messages of any
// command and data, parameter reads, and the same wrapped in the miniport block on a port, from
// three handles, one after another on model time.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/iop/driver.h"
#include "tests/fuzz/fuzz_seeds.h"

namespace {

using sim::iop::put16;
using sim::iop::put32;

constexpr std::uint32_t kCodes[] = {sim::iop::kIoctlIdentify, sim::iop::kIoctlApi, sim::iop::kIoctlParams};
constexpr std::size_t kCapacities[] = {80, 2048, 1024, 28, 124, 4130};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::iop::CardModel model;
  sim::iop::Driver driver(model);
  std::int64_t t = 0;
  // Each request: a selector byte (handle, path, control code, capacity), a length byte, then the data.
  for (std::size_t i = 0; i + 2 <= size;) {
    std::uint8_t sel = data[i];
    std::size_t n = std::min<std::size_t>(data[i + 1], size - i - 2);
    i += 2;
    std::vector<std::uint8_t> body(data + i, data + i + n);
    i += n;
    std::uint64_t handle = sel & 3;
    bool tunnel = sel & 4;
    std::uint32_t code = kCodes[(sel >> 3) % 3];
    std::size_t capacity = kCapacities[(sel >> 5) % 6];
    std::vector<std::uint8_t> in;
    if (tunnel) {
      put32(in, 28);
      in.insert(in.end(), sim::iop::kSignature, sim::iop::kSignature + 8);
      put32(in, 10000);
      put32(in, (sel & 0x80) ? 1 : code);
      put32(in, 0xFFFFFFFF);
      put32(in, code == sim::iop::kIoctlApi ? 4096 : code == sim::iop::kIoctlIdentify ? 96 : static_cast<std::uint32_t>(n + 1024));
      capacity = code == sim::iop::kIoctlApi ? 4130 : code == sim::iop::kIoctlIdentify ? 124 : 28 + n + 1024;
      code = sim::iop::kIoctlMiniport;
    }
    in.insert(in.end(), body.begin(), body.end());
    auto a = driver.request(handle, tunnel ? sim::iop::Path::Tunnel : sim::iop::Path::Direct, code, in, capacity);
    if (a.out.size() > capacity) __builtin_trap();
    if (a.status != 0 && !a.out.empty()) __builtin_trap();
    t += 700;
    model.advance(t);
  }
  return 0;
}

// Identify on each handle, then every command of the table with data of its shape, and parameter reads.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  auto request = [](std::string& s, std::uint8_t sel, std::vector<std::uint8_t> body) {
    body.resize(std::min<std::size_t>(body.size(), 255));
    s.push_back(static_cast<char>(sel));
    s.push_back(static_cast<char>(body.size()));
    s.append(body.begin(), body.end());
  };
  auto identify = [](std::uint32_t controller) {
    std::vector<std::uint8_t> b;
    put32(b, controller);
    put32(b, 1);
    put32(b, 33);
    put32(b, 1);
    return b;
  };
  std::string direct, tunnel;
  request(direct, 0 | (0 << 3), identify(0));
  request(tunnel, 4 | (0 << 3), identify(0));
  for (const auto& c : sim::iop::allCommands()) {
    std::vector<std::uint8_t> msg;
    put32(msg, 0);
    put16(msg, 0x21);
    put16(msg, 145);
    put16(msg, c.code);
    for (const char* e = c.request; *e; ++e) {
      if (*e == 't') {
        msg.insert(msg.end(), {'N', 'e', 'w', 0});
      } else if (*e != '*') {
        put32(msg, *e == 'U' ? 0x101 : 1);
      }
    }
    request(direct, 0 | (1 << 3) | (1 << 5), msg);
    request(tunnel, 4 | (1 << 3), msg);
  }
  std::vector<std::uint8_t> params;
  put32(params, 0);
  put16(params, 0);
  put16(params, 1);
  put16(params, 0);
  put16(params, 5);
  put16(params, 5);
  put16(params, 1);
  put16(params, 5);
  put16(params, 0);
  request(direct, 0 | (2 << 3) | (2 << 5), params);
  seeds.push_back(direct);
  seeds.push_back(tunnel);
}
