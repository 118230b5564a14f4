#pragma once
// The framing of one device request and its answer on a device socket (dev/NAME under the root).
// A client connection carries one request at a time and waits for its answer; all integers are
// 32-bit little-endian.
//
//   request:  magic "KDRQ" | code | input length | output capacity | input bytes
//   answer:   magic "KDAN" | status | output length | output bytes
//
// The input is at most kMaxInput bytes and the output capacity at most kMaxOutput; an answer never
// carries more output than the request's capacity. Status 0 is success; any other value is an errno
// code the device chose (the answer then carries no output). A frame that breaks these rules ends
// the connection.
#include <cstddef>
#include <cstdint>

namespace plat::devio::wire {

inline constexpr std::uint32_t kRequestMagic = 0x5152444B;  // "KDRQ"
inline constexpr std::uint32_t kAnswerMagic = 0x4E41444B;   // "KDAN"
inline constexpr std::size_t kRequestHeader = 16;
inline constexpr std::size_t kAnswerHeader = 12;
inline constexpr std::size_t kMaxInput = 64 * 1024;
inline constexpr std::size_t kMaxOutput = 64 * 1024;

inline void put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace plat::devio::wire
