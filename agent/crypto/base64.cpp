#include "agent/crypto/base64.h"

namespace kelm::crypto {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+_";

std::uint32_t value(char c) {
  if (c >= 'A' && c <= 'Z') return std::uint32_t(c - 'A');
  if (c >= 'a' && c <= 'z') return std::uint32_t(c - 'a' + 26);
  if (c >= '0' && c <= '9') return std::uint32_t(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '_') return 63;
  return 0;
}

}  // namespace

std::size_t Base64Encode(const std::uint8_t* in, std::size_t length, char* out, std::size_t capacity) {
  std::size_t written = 0;
  if (!in || !out) return 0;
  for (std::size_t i = 0; i < length && written < capacity; i += 3) {
    std::size_t n = length - i < 3 ? length - i : 3;
    std::uint32_t group = std::uint32_t(in[i]) << 16;
    if (n > 1) group |= std::uint32_t(in[i + 1]) << 8;
    if (n > 2) group |= in[i + 2];
    for (std::size_t c = 0; c < n + 1 && written < capacity; ++c)
      out[written++] = kAlphabet[(group >> (18 - 6 * c)) & 63];
  }
  return written;
}

plat::HRESULT Base64Decode(const char* text, std::size_t length, std::uint8_t* out, std::size_t& capacity) {
  std::size_t written = 0;
  if ((!text && length) || (!out && capacity)) {
    capacity = 0;
    return plat::E_FAIL;
  }
  for (std::size_t i = 0; i < length && written < capacity; i += 4) {
    std::size_t n = length - i < 4 ? length - i : 4;
    std::uint32_t group = 0;
    for (std::size_t c = 0; c < 4; ++c) group = (group << 6) | (c < n ? value(text[i + c]) : 0);
    for (std::size_t b = 0; b + 1 < n && written < capacity; ++b) out[written++] = std::uint8_t(group >> (16 - 8 * b));
  }
  capacity = written;
  return plat::S_OK;
}

std::string base64Encode(ByteView bytes) {
  std::string out((bytes.size() + 2) / 3 * 4, '\0');
  out.resize(Base64Encode(bytes.data(), bytes.size(), out.data(), out.size()));
  return out;
}

Bytes base64Decode(std::string_view text) {
  Bytes out((text.size() + 3) / 4 * 3 + 1);
  std::size_t n = out.size();
  Base64Decode(text.data(), text.size(), out.data(), n);
  out.resize(n);
  return out;
}

}  // namespace kelm::crypto
