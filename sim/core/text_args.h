#pragma once
// Splitting and number parsing for scenario lines and control commands, bounded and checked.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kMaxWords = 64;

// Words separated by blanks; nothing when the line is too long or has too many words.
std::optional<std::vector<std::string>> splitWords(std::string_view line);
// A decimal or 0x-hexadecimal integer within [min, max].
std::optional<std::int64_t> parseInt(std::string_view text, std::int64_t min, std::int64_t max);

}  // namespace sim
