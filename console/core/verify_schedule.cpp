#include "console/core/verify_schedule.h"

#include <climits>
#include <cstdio>
#include <vector>

namespace kelm::console {

namespace {

// A decimal field as the agent writes it; what is not a number reads as 0, and a value too
// large for an int is held at the limit instead of overflowing.
int number(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) {
      v = INT_MAX;
      break;
    }
  }
  return static_cast<int>(negative ? -v : v);
}

}  // namespace

void CVerifySchedule::disable() {
  type_ = kNone;
  enabled_ = 0;
}

int CVerifySchedule::Set(int type, int first, int second, int third) {
  switch (type) {
    case kDaily:
      type_ = type;
      hour_ = static_cast<std::uint8_t>(first);
      minute_ = static_cast<std::uint8_t>(second);
      return 1;
    case kWeekly:
    case kMonthly:
      type_ = type;
      day_ = static_cast<std::uint16_t>(first);
      hour_ = static_cast<std::uint8_t>(second);
      minute_ = static_cast<std::uint8_t>(third);
      return 1;
    case kMinutes:
    case kHours:
      if (first == 0) {
        disable();
        return 1;
      }
      type_ = type;
      count_ = first;
      return 1;
    default:
      disable();
      return 0;
  }
}

int CVerifySchedule::SetEnabled(int flag) {
  enabled_ = flag;
  if (enabled_ && (type_ < kDaily || type_ > kHours)) disable();
  return enabled_;
}

int CVerifySchedule::Parse(std::string_view text) {
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos) {
    SetEnabled(number(text));
    return 1;
  }
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t next = text.find('@', start);
    fields.push_back(text.substr(start, next == std::string_view::npos ? std::string_view::npos : next - start));
    if (next == std::string_view::npos) break;
    start = next + 1;
  }
  const int enabled = number(fields[0]);
  // A type needs a field of its own followed by '@'.
  if (enabled == 0 || fields.size() < 3 || fields[1].empty()) {
    disable();
    return 1;
  }
  const int type = number(fields[1]);
  const std::size_t needed = type == kDaily ? 2 : (type == kWeekly || type == kMonthly) ? 3 : 1;
  if (type < kDaily || type > kHours || fields.size() < 2 + needed) {
    disable();
    return 1;
  }
  int accepted;
  if (type == kMinutes || type == kHours) {
    accepted = Set(type, number(fields[2]));
  } else if (type == kDaily) {
    accepted = Set(type, number(fields[2]), number(fields[3]));
  } else {
    accepted = Set(type, number(fields[2]), number(fields[3]), number(fields[4]));
  }
  if (accepted && type_ != kNone) {
    enabled_ = enabled;
  } else {
    disable();
  }
  return 1;
}

std::string CVerifySchedule::Format() {
  if (enabled_ && (type_ < kDaily || type_ > kHours)) disable();
  char buf[96];
  if (!enabled_) {
    std::snprintf(buf, sizeof buf, "%d", enabled_);
  } else if (type_ == kDaily) {
    std::snprintf(buf, sizeof buf, "%d@%d@%d@%d", enabled_, type_, hour_, minute_);
  } else if (type_ == kWeekly || type_ == kMonthly) {
    std::snprintf(buf, sizeof buf, "%d@%d@%d@%d@%d", enabled_, type_, day_, hour_, minute_);
  } else {
    std::snprintf(buf, sizeof buf, "%d@%d@%d", enabled_, type_, count_);
  }
  return buf;
}

int CVerifySchedule::GetType(int* type) const {
  if (type) *type = type_;
  return 1;
}

int CVerifySchedule::GetTime(std::uint8_t* hour, std::uint8_t* minute) const {
  if (hour) *hour = hour_;
  if (minute) *minute = minute_;
  return 1;
}

int CVerifySchedule::GetShortValue(std::uint16_t* value) const {
  if (value) *value = day_;
  return 1;
}

int CVerifySchedule::GetIntValue(int* value) const {
  if (value) *value = count_;
  return 1;
}

}  // namespace kelm::console
