#include "sim/core/text_args.h"

#include <charconv>
#include <cstdint>

namespace sim {

std::optional<std::vector<std::string>> splitWords(std::string_view line) {
  if (line.size() > kMaxLine) return std::nullopt;
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    std::size_t start = i;
    while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n')) ++i;
    if (i > start) {
      if (words.size() == kMaxWords) return std::nullopt;
      words.emplace_back(line.substr(start, i - start));
    }
  }
  return words;
}

std::optional<std::int64_t> parseInt(std::string_view text, std::int64_t min, std::int64_t max) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (v > static_cast<std::uint64_t>(INT64_MAX)) return std::nullopt;
  std::int64_t r = negative ? -static_cast<std::int64_t>(v) : static_cast<std::int64_t>(v);
  if (r < min || r > max) return std::nullopt;
  return r;
}

}  // namespace sim
