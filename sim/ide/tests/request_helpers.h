#pragma once
// Requests as the host builds them, and reading their answers, for the simulated driver's tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/devio/device.h"

namespace sim::ide::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t u32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

inline void set32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

// "1C 00 ..." -> bytes; blanks and '|' separate nothing.
inline Bytes hex(std::string_view text) {
  Bytes out;
  int nibble = -1;
  for (char c : text) {
    int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (d < 0) continue;
    if (nibble < 0) {
      nibble = d;
    } else {
      out.push_back(static_cast<std::uint8_t>(nibble << 4 | d));
      nibble = -1;
    }
  }
  return out;
}

// The control header and `length` data bytes, with `data` at the front of the data.
inline Bytes request(std::uint32_t code, std::size_t length, const Bytes& data = {}, std::uint32_t preset = 0xFFFFFFFF) {
  Bytes b(28 + length, 0);
  set32(b, 0, 28);
  std::memcpy(b.data() + 4, "MAROVELT", 8);
  set32(b, 12, 10000);
  set32(b, 16, code);
  set32(b, 20, preset);
  set32(b, 24, static_cast<std::uint32_t>(length));
  for (std::size_t i = 0; i < data.size() && i < length; ++i) b[28 + i] = data[i];
  return b;
}

struct Reply {
  int error = 0;  // the failure's code, or 0
  Bytes out;      // the answered bytes
};

// One miniport request on a handle of its own, as the host sends it: the buffer in, the same buffer out.
inline Reply send(const std::string& device, const Bytes& in) {
  auto h = plat::devio::open(device);
  if (!h) return {h.error().code, {}};
  Bytes out(in.size(), 0);
  auto r = plat::devio::ioctl(*h, 0x4D008, in, out);
  if (!r) return {r.error().code, {}};
  out.resize(*r);
  return {0, out};
}

}  // namespace sim::ide::testing
