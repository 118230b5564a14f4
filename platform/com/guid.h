#pragma once
// Class and interface identifiers: 128-bit values written "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace plat::com {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};

  friend constexpr bool operator==(const Guid&, const Guid&) = default;
  friend constexpr auto operator<=>(const Guid&, const Guid&) = default;

  // Upper-case hexadecimal in braces, the form the registry keys use.
  std::string toString() const;
  bool isNull() const { return *this == Guid{}; }

  // Braces are required; hexadecimal digits in either case; nothing before or after.
  static constexpr std::optional<Guid> parse(std::string_view text);
};

namespace detail {
constexpr int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
// Reads 2*n hex digits at text[pos]; false on a non-digit.
constexpr bool readHex(std::string_view text, std::size_t pos, int digits, std::uint32_t& out) {
  std::uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = hexDigit(text[pos + static_cast<std::size_t>(i)]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  out = v;
  return true;
}
}  // namespace detail

constexpr std::optional<Guid> Guid::parse(std::string_view text) {
  // {8-4-4-4-12}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
  if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return std::nullopt;
  Guid g;
  std::uint32_t v = 0;
  if (!detail::readHex(text, 1, 8, v)) return std::nullopt;
  g.data1 = v;
  if (!detail::readHex(text, 10, 4, v)) return std::nullopt;
  g.data2 = static_cast<std::uint16_t>(v);
  if (!detail::readHex(text, 15, 4, v)) return std::nullopt;
  g.data3 = static_cast<std::uint16_t>(v);
  constexpr std::size_t bytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (std::size_t i = 0; i < 8; ++i) {
    if (!detail::readHex(text, bytePos[i], 2, v)) return std::nullopt;
    g.data4[i] = static_cast<std::uint8_t>(v);
  }
  return g;
}

// For identifiers written in the source: a malformed literal does not compile.
consteval Guid guid(std::string_view text) {
  auto g = Guid::parse(text);
  if (!g) throw "malformed identifier literal";
  return *g;
}

struct GuidHash {
  std::size_t operator()(const Guid& g) const noexcept {
    std::uint64_t h = (std::uint64_t{g.data1} << 32) ^ (std::uint64_t{g.data2} << 16) ^ g.data3;
    for (auto b : g.data4) h = h * 1099511628211ULL ^ b;
    return static_cast<std::size_t>(h);
  }
};

}  // namespace plat::com
