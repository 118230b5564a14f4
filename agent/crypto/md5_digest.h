#pragma once
// MD5 message digest (RFC 1321).
#include <array>
#include <cstdint>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto {

using Md5 = std::array<std::uint8_t, 16>;

// Digest context. Init takes the algorithm identifier (5 = MD5; anything else is refused).
class CMd5Digest {
 public:
  static constexpr int kAlgorithmMd5 = 5;

  CMd5Digest() { reset(); }
  ~CMd5Digest() { secureZero(buffer_, sizeof buffer_); }

  plat::HRESULT Init(int algorithm = kAlgorithmMd5);
  plat::HRESULT Update(const void* data, std::size_t length);
  plat::HRESULT Update(ByteView data) { return Update(data.data(), data.size()); }
  // Writes 16 bytes to out; fails when `capacity` is below 16 or Init did not succeed.
  plat::HRESULT Final(std::uint8_t* out, std::size_t capacity = 16);

 private:
  void reset();
  void transform(const std::uint8_t block[64]);

  bool ready_ = false;
  std::uint32_t state_[4];
  std::uint64_t bitCount_;
  std::uint8_t buffer_[64];
};

// One-shot digest of the concatenation of the given pieces.
Md5 md5(ByteView data);
Md5 md5(ByteView a, ByteView b);

}  // namespace kelm::crypto
