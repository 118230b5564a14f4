#include "agent/events/event_record.h"

#include <limits>

namespace kelm::events {

std::int32_t leadingDecimal(std::string_view field) {
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
    value = value * 10 + (field[i] - '0');
    if (value > kLimit) value = kLimit;
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

bool isDecimalNumber(std::string_view s, bool allowSign) {
  if (allowSign && !s.empty() && s[0] == '-') s.remove_prefix(1);
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

std::vector<std::string_view> splitAt(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      out.push_back(text.substr(start));
      return out;
    }
    out.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::optional<EventRecord> parseEventRecord(std::string_view record) {
  std::size_t at[4];
  std::size_t from = 0;
  int found = 0;
  for (; found < 4; ++found) {
    const std::size_t p = record.find('@', from);
    if (p == std::string_view::npos) break;
    at[found] = p;
    from = p + 1;
  }
  if (found < 3) return std::nullopt;
  EventRecord r;
  r.code = leadingDecimal(record.substr(0, at[0]));
  r.time = leadingDecimal(record.substr(at[0] + 1, at[1] - at[0] - 1));
  r.severity = leadingDecimal(record.substr(at[1] + 1, at[2] - at[1] - 1));
  if (found == 3) {
    r.text = std::string(record.substr(at[2] + 1));
  } else {
    r.title = std::string(record.substr(at[2] + 1, at[3] - at[2] - 1));
    r.text = std::string(record.substr(at[3] + 1));
  }
  return r;
}

std::string formatEventRecord(const EventRecord& r) {
  return std::to_string(r.code) + '@' + std::to_string(r.time) + '@' + std::to_string(r.severity) + '@' + r.title +
         '@' + r.text;
}

}  // namespace kelm::events
