#pragma once
// Test helpers: a fixed time zone with daylight saving (central Europe, written as a POSIX rule so
// no zone database is needed) and local wall times written as text.
#include <cstdlib>
#include <ctime>
#include <string>

namespace kelm::events::testing {

class ZoneScope {
 public:
  explicit ZoneScope(const char* tz = "CET-1CEST,M3.5.0,M10.5.0/3") {
    if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  ~ZoneScope() {
    if (hadOld_)
      ::setenv("TZ", old_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  ZoneScope(const ZoneScope&) = delete;
  ZoneScope& operator=(const ZoneScope&) = delete;

 private:
  std::string old_;
  bool hadOld_ = false;
};

// "YYYY-MM-DD HH:MM:SS" local -> instant (the C library decides daylight saving).
inline std::int64_t localInstant(const std::string& text) {
  std::tm tm{};
  if (!::strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm)) return -1;
  tm.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&tm));
}

// Instant -> "YYYY-MM-DD HH:MM:SS TZ" local.
inline std::string localText(std::int64_t instant) {
  const auto t = static_cast<std::time_t>(instant);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S %Z", &tm);
  return buf;
}

}  // namespace kelm::events::testing
