#pragma once
// The credential tokens' base64: '+' and '_' for 62 and 63, no padding.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto {

// Writes at most `capacity` characters (no terminator); returns the number written.
std::size_t Base64Encode(const std::uint8_t* in, std::size_t length, char* out, std::size_t capacity);
// Groups of 2, 3 or 4 characters give 1, 2 or 3 bytes; a character outside the alphabet counts as 0.
// Writes at most `capacity` bytes and sets it to the number written.
plat::HRESULT Base64Decode(const char* text, std::size_t length, std::uint8_t* out, std::size_t& capacity);

std::string base64Encode(ByteView bytes);
Bytes base64Decode(std::string_view text);

}  // namespace kelm::crypto
