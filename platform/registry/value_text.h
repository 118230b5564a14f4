#pragma once
// Value data written as text, shared by the registrar and the command-line tool.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat::reg {

// Decimal or 0x hex, at most 32 bits.
std::optional<std::uint32_t> parseDwordText(std::string_view text);
// Pairs of hex digits, nothing between them.
std::optional<std::vector<std::uint8_t>> parseHexText(std::string_view text);
// Texts separated by the two characters \0; a trailing \0 ends the list.
std::vector<std::string> splitMultiText(std::string_view text);

}  // namespace plat::reg
