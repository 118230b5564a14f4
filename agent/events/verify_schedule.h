#pragma once
// The verify schedule: daily, weekly or monthly at a time of day, or every n minutes or hours.
// Text form (exchanged with the console and kept in the profile): "0" when disabled, else the
// enabled value, then "@type@hour@minute" (daily), "@type@day@hour@minute" (weekly, day 0-6 from
// Sunday; monthly, day of the month) or "@type@count" (every n minutes or hours).
//
// The document ticks it once a second; every 60th tick it compares the clock with the next run and
// raises the due flag for one tick. Next runs are absolute instants (64-bit); day, week and month
// steps go through local time with the C library deciding daylight saving. A weekly or monthly run
// whose time today has passed moves to the next week or month, and a monthly day beyond the month's
// end runs on its last day, so every period has exactly one run.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/clock.h"

namespace kelm::events {

inline constexpr std::string_view kVerifyScheduleSection = "GetVerifySchedule";
inline constexpr std::string_view kVerifyScheduleKey = "GetVerifySchedule";

class CVerifySchedule {
 public:
  enum Type : std::int32_t { kNone = 0, kDaily = 1, kWeekly = 2, kMonthly = 3, kEveryMinutes = 4, kEveryHours = 5 };

  explicit CVerifySchedule(const plat::Clock& clock) : clock_(clock) {}

  // Daily: hour, minute. Weekly and monthly: day, hour, minute. Every n: count. 1 when accepted;
  // 0 (and type 0, disabled) for another type or a value out of range; a count of 0 or less gives
  // type 0, disabled, and 1.
  int Set(std::int32_t type, std::int64_t first, std::int64_t second = 0, std::int64_t third = 0);
  // Enables or disables; the next run is computed again. Gives the enabled value.
  std::int32_t SetEnabled(std::int32_t flag);
  // Reads the text form; 1 when it was understood (a text that reads as disabled included: another
  // type, a field missing), 0 when a value is out of range (the schedule is then left as it was).
  int Parse(std::string_view text);
  std::string Format();
  void Tick();
  bool IsDue() const { return due_ != 0; }

  std::int32_t enabled() const { return enabled_; }
  std::int32_t type() const { return type_; }
  std::int64_t next() const { return next_; }

 private:
  void computeNext();
  void disable() {
    type_ = kNone;
    enabled_ = 0;
  }

  const plat::Clock& clock_;
  std::int32_t enabled_ = 0;
  std::int32_t due_ = 0;
  std::int32_t type_ = kNone;
  std::uint8_t hour_ = 0;
  std::uint8_t minute_ = 0;
  std::uint16_t day_ = 0;
  std::int64_t count_ = 0;
  std::int64_t next_ = 0;
  std::int32_t ticks_ = 0;
};

}  // namespace kelm::events
