#pragma once
// Time, waiting and randomness are injected so that tests never wait for real seconds.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace plat {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since the epoch, as time() gives them.
  virtual std::int64_t wallSeconds() const = 0;
  // A clock that never goes back, in milliseconds from an arbitrary start.
  virtual std::int64_t monotonicMs() const = 0;
};

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void sleepMs(std::uint32_t ms) = 0;
};

class Random {
 public:
  virtual ~Random() = default;
  virtual std::uint32_t next32() = 0;
  void fill(void* out, std::size_t n);
};

// The process's real sources. The random source is seeded from getrandom.
Clock& systemClock();
Sleeper& systemSleeper();
Random& systemRandom();

// One step of the splitmix64 generator: advances the state and gives the next value.
std::uint64_t splitMix64(std::uint64_t& state);

}  // namespace plat
