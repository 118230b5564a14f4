#pragma once
#include <string>
#include <string_view>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto::testing {

inline Bytes hex(std::string_view s) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < s.size(); i += 2)
    out.push_back(std::uint8_t(std::stoi(std::string(s.substr(i, 2)), nullptr, 16)));
  return out;
}

inline std::string toHex(ByteView b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (auto c : b) {
    s += d[c >> 4];
    s += d[c & 15];
  }
  return s;
}

inline Bytes bytesOf(std::string_view s) { return Bytes(s.begin(), s.end()); }

inline ByteView text(std::string_view s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

}  // namespace kelm::crypto::testing
