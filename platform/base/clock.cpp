#include "platform/base/clock.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

namespace plat {

std::uint64_t splitMix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

namespace {

class SystemClock final : public Clock {
 public:
  std::int64_t wallSeconds() const override { return static_cast<std::int64_t>(std::time(nullptr)); }
  std::int64_t monotonicMs() const override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
};

class SystemSleeper final : public Sleeper {
 public:
  void sleepMs(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

// xoshiro256** seeded from the kernel's entropy; shared by every thread of the process.
class SystemRandom final : public Random {
 public:
  SystemRandom() {
    std::uint64_t seed[4] = {};
    std::size_t got = 0;
    auto* p = reinterpret_cast<unsigned char*>(seed);
    while (got < sizeof seed) {
      ssize_t n = getrandom(p + got, sizeof seed - got, 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;
      }
      got += static_cast<std::size_t>(n);
    }
    if (got < sizeof seed) {
      // No entropy source at all: fall back to the clocks rather than a fixed seed.
      std::uint64_t x = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        static_cast<std::uint64_t>(std::time(nullptr));
      for (auto& s : seed) s ^= splitMix64(x);
    }
    std::memcpy(s_, seed, sizeof s_);
    if ((s_[0] | s_[1] | s_[2] | s_[3]) == 0) s_[0] = 1;
  }
  std::uint32_t next32() override {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return static_cast<std::uint32_t>(result >> 32);
  }

 private:
  static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::mutex mutex_;
  std::uint64_t s_[4];
};

}  // namespace

void Random::fill(void* out, std::size_t n) {
  auto* p = static_cast<unsigned char*>(out);
  while (n > 0) {
    std::uint32_t v = next32();
    std::size_t k = n < 4 ? n : 4;
    std::memcpy(p, &v, k);
    p += k;
    n -= k;
  }
}

Clock& systemClock() {
  static SystemClock c;
  return c;
}
Sleeper& systemSleeper() {
  static SystemSleeper s;
  return s;
}
Random& systemRandom() {
  static SystemRandom r;
  return r;
}

}  // namespace plat
