#pragma once
// An event record as components hand it to the agent and the agent hands it to clients:
// "code@time@severity@title@text" (time in seconds since 1970).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::events {

struct EventRecord {
  std::int32_t code = 0;
  std::int32_t time = 0;
  std::int32_t severity = 0;
  std::string title;
  std::string text;

  bool operator==(const EventRecord&) const = default;
};

// The record's fields. With only four fields the title is empty and the fourth field is the
// text; the text keeps any further '@'. Fewer than four fields is no record.
std::optional<EventRecord> parseEventRecord(std::string_view record);
// "%d@%d@%d@%s@%s".
std::string formatEventRecord(const EventRecord& record);

// The decimal value at the start of a field as the C library reads it (blanks, a sign, digits;
// anything else ends it, nothing gives 0), held within 32 bits instead of overflowing.
std::int32_t leadingDecimal(std::string_view field);

// True when the text is a decimal number of at most 9 digits, with an optional leading '-'.
bool isDecimalNumber(std::string_view text, bool allowSign = false);

// Splits at every '@'.
std::vector<std::string_view> splitAt(std::string_view text, char separator = '@');

}  // namespace kelm::events
