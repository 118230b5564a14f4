#pragma once
// Text is UTF-8 std::string everywhere; wide text from outside is converted at the edge.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plat {

// Invalid or unpaired sequences become U+FFFD; nothing malformed passes through.
std::string utf16ToUtf8(std::u16string_view in);
std::u16string utf8ToUtf16(std::string_view in);
// Replaces invalid UTF-8 so that the result is always well formed.
std::string sanitizeUtf8(std::string_view in);

// 32-bit words kept as decimal text (rights masks): written signed, so 0xF7FFFFFF is
// "-134217729"; read in either the signed or the unsigned form, keeping the 32 bits. Nothing for
// text that is not one whole decimal number within 32 bits.
std::string formatWord32(std::uint32_t word);
std::optional<std::uint32_t> parseWord32(std::string_view text);

}  // namespace plat
