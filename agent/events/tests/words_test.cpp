#include <gtest/gtest.h>

#include "agent/events/event_record.h"
#include "agent/events/event_words.h"
#include "agent/events/notice_list.h"
#include "agent/events/tests/local_time.h"

namespace kelm::events {
namespace {

TEST(NoticeList, Table) {
  struct Case {
    const char* text;
    bool parses;
    std::vector<std::int32_t> codes;
  };
  const Case cases[] = {
      {"", true, {}},
      {"0", true, {}},
      {"1@256", true, {256}},
      {"3@530@512@257", true, {530, 512, 257}},
      {kAllNoticeList.data(), true, {}},
      {"25@256", false, {}},
      {"23@256", false, {}},
      {"-1@256", false, {}},
      {"2@256", false, {}},
      {"1@256@257", false, {}},
      {"1@600", false, {}},
      {"1@259", false, {}},
      {"1@511", false, {}},
      {"1@531", false, {}},
      {"1@0256x", false, {}},
      {"1@", false, {}},
      {"1", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto got = parseNoticeList(c.text);
    ASSERT_EQ(got.has_value(), c.parses);
    if (c.parses && std::string_view(c.text) != kAllNoticeList) {
      EXPECT_EQ(*got, c.codes);
    }
  }
  const auto all = parseNoticeList(kAllNoticeList);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), 22u);
  for (std::int32_t code : kNoticeCodes) EXPECT_TRUE(noticeListContains(kAllNoticeList, code)) << code;
  EXPECT_FALSE(noticeListContains(kAllNoticeList, 1299));
  EXPECT_FALSE(noticeListContains("", 256));
  EXPECT_FALSE(noticeListContains("2@256", 256));
}

TEST(EventWords, FamilyAndSeverityWords) {
  EXPECT_EQ(familyWord("yes"), "Marovelt");
  EXPECT_EQ(familyWord("Maybe"), "Sorventic");
  EXPECT_EQ(familyWord("no"), "Palindrex");
  EXPECT_EQ(familyWord("maybe"), "Palindrex");
  EXPECT_EQ(familyWord(""), "Palindrex");
  EXPECT_EQ(severityWord(1), "Error");
  EXPECT_EQ(severityWord(2), "Warning");
  EXPECT_EQ(severityWord(3), "Information");
  EXPECT_EQ(severityWord(0), "Unknown");
  EXPECT_EQ(severityWord(4), "Unknown");
  EXPECT_EQ(severityWord(-1), "Unknown");
}

TEST(EventWords, MessageIdsAndEventTypes) {
  EXPECT_EQ(eventMessageId(256), 0xC0000100u);
  EXPECT_EQ(eventMessageId(257), 0x40000101u);
  EXPECT_EQ(eventMessageId(523), 0x4000020Bu);
  EXPECT_EQ(eventMessageId(529), 0xC0000211u);
  EXPECT_EQ(eventMessageId(530), 0xC0000000u);
  EXPECT_EQ(eventMessageId(1299), 0xC0000000u);
  using plat::service::EventType;
  EXPECT_EQ(eventTypeOf(1), EventType::Error);
  EXPECT_EQ(eventTypeOf(2), EventType::Warning);
  EXPECT_EQ(eventTypeOf(3), EventType::Information);
  EXPECT_EQ(eventTypeOf(8), EventType::AuditSuccess);
  EXPECT_EQ(eventTypeOf(16), EventType::AuditFailure);
  EXPECT_EQ(eventTypeOf(99), EventType::Information);
}

TEST(EventWords, MailBodyDateIsLocalAndZeroPadded) {
  testing::ZoneScope zone;
  EXPECT_EQ(FormatEventTime(testing::localInstant("2001-07-10 05:02:09")), "07/10/01 05:02:09");
  EXPECT_EQ(FormatEventTime(testing::localInstant("2010-01-02 23:59:59")), "01/02/10 23:59:59");
  EXPECT_EQ(FormatEventTime(std::int64_t{1} << 60), "na/na/na na:na:na");
}

TEST(EventRecordText, ParsesFourOrFiveFields) {
  struct Case {
    const char* text;
    std::optional<EventRecord> want;
  };
  const Case cases[] = {
      {"513@994730139@2@Array@Rebuild started", EventRecord{513, 994730139, 2, "Array", "Rebuild started"}},
      {"523@994730139@testing@AGENTTESTING", EventRecord{523, 994730139, 0, "", "AGENTTESTING"}},
      {"1@2@3@t@a@b", EventRecord{1, 2, 3, "t", "a@b"}},
      {" -5@x@99999999999@@", EventRecord{-5, 0, 2147483647, "", ""}},
      {"1@2@3", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseEventRecord(c.text), c.want);
  }
  EXPECT_EQ(formatEventRecord(EventRecord{513, 7, 1, "T", "x@y"}), "513@7@1@T@x@y");
}

}  // namespace
}  // namespace kelm::events
