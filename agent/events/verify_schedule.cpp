#include "agent/events/verify_schedule.h"

#include <ctime>

#include "agent/events/event_record.h"
#include "platform/base/format.h"

namespace kelm::events {
namespace {

int daysInMonth(int year, int month) {  // month 0-11, year as in tm (since 1900)
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int y = year + 1900;
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return month == 1 && leap ? 29 : kDays[month];
}

// Local wall time back to an instant; the C library decides daylight saving.
std::int64_t instantOf(std::tm tm) {
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// The given day of the month (clamped to its last day) of the month `ahead` months after tm's.
std::tm dayOfMonth(std::tm tm, int day, int ahead) {
  int month = tm.tm_mon + ahead;
  tm.tm_year += month / 12;
  tm.tm_mon = month % 12;
  const int last = daysInMonth(tm.tm_year, tm.tm_mon);
  tm.tm_mday = day < last ? day : last;
  return tm;
}

}  // namespace

int CVerifySchedule::Set(std::int32_t type, std::int64_t first, std::int64_t second, std::int64_t third) {
  switch (type) {
    case kDaily:
      if (first < 0 || first > 23 || second < 0 || second > 59) break;
      type_ = type;
      hour_ = static_cast<std::uint8_t>(first);
      minute_ = static_cast<std::uint8_t>(second);
      return 1;
    case kWeekly:
    case kMonthly:
      if ((type == kWeekly ? first < 0 || first > 6 : first < 1 || first > 31) || second < 0 || second > 23 ||
          third < 0 || third > 59)
        break;
      type_ = type;
      day_ = static_cast<std::uint16_t>(first);
      hour_ = static_cast<std::uint8_t>(second);
      minute_ = static_cast<std::uint8_t>(third);
      return 1;
    case kEveryMinutes:
    case kEveryHours:
      if (first <= 0) {
        disable();
        return 1;
      }
      type_ = type;
      count_ = first;
      return 1;
    default:
      break;
  }
  disable();
  return 0;
}

std::int32_t CVerifySchedule::SetEnabled(std::int32_t flag) {
  enabled_ = flag;
  computeNext();
  return enabled_;
}

void CVerifySchedule::computeNext() {
  if (enabled_ == 0) return;
  const std::int64_t now = clock_.wallSeconds();
  switch (type_) {
    case kEveryMinutes:
      next_ = now + count_ * 60;
      return;
    case kEveryHours:
      next_ = now + count_ * 3600;
      return;
    case kDaily:
    case kWeekly:
    case kMonthly:
      break;
    default:
      disable();
      return;
  }
  const auto t = static_cast<std::time_t>(now);
  std::tm today{};
  if (::localtime_r(&t, &today) == nullptr) {
    disable();
    return;
  }
  today.tm_hour = hour_;
  today.tm_min = minute_;  // the seconds stay those of now
  if (type_ == kDaily) {
    std::tm tm = today;
    tm.tm_mday += 1;
    next_ = instantOf(tm);
  } else if (type_ == kWeekly) {
    std::tm tm = today;
    tm.tm_mday += (day_ - today.tm_wday + 7) % 7;
    next_ = instantOf(tm);
    if (next_ <= now) {
      tm.tm_mday += 7;
      next_ = instantOf(tm);
    }
  } else {
    next_ = instantOf(dayOfMonth(today, day_, day_ < today.tm_mday ? 1 : 0));
    if (next_ <= now) next_ = instantOf(dayOfMonth(today, day_, day_ < today.tm_mday ? 2 : 1));
  }
}

int CVerifySchedule::Parse(std::string_view text) {
  const auto f = splitAt(text);
  if (f.size() == 1) {
    SetEnabled(leadingDecimal(text));
    return 1;
  }
  const std::int32_t enabled = leadingDecimal(f[0]);
  if (enabled == 0) {
    SetEnabled(0);
    return 1;
  }
  const std::int32_t type = leadingDecimal(f[1]);
  std::size_t need = 0;
  if (type == kDaily) need = 4;
  if (type == kWeekly || type == kMonthly) need = 5;
  if (type == kEveryMinutes || type == kEveryHours) need = 3;
  // Another type, or a field missing, reads as "off"; a field present but empty is 0.
  if (need == 0 || f.size() < need) {
    disable();
    return 1;
  }
  // A value out of range is refused and leaves the schedule as it was.
  CVerifySchedule next(clock_);
  int accepted = 0;
  if (type == kDaily) accepted = next.Set(type, leadingDecimal(f[2]), leadingDecimal(f[3]));
  if (need == 5) accepted = next.Set(type, leadingDecimal(f[2]), leadingDecimal(f[3]), leadingDecimal(f[4]));
  if (need == 3) accepted = next.Set(type, leadingDecimal(f[2]));
  if (!accepted) return 0;
  type_ = next.type_;
  hour_ = next.hour_;
  minute_ = next.minute_;
  day_ = next.day_;
  count_ = next.count_;
  SetEnabled(type_ == kNone ? 0 : enabled);
  return 1;
}

std::string CVerifySchedule::Format() {
  if (enabled_ != 0 && (type_ < kDaily || type_ > kEveryHours)) disable();
  std::string out = std::to_string(enabled_);
  if (enabled_ == 0) return out;
  if (type_ == kDaily) return out + plat::format("@%d@%d@%d", type_, hour_, minute_);
  if (type_ == kWeekly || type_ == kMonthly) return out + plat::format("@%d@%d@%d@%d", type_, day_, hour_, minute_);
  return out + plat::format("@%d@%lld", type_, static_cast<long long>(count_));
}

void CVerifySchedule::Tick() {
  if (enabled_ == 0) {
    ticks_ = 0;
    due_ = 0;
    return;
  }
  due_ = 0;
  if (++ticks_ < 60) return;
  ticks_ = 0;
  if (clock_.wallSeconds() >= next_) {
    due_ = 1;
    computeNext();
  }
}

}  // namespace kelm::events
