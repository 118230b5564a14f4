#pragma once
// Text is UTF-8 std::string everywhere; wide text from outside is converted at the edge.
#include <string>
#include <string_view>

namespace plat {

// Invalid or unpaired sequences become U+FFFD; nothing malformed passes through.
std::string utf16ToUtf8(std::u16string_view in);
std::u16string utf8ToUtf16(std::string_view in);
// Replaces invalid UTF-8 so that the result is always well formed.
std::string sanitizeUtf8(std::string_view in);

}  // namespace plat
