#pragma once
// The words and numbers an event turns into on its way out: the family word of the mail, the
// severity word of the subject, the mail body's date, the system log's message id and event type.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/service/syslog_sender.h"

namespace kelm::events {

// "yes" (the folder's HasEvent was 3) "Marovelt", "Maybe" (4) "Sorventic", anything else "Palindrex".
std::string_view familyWord(std::string_view familyFlag);
// 1 "Error", 2 "Warning", 3 "Information", anything else "Unknown".
std::string_view severityWord(std::int32_t severity);
// Local time as "%02d/%02d/%02d %02d:%02d:%02d" (month, day, year modulo 100, hour, minute, second),
// or "na/na/na na:na:na" when the time cannot be converted.
std::string FormatEventTime(std::int64_t time);
// The message id of an event code in the agent's message table; 0xC0000000 for unknown codes.
std::uint32_t eventMessageId(std::int32_t code);
// 1 error, 2 warning, 3 information; other values are the Windows event types 4, 8 and 16
// (information, audit success, audit failure) as they stand, and anything else counts as information.
plat::service::EventType eventTypeOf(std::int32_t severity);

inline constexpr std::uint32_t kServiceStartedId = 0x40001009;
inline constexpr std::uint32_t kServiceStoppedId = 0x4000100F;
inline constexpr std::string_view kServiceStartedText = "Velkari Array Management Service Started.";
inline constexpr std::string_view kServiceStoppedText = "Velkari Array Management Service Stopped.";

}  // namespace kelm::events
