#include "agent/crypto/logon_token.h"

#include <cstdio>
#include <cstring>

#include "agent/crypto/base64.h"
#include "agent/crypto/des_cbc.h"
#include "agent/crypto/md5_digest.h"

namespace kelm::crypto {

std::array<std::uint8_t, 8> tokenKey(std::string_view name, const std::uint8_t salt[4], unsigned count) {
  Md5 d = md5({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()}, {salt, 4});
  for (unsigned i = 1; i < count; ++i) d = md5(d);
  std::array<std::uint8_t, 8> key;
  std::memcpy(key.data(), d.data(), 8);
  secureZero(d.data(), d.size());
  return key;
}

std::string BuildLogonToken(std::string_view name, std::string_view password) {
  return BuildLogonToken(name, password, processRandomPool());
}

std::string BuildLogonToken(std::string_view name, std::string_view password, RandomPool& pool) {
  std::uint8_t salt[4], countByte;
  if (pool.generate(salt, 4) || pool.generate(&countByte, 1)) return {};
  unsigned count = countByte & 7;
  if (count == 0) count = 8;
  auto key = tokenKey(name, salt, count);
  Bytes cipher;
  desCbcCrypt(key.data(), {reinterpret_cast<const std::uint8_t*>(password.data()), password.size()}, cipher, true);
  secureZero(key.data(), key.size());
  Bytes raw(name.begin(), name.end());
  raw.push_back('@');
  raw.insert(raw.end(), salt, salt + 4);
  raw.push_back(std::uint8_t(count));
  raw.push_back(0);
  raw.insert(raw.end(), cipher.begin(), cipher.end());
  return base64Encode(raw);
}

int DecodeLogonToken(std::string_view token, std::string& name, std::string& password) {
  name.clear();
  password.clear();
  if (token.empty() || token.size() > kMaxTokenText) return 0;
  CryptBuffer raw(base64Decode(token));
  const Bytes& b = raw.bytes();
  std::size_t at = 0;
  while (at < b.size() && b[at] != '@') ++at;
  if (at == b.size()) return 0;
  // '@', 4 salt bytes, the count, one ignored byte, then at least one cipher block.
  if (b.size() - at < 7) return 0;
  std::size_t cipherLen = b.size() - at - 7;
  if (cipherLen < 8 || cipherLen % 8 != 0) return 0;
  std::string user(b.begin(), b.begin() + std::ptrdiff_t(at));
  const std::uint8_t* salt = b.data() + at + 1;
  unsigned count = b[at + 5];
  auto key = tokenKey(user, salt, count == 0 ? 1 : count);
  Bytes plain;
  int r = desCbcCrypt(key.data(), {b.data() + at + 7, cipherLen}, plain, false);
  secureZero(key.data(), key.size());
  if (r != 0) return 0;
  name = std::move(user);
  password.assign(plain.begin(), plain.end());
  secureZero(plain.data(), plain.size());
  return 1;
}

std::string TokenUserName(std::string_view token) {
  std::uint8_t buf[256];
  std::size_t n = sizeof buf;
  Base64Decode(token.data(), token.size(), buf, n);
  std::size_t limit = n < 252 ? n : 252;
  for (std::size_t i = 0; i < limit; ++i)
    if (buf[i] == '@') return std::string(reinterpret_cast<const char*>(buf), i);
  return {};
}

std::string LogonText(std::uint32_t word1, std::uint32_t word2, std::string_view token) {
  char head[32];
  std::snprintf(head, sizeof head, "%x %x@", word1, word2);
  std::string arg = std::string(head) + std::string(token);
  if (arg.size() > 255) arg.resize(255);
  return "logon " + arg;
}

}  // namespace kelm::crypto
