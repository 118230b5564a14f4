#pragma once
// Time, waiting and randomness are injected so that tests never wait for real seconds.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

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

// A clock the test moves by hand.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(std::int64_t wall = 1000000000, std::int64_t mono = 0) : wall_(wall), mono_(mono) {}
  std::int64_t wallSeconds() const override { return wall_.load(); }
  std::int64_t monotonicMs() const override { return mono_.load(); }
  void advanceMs(std::int64_t ms) {
    mono_ += ms;
    wallMsRemainder_ += ms;
    wall_ += wallMsRemainder_ / 1000;
    wallMsRemainder_ %= 1000;
  }
  void advanceSeconds(std::int64_t s) { advanceMs(s * 1000); }
  void setWall(std::int64_t wall) { wall_ = wall; }

 private:
  std::atomic<std::int64_t> wall_;
  std::atomic<std::int64_t> mono_;
  std::int64_t wallMsRemainder_ = 0;
};

// A sleeper that records what was asked and advances an optional manual clock instead of waiting.
class RecordingSleeper final : public Sleeper {
 public:
  explicit RecordingSleeper(ManualClock* clock = nullptr) : clock_(clock) {}
  void sleepMs(std::uint32_t ms) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(ms);
    }
    if (clock_) clock_->advanceMs(ms);
  }
  std::vector<std::uint32_t> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  ManualClock* clock_;
  mutable std::mutex mutex_;
  std::vector<std::uint32_t> calls_;
};

// A repeatable random source for tests.
class SeededRandom final : public Random {
 public:
  explicit SeededRandom(std::uint64_t seed) : state_(seed) {}
  std::uint32_t next32() override;

 private:
  std::uint64_t state_;
};

}  // namespace plat
