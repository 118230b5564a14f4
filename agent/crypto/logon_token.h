#pragma once
// The credential token of a logon: base64 of the user name, '@', 4 salt bytes, an iteration count,
// a zero byte and the password's DES-CBC ciphertext under a key derived from the name and the salt.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "agent/crypto/crypt_buffer.h"
#include "agent/crypto/random_pool.h"

namespace kelm::crypto {

// Longest token text accepted for decoding; a logon text carries at most 255 characters.
constexpr std::size_t kMaxTokenText = 1024;

// First 8 bytes of MD5(name + salt), digested again (count - 1) times; a count of 0 counts as 1.
std::array<std::uint8_t, 8> tokenKey(std::string_view name, const std::uint8_t salt[4], unsigned count);

// Builds a token with a fresh salt and an iteration count of 1 to 8; empty when the pool fails.
std::string BuildLogonToken(std::string_view name, std::string_view password);
std::string BuildLogonToken(std::string_view name, std::string_view password, RandomPool& pool);

// 1 with the name and the password, or 0 (and both cleared) for an unreadable token: one with no '@',
// a ciphertext shorter than 8 bytes or not a multiple of 8, bad padding, or a text over kMaxTokenText.
int DecodeLogonToken(std::string_view token, std::string& name, std::string& password);

// The user name shown for a stored token: the bytes before the first '@' among the first 252
// decoded bytes; empty when there is none.
std::string TokenUserName(std::string_view token);

// The text of a logon request: "logon %x %x@" with the two local-token words and the token,
// the part after "logon " cut to 255 characters.
std::string LogonText(std::uint32_t word1, std::uint32_t word2, std::string_view token);

}  // namespace kelm::crypto
