#pragma once
// The MD5-based random generator: seed blocks are digested and added to a 16-byte state; output is
// the digest of the state, which then counts up by one.
#include <cstdint>
#include <mutex>

#include "agent/crypto/crypt_buffer.h"

namespace kelm::crypto {

class RandomPool {
 public:
  static constexpr unsigned kSeedBytesNeeded = 256;

  RandomPool() = default;
  ~RandomPool();
  RandomPool(const RandomPool&) = delete;
  RandomPool& operator=(const RandomPool&) = delete;

  void update(ByteView seed);
  // 0, or kReNeedRandom while fewer than 256 seed bytes were given.
  int generate(std::uint8_t* out, std::size_t n);
  bool seeded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytesNeeded_ == 0;
  }

 private:
  std::uint8_t state_[16] = {};
  std::uint8_t output_[16] = {};
  unsigned outputAvailable_ = 0;
  unsigned bytesNeeded_ = kSeedBytesNeeded;
  mutable std::mutex mutex_;  // the process pool may be reached from more than one thread
};

// The process's pool, seeded from getrandom on first use.
RandomPool& processRandomPool();

// Access to the process pool; constructing one seeds the pool when that has not happened yet.
class CRandomPool {
 public:
  CRandomPool();
  plat::HRESULT GenerateBytes(std::uint8_t* out, std::size_t n);
  plat::HRESULT GenerateBytes(CryptBuffer& out, std::size_t n);
};

}  // namespace kelm::crypto
