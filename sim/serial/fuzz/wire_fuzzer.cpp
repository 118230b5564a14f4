// Fuzzes what the host may send the simulated subsystem: handshake bytes, frames and noise, in pieces.
#include <algorithm>
#include <cstdint>

#include "sim/serial/subsystem.h"
#include "sim/serial/wire.h"
#include "tests/fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::serial::Subsystem subsystem;
  subsystem.loadDefault();
  sim::serial::Wire wire(subsystem);
  const std::uint8_t start[] = {0xA2, 0xA4};
  wire.receive(start, sizeof start, 0, 0);
  sim::serial::Bytes out;
  std::int64_t t = 0;
  // The first byte of each piece is its length, so inputs arrive split as a line would split them.
  for (std::size_t i = 0; i < size;) {
    std::size_t n = data[i] % 64 + 1;
    ++i;
    n = std::min(n, size - i);
    wire.receive(data + i, n, t, t * 100);
    i += n;
    t += 1;
    subsystem.advance(t * 100);
    wire.takeDue(t, out);
    if (out.size() > (1u << 20)) out.clear();
  }
  return 0;
}

namespace {

// One request frame as the host writes it, as one piece behind its length byte.
std::string frame(std::uint16_t code, std::initializer_list<std::uint8_t> payload, std::uint16_t replyLength) {
  std::string f = {'\xA1',
                   '\xA1',
                   static_cast<char>(code),
                   static_cast<char>(code >> 8),
                   static_cast<char>(payload.size()),
                   static_cast<char>(payload.size() >> 8),
                   static_cast<char>(replyLength),
                   static_cast<char>(replyLength >> 8)};
  for (auto b : payload) f.push_back(static_cast<char>(b));
  return std::string(1, static_cast<char>(f.size() - 1)) + f;
}

}  // namespace

// Seeds: the handshake and one frame of each kind the host sends most.
void KelmFuzzSeeds(std::vector<std::string>& seeds) {
  seeds.push_back("\x01\xA2\xA4" + frame(101, {}, 8) + frame(104, {}, 24) + frame(112, {}, 24));
  seeds.push_back(frame(103, {1}, 44) + frame(111, {0}, 24) + frame(113, {0}, 24) + frame(110, {0}, 13));
  seeds.push_back(frame(109, {'N', 'e', 'w', ' ', ' ', 0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,
                              0,   0,   0,   0,   0,   0, 0, 1, 0, 0, 0, 4, 64, 0, 0, 0},
                        5) +
                  frame(141, {1, 'R', 'e', 'n', 'a', 'm', 'e', 'd'}, 5) + frame(108, {1}, 5));
  seeds.push_back(frame(147, {0, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 4}, 5) + frame(150, {0}, 5));
  seeds.push_back(frame(153, {}, 8) + frame(152, {4}, 164) + frame(151, {}, 5) +
                  frame(146, {0x90, 0x7F, 7, 0xE0, 16}, 8));
  seeds.push_back("\x05\xA1\xA1\x67\x00\x01\x00" + std::string("\x00\xA2\xA2\xA4", 4));  // a frame cut short
}
