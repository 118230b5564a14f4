#pragma once
// The console's copy of the verify schedule's value and its text form, as the agent settings page
// reads and writes it: "0" when off, else the enabled value, the type and its fields joined by
// '@' (daily: hour, minute; weekly and monthly: day, hour, minute; every n minutes or hours: n).
// The console never runs the schedule, so it keeps no next run.
#include <cstdint>
#include <string>
#include <string_view>

namespace kelm::console {

class CVerifySchedule {
 public:
  enum Type : int { kNone = 0, kDaily = 1, kWeekly = 2, kMonthly = 3, kMinutes = 4, kHours = 5 };

  // 1 when accepted. Daily: hour, minute; weekly and monthly: day, hour, minute; every n minutes
  // or hours: n (0 turns the schedule off). Another type turns it off and answers 0.
  int Set(int type, int first, int second = 0, int third = 0);
  // The enabled value afterwards: a schedule without a type cannot be on.
  int SetEnabled(int flag);
  // Reads the text form; anything incomplete or unknown leaves the schedule off. Answers 1.
  int Parse(std::string_view text);
  std::string Format();

  // Each writes the value to the caller's variable and answers 1.
  int GetType(int* type) const;
  int GetTime(std::uint8_t* hour, std::uint8_t* minute) const;
  int GetShortValue(std::uint16_t* value) const;
  int GetIntValue(int* value) const;
  bool IsEnabled() const { return enabled_ != 0; }

 private:
  void disable();

  int enabled_ = 0;
  int type_ = kNone;
  std::uint8_t hour_ = 0;
  std::uint8_t minute_ = 0;
  std::uint16_t day_ = 0;
  int count_ = 0;
};

}  // namespace kelm::console
