#pragma once
// Byte strings of the toolkit. Key material is wiped when a buffer is freed or destroyed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/base/hresult.h"

namespace kelm::crypto {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Overwrites memory in a way the optimiser keeps.
void secureZero(void* p, std::size_t n);

// An owned byte block; freeing it zeroes the bytes and leaves it empty.
class CryptBuffer {
 public:
  CryptBuffer() = default;
  explicit CryptBuffer(Bytes b) : bytes_(std::move(b)) {}
  CryptBuffer(const CryptBuffer&) = default;
  CryptBuffer& operator=(const CryptBuffer& o) {
    if (this != &o) {
      clear();
      bytes_ = o.bytes_;
    }
    return *this;
  }
  CryptBuffer(CryptBuffer&& o) noexcept : bytes_(std::move(o.bytes_)) { o.bytes_.clear(); }
  CryptBuffer& operator=(CryptBuffer&& o) noexcept {
    if (this != &o) {
      clear();
      bytes_ = std::move(o.bytes_);
      o.bytes_.clear();
    }
    return *this;
  }
  ~CryptBuffer() { clear(); }

  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  ByteView view() const { return {bytes_.data(), bytes_.size()}; }
  const Bytes& bytes() const { return bytes_; }
  Bytes& bytes() { return bytes_; }
  void clear() {
    if (!bytes_.empty()) secureZero(bytes_.data(), bytes_.size());
    bytes_.clear();
  }
  bool operator==(const CryptBuffer& o) const { return bytes_ == o.bytes_; }

 private:
  Bytes bytes_;
};

// Gives the buffer `size` zero bytes (E_OUTOFMEMORY when that cannot be had).
plat::HRESULT AllocCryptBuffer(CryptBuffer& buffer, std::size_t size);
// Wipes and empties the buffer.
void FreeCryptBuffer(CryptBuffer& buffer);

// Error codes of the low-level operations.
constexpr int kReData = 1025;             // a block or padding that does not decode
constexpr int kReDigestAlgorithm = 1026;  // digest algorithm other than MD5
constexpr int kReLen = 1030;              // DES input not a multiple of 8, RSA input too long
constexpr int kReModulusLen = 1031;       // modulus length out of range
constexpr int kReNeedRandom = 1032;       // random pool not yet seeded

}  // namespace kelm::crypto
