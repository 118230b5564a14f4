#include "agent/crypto/random_pool.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "agent/crypto/md5_digest.h"
#include "platform/base/clock.h"

namespace kelm::crypto {

RandomPool::~RandomPool() {
  secureZero(state_, sizeof state_);
  secureZero(output_, sizeof output_);
}

void RandomPool::update(ByteView seed) {
  std::lock_guard<std::mutex> lock(mutex_);
  Md5 d = md5(seed);
  unsigned carry = 0;
  for (int i = 15; i >= 0; --i) {
    carry += unsigned(state_[i]) + d[i];
    state_[i] = std::uint8_t(carry);
    carry >>= 8;
  }
  bytesNeeded_ = seed.size() >= bytesNeeded_ ? 0 : bytesNeeded_ - unsigned(seed.size());
  secureZero(d.data(), d.size());
}

int RandomPool::generate(std::uint8_t* out, std::size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (bytesNeeded_) return kReNeedRandom;
  while (n > 0) {
    if (outputAvailable_ == 0) {
      Md5 d = md5({state_, sizeof state_});
      std::memcpy(output_, d.data(), 16);
      outputAvailable_ = 16;
      for (int i = 15; i >= 0; --i)
        if (++state_[i] != 0) break;
    }
    std::size_t take = n < outputAvailable_ ? n : outputAvailable_;
    std::memcpy(out, output_ + (16 - outputAvailable_), take);
    outputAvailable_ -= unsigned(take);
    out += take;
    n -= take;
  }
  return 0;
}

namespace {

void seedFromSystem(RandomPool& pool) {
  std::uint8_t block[64];
  while (!pool.seeded()) {
    std::size_t got = 0;
    while (got < sizeof block) {
      ssize_t r = getrandom(block + got, sizeof block - got, 0);
      if (r > 0) {
        got += std::size_t(r);
      } else if (r < 0 && errno != EINTR) {
        // No getrandom: the platform's source (itself seeded by the kernel) fills the rest.
        plat::systemRandom().fill(block + got, sizeof block - got);
        got = sizeof block;
      }
    }
    pool.update({block, sizeof block});
  }
  secureZero(block, sizeof block);
}

}  // namespace

RandomPool& processRandomPool() {
  static RandomPool* pool = [] {
    auto* p = new RandomPool();
    seedFromSystem(*p);
    return p;
  }();
  return *pool;
}

CRandomPool::CRandomPool() { processRandomPool(); }

plat::HRESULT CRandomPool::GenerateBytes(std::uint8_t* out, std::size_t n) {
  if (!out && n) return plat::E_FAIL;
  return processRandomPool().generate(out, n) == 0 ? plat::S_OK : plat::E_FAIL;
}

plat::HRESULT CRandomPool::GenerateBytes(CryptBuffer& out, std::size_t n) {
  plat::HRESULT h = AllocCryptBuffer(out, n);
  if (plat::FAILED(h)) return h;
  h = GenerateBytes(out.data(), n);
  if (plat::FAILED(h)) out.clear();
  return h;
}

}  // namespace kelm::crypto
