#include "agent/events/email_protection.h"

#include <ctime>

#include "agent/events/event_record.h"
#include "platform/base/format.h"

namespace kelm::events {
namespace {

bool listsCode(std::string_view list, std::int32_t code) {
  const std::string want = std::to_string(code);
  for (std::string_view item : splitAt(list))
    if (item == want) return true;
  return false;
}

}  // namespace

std::string EmailProtection::formatWallTime(std::int64_t instant) {
  const auto t = static_cast<std::time_t>(instant);
  std::tm tm{};
  if (::localtime_r(&t, &tm) == nullptr) return {};
  return plat::format("%d@%d@%d@%d@%d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
}

std::optional<std::int64_t> EmailProtection::parseWallTime(std::string_view text) {
  const auto f = splitAt(text);
  if (f.size() != 5) return std::nullopt;
  for (std::string_view s : f)
    if (!isDecimalNumber(s, true)) return std::nullopt;
  std::tm tm{};
  tm.tm_year = leadingDecimal(f[0]) - 1900;
  tm.tm_mon = leadingDecimal(f[1]) - 1;
  tm.tm_mday = leadingDecimal(f[2]);
  tm.tm_hour = leadingDecimal(f[3]);
  tm.tm_min = leadingDecimal(f[4]);
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(t);
}

void EmailProtection::forget() { remembered_[0] = remembered_[1] = "NONE"; }

void EmailProtection::reset() {
  (void)profile_.writeString(kProtectionSection, kRepeatedEventKey, "");
  (void)profile_.writeString(kProtectionSection, kNextActivateTimeKey, "");
  forget();
}

bool EmailProtection::CheckEmailProtection(std::int32_t code, std::string_view text) {
  if (profile_.getInt(kProtectionSection, kProtectionEnableKey, 1) == 0) {
    forget();
    return true;
  }
  int hours = profile_.getInt(kProtectionSection, kActivateIntervalKey, 0);
  if (hours <= 0) {
    hours = 1;
    (void)profile_.writeInt(kProtectionSection, kActivateIntervalKey, hours);
  }
  const std::int64_t now = clock_.wallSeconds();
  const std::string next = formatWallTime(now + std::int64_t{hours} * 3600);
  const auto storeNext = [&] { (void)profile_.writeString(kProtectionSection, kNextActivateTimeKey, next); };

  bool pass = true;
  const std::string repeated = profile_.getString(kProtectionSection, kRepeatedEventKey);
  if (repeated.empty()) {
    (void)profile_.writeString(kProtectionSection, kRepeatedEventKey, std::to_string(code));
    storeNext();
  } else if (!listsCode(repeated, code)) {
    (void)profile_.writeString(kProtectionSection, kRepeatedEventKey, repeated + "@" + std::to_string(code));
    storeNext();
  } else {
    const auto stored = parseWallTime(profile_.getString(kProtectionSection, kNextActivateTimeKey));
    if (!stored) {
      storeNext();
    } else if (*stored >= now - ((now % 60) + 60) % 60) {
      // The interval has not run out yet (compared to the minute, as the stored time is).
      pass = false;
    } else {
      forget();
      storeNext();
    }
  }

  // Event 527 carries different news in its text: a text not seen lately always passes.
  if (code == 527 && text != remembered_[0] && text != remembered_[1]) {
    pass = true;
    if (remembered_[0] == "NONE")
      remembered_[0] = std::string(text);
    else if (remembered_[1] == "NONE")
      remembered_[1] = std::string(text);
  }
  return pass;
}

}  // namespace kelm::events
