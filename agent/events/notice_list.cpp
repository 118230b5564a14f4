#include "agent/events/notice_list.h"

#include <algorithm>

#include "agent/events/event_record.h"

namespace kelm::events {
bool isNoticeCode(std::int32_t code) {
  return std::find(kNoticeCodes.begin(), kNoticeCodes.end(), code) != kNoticeCodes.end();
}

std::optional<std::vector<std::int32_t>> parseNoticeList(std::string_view text) {
  const std::int32_t count = leadingDecimal(text);
  if (count < 0 || count > static_cast<std::int32_t>(kNoticeCodes.size())) return std::nullopt;
  std::vector<std::int32_t> codes;
  if (count == 0) return codes;
  const auto items = splitAt(text);
  for (std::size_t i = 1; i < items.size(); ++i) {
    if (!isDecimalNumber(items[i])) return std::nullopt;
    const std::int32_t code = leadingDecimal(items[i]);
    if (!isNoticeCode(code)) return std::nullopt;
    codes.push_back(code);
  }
  if (codes.size() != static_cast<std::size_t>(count)) return std::nullopt;
  return codes;
}

bool noticeListContains(std::string_view text, std::int32_t code) {
  const auto codes = parseNoticeList(text);
  return codes && std::find(codes->begin(), codes->end(), code) != codes->end();
}

}  // namespace kelm::events
