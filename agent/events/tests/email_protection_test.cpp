#include "agent/events/email_protection.h"

#include <gtest/gtest.h>

#include "agent/events/tests/local_time.h"
#include "platform/testing/temp_root.h"
#include "platform/testing/manual_clock.h"

namespace kelm::events {
namespace {

using testing::localInstant;

class EmailProtectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(profile.writeInt(kProtectionSection, kActivateIntervalKey, 2)); }
  bool check(std::int32_t code, const std::string& at, const std::string& text = "t") {
    clock.setWall(localInstant(at));
    return protection.CheckEmailProtection(code, text);
  }
  std::string stored(std::string_view key) { return profile.getString(kProtectionSection, key); }

  testing::ZoneScope zone;
  plat::testing::TempRoot root;
  plat::reg::Profile profile{"Velkari Technology Inc.", "Message Agent"};
  plat::ManualClock clock;
  EmailProtection protection{profile, clock};
};

// Each step: an event at a local time, whether it passes, and the stored next time afterwards.
struct Step {
  std::int32_t code;
  const char* at;
  bool passes;
  const char* next;
};

TEST_F(EmailProtectionTest, RepeatsWithinTheIntervalAreHeldBack) {
  const std::vector<Step> steps = {
      {513, "2027-01-10 10:00:00", true, "2027@1@10@12@0"},  {513, "2027-01-10 11:00:00", false, "2027@1@10@12@0"},
      {514, "2027-01-10 11:00:00", true, "2027@1@10@13@0"},  {513, "2027-01-10 12:59:00", false, "2027@1@10@13@0"},
      {513, "2027-01-10 13:00:59", false, "2027@1@10@13@0"},  // the stored minute itself still holds
      {513, "2027-01-10 13:01:00", true, "2027@1@10@15@1"},  {513, "2027-01-10 15:00:00", false, "2027@1@10@15@1"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.code) + " at " + s.at);
    EXPECT_EQ(check(s.code, s.at), s.passes);
    EXPECT_EQ(stored(kNextActivateTimeKey), s.next);
  }
  EXPECT_EQ(stored(kRepeatedEventKey), "513@514");
}

TEST_F(EmailProtectionTest, MonthYearAndDaylightSavingEnds) {
  struct Case {
    const char* name;
    int interval;
    const char* first;  // the first event, which passes and stores the next time
    const char* next;
    const char* held;    // a repeat that is held back
    const char* passes;  // a repeat after the interval
  };
  const Case cases[] = {
      // 2 hours past 23:30 on the 31st is 01:30 on the 1st of the next month (not of the same month).
      {"month end", 2, "2027-01-31 23:30:00", "2027@2@1@1@30", "2027-02-01 01:00:00", "2027-02-01 01:31:00"},
      {"30-day month", 2, "2027-04-30 23:00:00", "2027@5@1@1@0", "2027-05-01 00:30:00", "2027-05-01 01:01:00"},
      {"leap day", 2, "2028-02-28 23:00:00", "2028@2@29@1@0", "2028-02-29 00:59:00", "2028-02-29 01:01:00"},
      {"year end", 2, "2027-12-31 23:15:00", "2028@1@1@1@15", "2028-01-01 00:00:00", "2028-01-01 01:16:00"},
      {"days", 49, "2027-02-27 12:00:00", "2027@3@1@13@0", "2027-03-01 12:59:00", "2027-03-01 13:01:00"},
      // Clocks go forward at 02:00: two hours after 01:30 CET is 04:30 CEST.
      {"spring forward", 2, "2027-03-28 01:30:00", "2027@3@28@4@30", "2027-03-28 04:29:00", "2027-03-28 04:31:00"},
      // Clocks go back at 03:00: three hours after 01:30 CEST is 03:30 CET.
      {"fall back", 3, "2027-10-31 01:30:00", "2027@10@31@3@30", "2027-10-31 03:29:00", "2027-10-31 03:31:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    protection.reset();
    ASSERT_TRUE(profile.writeInt(kProtectionSection, kActivateIntervalKey, c.interval));
    EXPECT_TRUE(check(517, c.first));
    EXPECT_EQ(stored(kNextActivateTimeKey), c.next);
    EXPECT_FALSE(check(517, c.held));
    EXPECT_TRUE(check(517, c.passes));
  }
}

TEST_F(EmailProtectionTest, CodesAreComparedAsWholeItems) {
  ASSERT_TRUE(profile.writeString(kProtectionSection, kRepeatedEventKey, "1513@5130@51"));
  ASSERT_TRUE(profile.writeString(kProtectionSection, kNextActivateTimeKey, "2030@1@1@0@0"));
  EXPECT_TRUE(check(513, "2027-01-10 10:00:00"));
  EXPECT_EQ(stored(kRepeatedEventKey), "1513@5130@51@513");
  EXPECT_FALSE(check(51, "2027-01-10 10:00:00"));
  EXPECT_FALSE(check(513, "2027-01-10 10:00:00"));
}

TEST_F(EmailProtectionTest, Event527WithANewTextPassesAndTwoTextsAreRemembered) {
  EXPECT_TRUE(check(527, "2027-01-10 10:00:00", "disk 1"));
  EXPECT_FALSE(check(527, "2027-01-10 10:01:00", "disk 1"));
  EXPECT_TRUE(check(527, "2027-01-10 10:02:00", "disk 2"));
  EXPECT_FALSE(check(527, "2027-01-10 10:03:00", "disk 2"));
  // A third text passes but is not remembered, so it passes again.
  EXPECT_TRUE(check(527, "2027-01-10 10:04:00", "disk 3"));
  EXPECT_TRUE(check(527, "2027-01-10 10:05:00", "disk 3"));
  EXPECT_FALSE(check(527, "2027-01-10 10:06:00", "disk 1"));
  // Another code never passes on its text.
  EXPECT_TRUE(check(528, "2027-01-10 10:07:00", "a"));
  EXPECT_FALSE(check(528, "2027-01-10 10:08:00", "b"));
  // A reset forgets the texts and the codes.
  protection.reset();
  EXPECT_EQ(stored(kRepeatedEventKey), "");
  EXPECT_TRUE(check(528, "2027-01-10 10:09:00", "a"));
}

TEST_F(EmailProtectionTest, DisabledOrUnsetSettings) {
  ASSERT_TRUE(profile.writeInt(kProtectionSection, kProtectionEnableKey, 0));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(check(513, "2027-01-10 10:00:00"));
  EXPECT_EQ(stored(kRepeatedEventKey), "");

  ASSERT_TRUE(profile.writeInt(kProtectionSection, kProtectionEnableKey, 1));
  ASSERT_TRUE(profile.deleteEntry(kProtectionSection, kActivateIntervalKey));
  EXPECT_TRUE(check(513, "2027-01-10 10:00:00"));
  EXPECT_EQ(profile.getInt(kProtectionSection, kActivateIntervalKey, -1), 1);
  EXPECT_EQ(stored(kNextActivateTimeKey), "2027@1@10@11@0");
  // A damaged stored time counts as none: the event passes and a sound time is stored.
  ASSERT_TRUE(profile.writeString(kProtectionSection, kNextActivateTimeKey, "2027@x@10@11"));
  EXPECT_TRUE(check(513, "2027-01-10 10:05:00"));
  EXPECT_EQ(stored(kNextActivateTimeKey), "2027@1@10@11@5");
}

}  // namespace
}  // namespace kelm::events
