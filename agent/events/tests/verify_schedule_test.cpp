#include "agent/events/verify_schedule.h"

#include <gtest/gtest.h>

#include "agent/events/tests/local_time.h"
#include "platform/testing/manual_clock.h"

namespace kelm::events {
namespace {

using testing::localInstant;
using testing::localText;

class VerifyScheduleTest : public ::testing::Test {
 protected:
  testing::ZoneScope zone;
  plat::ManualClock clock;
  CVerifySchedule schedule{clock};
};

TEST_F(VerifyScheduleTest, NextRunOfEveryForm) {
  struct Case {
    const char* text;
    const char* now;   // local
    const char* next;  // local, or "" when the schedule ends up disabled
    const char* format;
  };
  const Case cases[] = {
      // Daily: always the next day, whether today's time is still ahead or not.
      {"1@1@2@30", "2027-01-10 10:00:00", "2027-01-11 02:30:00 CET", "1@1@2@30"},
      {"1@1@9@0", "2027-01-10 08:00:00", "2027-01-11 09:00:00 CET", "1@1@9@0"},
      {"1@1@9@0", "2027-01-10 10:00:00", "2027-01-11 09:00:00 CET", "1@1@9@0"},
      {"1@1@23@59", "2027-01-31 10:00:07", "2027-02-01 23:59:07 CET", "1@1@23@59"},
      // Weekly (0 = Sunday): later this week, later today, or next week once today's time has passed.
      {"1@2@0@22@0", "2027-01-13 10:00:00", "2027-01-17 22:00:00 CET", "1@2@0@22@0"},
      {"1@2@0@22@0", "2027-01-17 21:00:00", "2027-01-17 22:00:00 CET", "1@2@0@22@0"},
      {"1@2@0@22@0", "2027-01-17 23:00:00", "2027-01-24 22:00:00 CET", "1@2@0@22@0"},
      {"1@2@3@8@15", "2027-01-14 08:00:00", "2027-01-20 08:15:00 CET", "1@2@3@8@15"},
      // Monthly: this month, next month, the last day of a short month, the year's turn.
      {"1@3@31@1@0", "2027-01-10 10:00:00", "2027-01-31 01:00:00 CET", "1@3@31@1@0"},
      {"1@3@31@1@0", "2027-04-10 10:00:00", "2027-04-30 01:00:00 CEST", "1@3@31@1@0"},
      {"1@3@31@1@0", "2027-01-31 02:00:00", "2027-02-28 01:00:00 CET", "1@3@31@1@0"},
      {"1@3@30@1@0", "2028-02-01 00:00:00", "2028-02-29 01:00:00 CET", "1@3@30@1@0"},
      {"1@3@15@12@0", "2027-12-20 10:00:00", "2028-01-15 12:00:00 CET", "1@3@15@12@0"},
      {"1@3@15@12@0", "2027-12-15 12:30:00", "2028-01-15 12:00:00 CET", "1@3@15@12@0"},
      {"1@3@10@12@0", "2027-01-15 12:30:00", "2027-02-10 12:00:00 CET", "1@3@10@12@0"},
      // A field present but empty is 0.
      {"1@1@2@", "2027-01-10 10:00:00", "2027-01-11 02:00:00 CET", "1@1@2@0"},
      {"1@1@@30", "2027-01-10 10:00:00", "2027-01-11 00:30:00 CET", "1@1@0@30"},
      // Every n minutes or hours.
      {"1@4@90", "2027-01-10 10:00:00", "2027-01-10 11:30:00 CET", "1@4@90"},
      {"1@5@3", "2027-01-10 23:00:00", "2027-01-11 02:00:00 CET", "1@5@3"},
      {"1@4@2147483647", "2027-01-10 10:00:00", "6110-02-02 12:07:00 CET", "1@4@2147483647"},
      // Disabled: explicitly, by a count of 0 or less, by a type or value out of range, or half a text.
      {"0", "2027-01-10 10:00:00", "", "0"},
      {"0@1@2@30", "2027-01-10 10:00:00", "", "0"},
      {"1@5@0", "2027-01-10 10:00:00", "", "0"},
      {"1@4@-5", "2027-01-10 10:00:00", "", "0"},
      {"1@6@1", "2027-01-10 10:00:00", "", "0"},
      {"1@2@7@22@0", "2027-01-10 10:00:00", "", "0"},
      {"1@3@0@1@0", "2027-01-10 10:00:00", "", "0"},
      {"1@1@24@0", "2027-01-10 10:00:00", "", "0"},
      {"1@1@2", "2027-01-10 10:00:00", "", "0"},
      {"1@5", "2027-01-10 10:00:00", "", "0"},
      {"1", "2027-01-10 10:00:00", "", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " at " + c.now);
    CVerifySchedule s(clock);
    clock.setWall(localInstant(c.now));
    s.Parse(c.text);
    EXPECT_EQ(s.Format(), c.format);
    if (*c.next) {
      EXPECT_NE(s.enabled(), 0);
      EXPECT_EQ(localText(s.next()), c.next);
    } else {
      EXPECT_EQ(s.enabled(), 0);
    }
  }
}

// Only a value out of range is refused, and the live schedule stays; a text that reads as "off"
// (another type, a field missing) is accepted and turns it off.
TEST_F(VerifyScheduleTest, ARefusedTextLeavesTheLiveScheduleAsItWas) {
  struct Case {
    const char* text;
    int result;
    const char* format;
  };
  const Case cases[] = {
      {"1@1@24@0", 0, "1@4@90"}, {"1@2@7@22@0", 0, "1@4@90"}, {"1@3@0@1@0", 0, "1@4@90"},
      {"1@3@32@1@0", 0, "1@4@90"}, {"1@6@1", 1, "0"},        {"1@1@2", 1, "0"},
      {"1@5", 1, "0"},           {"1@4@0", 1, "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    clock.setWall(localInstant("2027-01-10 10:00:00"));
    ASSERT_EQ(schedule.Parse("1@4@90"), 1);
    const auto next = schedule.next();
    EXPECT_EQ(schedule.Parse(c.text), c.result);
    EXPECT_EQ(schedule.Format(), c.format);
    if (c.result == 0) {
      EXPECT_EQ(schedule.next(), next);
      EXPECT_NE(schedule.enabled(), 0);
    }
  }
}

TEST_F(VerifyScheduleTest, ClockChangesKeepTheWallTime) {
  struct Case {
    const char* text;
    const char* now;
    const char* next;
  };
  const Case cases[] = {
      // Clocks go forward in the night to 28 March: the next day's 03:30 is 16.5 hours away, not 17.5.
      {"1@1@3@30", "2027-03-27 10:00:00", "2027-03-28 03:30:00 CEST"},
      {"1@2@0@22@0", "2027-03-27 12:00:00", "2027-03-28 22:00:00 CEST"},
      {"1@3@28@12@0", "2027-03-20 12:00:00", "2027-03-28 12:00:00 CEST"},
      // Back in the night to 31 October.
      {"1@2@0@22@0", "2027-10-30 12:00:00", "2027-10-31 22:00:00 CET"},
      {"1@3@1@6@0", "2027-10-15 12:00:00", "2027-11-01 06:00:00 CET"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " at " + c.now);
    clock.setWall(localInstant(c.now));
    ASSERT_EQ(schedule.Parse(c.text), 1);
    EXPECT_EQ(localText(schedule.next()), c.next);
  }
  clock.setWall(localInstant("2027-03-27 10:00:00"));
  schedule.Parse("1@1@3@30");
  EXPECT_EQ(schedule.next() - clock.wallSeconds(), 16 * 3600 + 1800);
}

TEST_F(VerifyScheduleTest, DueForOneTickOnceTheMinuteCheckFindsTheTimeReached) {
  clock.setWall(localInstant("2027-01-10 10:00:00"));
  ASSERT_EQ(schedule.Parse("1@4@2"), 1);
  std::vector<int> dueAt;
  for (int second = 1; second <= 600; ++second) {
    clock.advanceSeconds(1);
    schedule.Tick();
    if (schedule.IsDue()) dueAt.push_back(second);
  }
  EXPECT_EQ(dueAt, (std::vector<int>{120, 240, 360, 480, 600}));

  schedule.SetEnabled(0);
  for (int i = 0; i < 200; ++i) {
    clock.advanceSeconds(1);
    schedule.Tick();
    EXPECT_FALSE(schedule.IsDue());
  }
}

TEST_F(VerifyScheduleTest, AWeeklyOrMonthlyRunComesOncePerPeriod) {
  for (const char* text : {"1@2@0@22@0", "1@3@17@22@0", "1@3@31@22@0"}) {
    SCOPED_TRACE(text);
    // Set on the day itself, a minute after the time.
    clock.setWall(localInstant("2027-01-17 22:01:00"));
    ASSERT_EQ(schedule.Parse(text), 1);
    int dues = 0;
    std::vector<std::string> runs;
    for (int minute = 0; minute < 60 * 24 * 70; ++minute) {
      for (int s = 0; s < 60; ++s) {
        clock.advanceSeconds(1);
        schedule.Tick();
        if (schedule.IsDue()) {
          ++dues;
          runs.push_back(localText(clock.wallSeconds()).substr(0, 16));
        }
      }
    }
    if (std::string(text) == "1@2@0@22@0") {
      EXPECT_EQ(dues, 10);
      EXPECT_EQ(runs.front(), "2027-01-24 22:00");
    } else if (std::string(text) == "1@3@17@22@0") {
      EXPECT_EQ(runs, (std::vector<std::string>{"2027-02-17 22:00", "2027-03-17 22:00"}));
    } else {
      EXPECT_EQ(runs, (std::vector<std::string>{"2027-01-31 22:00", "2027-02-28 22:00"}));
    }
  }
}

}  // namespace
}  // namespace kelm::events
