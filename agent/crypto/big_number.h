#pragma once
// Unsigned multi-precision integers for RSA: 32-bit limbs, least significant first, no leading zero limbs.
#include <cstdint>
#include <vector>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto {

class BigNumber {
 public:
  BigNumber() = default;
  explicit BigNumber(std::uint32_t v) {
    if (v) limbs_.push_back(v);
  }
  ~BigNumber() { wipe(); }
  BigNumber(const BigNumber&) = default;
  BigNumber& operator=(const BigNumber&) = default;
  BigNumber(BigNumber&&) noexcept = default;
  BigNumber& operator=(BigNumber&&) noexcept = default;

  // Big-endian byte strings, as keys store their numbers.
  static BigNumber fromBytes(ByteView bytes);
  // Right-aligned into `length` bytes; false when the number does not fit.
  bool toBytes(std::uint8_t* out, std::size_t length) const;
  Bytes toBytes(std::size_t length) const;

  bool isZero() const { return limbs_.empty(); }
  bool isOdd() const { return !limbs_.empty() && (limbs_[0] & 1); }
  unsigned bitLength() const;
  bool bit(unsigned i) const;
  std::uint32_t lowWord() const { return limbs_.empty() ? 0 : limbs_[0]; }
  const std::vector<std::uint32_t>& limbs() const { return limbs_; }

  static int compare(const BigNumber& a, const BigNumber& b);
  friend bool operator==(const BigNumber& a, const BigNumber& b) { return a.limbs_ == b.limbs_; }

  static BigNumber add(const BigNumber& a, const BigNumber& b);
  // a - b for a >= b (the caller guarantees it).
  static BigNumber sub(const BigNumber& a, const BigNumber& b);
  static BigNumber mul(const BigNumber& a, const BigNumber& b);
  // Quotient and remainder; b must not be zero.
  static void divMod(const BigNumber& a, const BigNumber& b, BigNumber* q, BigNumber* r);
  static BigNumber mod(const BigNumber& a, const BigNumber& m);
  std::uint32_t modWord(std::uint32_t m) const;
  BigNumber shiftedLeft(unsigned bits) const;
  void setBit(unsigned i);

  // a^e mod m for an odd m > 1 (Montgomery multiplication).
  static BigNumber modExp(const BigNumber& a, const BigNumber& e, const BigNumber& m);
  // a^-1 mod m, or zero when gcd(a, m) != 1.
  static BigNumber modInverse(const BigNumber& a, const BigNumber& m);
  static BigNumber gcd(BigNumber a, BigNumber b);

  void wipe() {
    if (!limbs_.empty()) secureZero(limbs_.data(), limbs_.size() * sizeof(std::uint32_t));
    limbs_.clear();
  }

 private:
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

}  // namespace kelm::crypto
