#pragma once
// Test doubles for time: a clock moved by hand and a sleeper that only records.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/base/clock.h"

namespace plat {

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

}  // namespace plat
