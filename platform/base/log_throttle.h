#pragma once
// Log lines that anyone outside can cause (a refused connection, a refused request) are throttled:
// at most one line a minute per kind, and the next line that goes out says how many were left out,
// so a flood of them costs neither the disk nor the log reader.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/base/clock.h"

namespace plat {

class LogThrottle {
 public:
  static constexpr std::int64_t kDefaultIntervalMs = 60000;
  // A kind stays known until its interval has passed, so the table holds only the kinds seen in
  // the last interval; kinds beyond this many are counted under one.
  static constexpr std::size_t kMaxKinds = 64;

  explicit LogThrottle(const Clock& clock, std::int64_t intervalMs = kDefaultIntervalMs)
      : clock_(clock), intervalMs_(intervalMs) {}

  // The line to write for this occurrence of `kind`, or nothing while the kind is held back.
  std::optional<std::string> admit(const std::string& kind, const std::string& line);

 private:
  struct Kind {
    std::int64_t lastMs = 0;
    std::size_t leftOut = 0;
  };
  const Clock& clock_;
  std::int64_t intervalMs_;
  std::map<std::string, Kind> kinds_;
};

}  // namespace plat
