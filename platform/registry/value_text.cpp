#include "platform/registry/value_text.h"

#include <charconv>

namespace plat::reg {

std::optional<std::uint32_t> parseDwordText(std::string_view d) {
  int base = 10;
  if (d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X')) d.remove_prefix(2), base = 16;
  std::uint64_t v = 0;
  auto [p, ec] = std::from_chars(d.data(), d.data() + d.size(), v, base);
  if (d.empty() || ec != std::errc() || p != d.data() + d.size() || v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

std::optional<std::vector<std::uint8_t>> parseHexText(std::string_view d) {
  if (d.size() % 2) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(d.size() / 2);
  for (std::size_t i = 0; i < d.size(); i += 2) {
    unsigned b = 0;
    auto [p, ec] = std::from_chars(d.data() + i, d.data() + i + 2, b, 16);
    if (ec != std::errc() || p != d.data() + i + 2) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(b));
  }
  return bytes;
}

std::vector<std::string> splitMultiText(std::string_view rest) {
  std::vector<std::string> items;
  if (rest.empty()) return items;
  for (;;) {
    std::size_t p = rest.find("\\0");
    items.emplace_back(rest.substr(0, p));
    if (p == std::string_view::npos) break;
    rest.remove_prefix(p + 2);
  }
  if (items.back().empty()) items.pop_back();
  return items;
}

}  // namespace plat::reg
