// Fuzzes what the host may send the simulated subsystem: handshake bytes, frames and noise, in pieces.
#include <algorithm>
#include <cstdint>

#include "sim/serial/subsystem.h"
#include "sim/serial/wire.h"

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
