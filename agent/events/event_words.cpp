#include "agent/events/event_words.h"

#include <ctime>

#include "platform/base/format.h"

namespace kelm::events {

std::string_view familyWord(std::string_view familyFlag) {
  if (familyFlag == "yes") return "Marovelt";
  if (familyFlag == "Maybe") return "Sorventic";
  return "Palindrex";
}

std::string_view severityWord(std::int32_t severity) {
  switch (severity) {
    case 1:
      return "Error";
    case 2:
      return "Warning";
    case 3:
      return "Information";
    default:
      return "Unknown";
  }
}

std::string FormatEventTime(std::int64_t time) {
  const auto t = static_cast<std::time_t>(time);
  std::tm tm{};
  if (::localtime_r(&t, &tm) == nullptr) return "na/na/na na:na:na";
  return plat::format("%02d/%02d/%02d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday, (tm.tm_year + 1900) % 100, tm.tm_hour,
                      tm.tm_min, tm.tm_sec);
}

std::uint32_t eventMessageId(std::int32_t code) {
  // Severity bits of each code's message: 0xC error, 0x8 warning, 0x4 information.
  struct Entry {
    std::int32_t code;
    std::uint32_t id;
  };
  static constexpr Entry kTable[] = {
      {256, 0xC0000100}, {257, 0x40000101}, {258, 0xC0000102}, {512, 0xC0000200}, {513, 0x80000201}, {514, 0x80000202},
      {515, 0x80000203}, {516, 0x40000204}, {517, 0x80000205}, {518, 0x80000206}, {519, 0x40000207}, {520, 0x80000208},
      {521, 0xC0000209}, {522, 0xC000020A}, {523, 0x4000020B}, {524, 0x4000020C}, {525, 0xC000020D}, {526, 0xC000020E},
      {527, 0xC000020F}, {528, 0xC0000210}, {529, 0xC0000211},
  };
  for (const Entry& e : kTable)
    if (e.code == code) return e.id;
  return 0xC0000000;
}

plat::service::EventType eventTypeOf(std::int32_t severity) {
  using plat::service::EventType;
  switch (severity) {
    case 1:
      return EventType::Error;
    case 2:
      return EventType::Warning;
    case 8:
      return EventType::AuditSuccess;
    case 16:
      return EventType::AuditFailure;
    default:
      return EventType::Information;
  }
}

}  // namespace kelm::events
