#pragma once
// E-mail protection: an event code that was already let through is held back (from mail and from
// the consoles, never from the log) until the profile's interval of hours has run out. The state
// lives in the profile section "Email Protection", so it survives restarts; the two remembered
// texts of event 527 live in memory.
//
// Times are absolute instants: the next activation is now plus the interval in seconds, stored as
// local wall time and read back with the C library deciding daylight saving, so month ends,
// leap days and clock changes need no arithmetic of their own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/clock.h"
#include "platform/registry/profile.h"

namespace kelm::events {

inline constexpr std::string_view kProtectionSection = "Email Protection";
inline constexpr std::string_view kProtectionEnableKey = "Protection Enable";
inline constexpr std::string_view kActivateIntervalKey = "Activate Interval";
inline constexpr std::string_view kRepeatedEventKey = "Repeated Event";
inline constexpr std::string_view kNextActivateTimeKey = "Next Activate Time";

class EmailProtection {
 public:
  EmailProtection(const plat::reg::Profile& profile, const plat::Clock& clock) : profile_(profile), clock_(clock) {}

  // True when the event may pass, false when it is held back.
  bool CheckEmailProtection(std::int32_t code, std::string_view text);
  // After a protection setting changed: the repeated codes and the next time are emptied and the
  // remembered texts forgotten.
  void reset();

  // "%d@%d@%d@%d@%d" (year, month, day, hour, minute) of an instant in local time, and back.
  static std::string formatWallTime(std::int64_t instant);
  static std::optional<std::int64_t> parseWallTime(std::string_view text);

 private:
  void forget();

  const plat::reg::Profile& profile_;
  const plat::Clock& clock_;
  std::string remembered_[2] = {"NONE", "NONE"};
};

}  // namespace kelm::events
