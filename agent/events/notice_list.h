#pragma once
// The notice lists of the profile section "LogEvent": "EmailNotice" (mailed events) and
// "ReportNotice" (events forwarded to the consoles). Text form: the count, then each code, all
// joined by '@'; the empty text is the empty list.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kelm::events {

inline constexpr std::array<std::int32_t, 22> kNoticeCodes = {256, 257, 258, 512, 513, 514, 515, 516, 517, 518, 519,
                                                              520, 521, 522, 523, 524, 525, 526, 527, 528, 529, 530};
inline constexpr std::string_view kAllNoticeList =
    "22@256@257@258@512@513@523@514@515@516@524@521@522@517@518@519@520@525@526@527@528@529@530";

inline constexpr std::string_view kLogEventSection = "LogEvent";
inline constexpr std::string_view kEmailNoticeKey = "EmailNotice";
inline constexpr std::string_view kReportNoticeKey = "ReportNotice";

bool isNoticeCode(std::int32_t code);
// The codes of a list, or nothing when it does not parse: a count above 22 (or below 0), an item
// that is not one of the 22 codes in decimal, or a number of codes other than the count.
std::optional<std::vector<std::int32_t>> parseNoticeList(std::string_view text);
// True when the list parses, holds at least one code and holds this one.
bool noticeListContains(std::string_view text, std::int32_t code);

}  // namespace kelm::events
