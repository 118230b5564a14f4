#pragma once
// The driver's side of the card API: for each of the 94 command codes, how its request data is laid
// out and how its reply is packed. Elements: 'u' 32-bit, 'w' 16-bit, 't' NUL-terminated text,
// 'U' 32-bit array whose length is the last 32-bit value before it, 'R' event records whose number is
// the last 32-bit value before it. Every reply starts with the 32-bit status.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

namespace sim::iop {

struct CommandShape {
  std::uint16_t code;
  const char* request;
  const char* reply;
  bool used;  // false: a command the management software never sends; answered with its status alone
};

// Nothing for a code outside the table.
const CommandShape* findCommand(std::uint16_t code);
std::span<const CommandShape> allCommands();

// One request or reply value.
struct Value {
  Value() = default;
  Value(std::uint32_t word) : u(word) {}  // NOLINT: a word is a value
  Value(std::uint32_t word, std::string t) : u(word), text(std::move(t)) {}
  std::uint32_t u = 0;
  std::string text;
  std::vector<std::uint32_t> array;
  std::vector<std::uint8_t> records;  // 'R': packed records
};

// Limits of the request data the driver takes.
constexpr std::size_t kMaxRequestData = 2048;
constexpr std::size_t kMaxArray = 256;

// Splits request data by its shape; the mismatch when it does not match exactly (short, trailing
// bytes, a text without its NUL, an array longer than kMaxArray).
plat::Result<std::vector<Value>> unpackRequest(std::string_view shape, std::span<const std::uint8_t> data);
// Packs reply values by their shape (values beyond the shape are ignored, missing ones are 0).
std::vector<std::uint8_t> packReply(std::string_view shape, const std::vector<Value>& values);
// Packs request values (for tests and the control tools).
std::vector<std::uint8_t> packRequest(std::string_view shape, const std::vector<Value>& values);

// Little-endian helpers.
inline void put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put16(std::vector<std::uint8_t>& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
inline std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline void set32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace sim::iop
