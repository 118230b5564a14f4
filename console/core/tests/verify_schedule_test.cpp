// The console's reading and writing of the verify schedule's text.
#include "console/core/verify_schedule.h"

#include <gtest/gtest.h>

namespace kelm::console {
namespace {

TEST(VerifySchedule, TextsReadAndWrittenBack) {
  struct Case {
    const char* text;
    bool enabled;
    int type;
    int hour, minute, day, count;
    const char* formatted;
  };
  const Case cases[] = {
      {"1@1@2@30", true, 1, 2, 30, 0, 0, "1@1@2@30"},
      {"1@2@0@22@0", true, 2, 22, 0, 0, 0, "1@2@0@22@0"},
      {"1@3@31@1@0", true, 3, 1, 0, 31, 0, "1@3@31@1@0"},
      {"1@4@90", true, 4, 0, 0, 0, 90, "1@4@90"},
      {"1@5@0", false, 0, 0, 0, 0, 0, "0"},
      {"0", false, 0, 0, 0, 0, 0, "0"},
      {"0@1@2@30", false, 0, 0, 0, 0, 0, "0"},
      {"1", false, 0, 0, 0, 0, 0, "0"},          // on, but with no type
      {"1@4", false, 0, 0, 0, 0, 0, "0"},        // no field after the type
      {"1@1@2", false, 0, 0, 0, 0, 0, "0"},      // daily without its minute
      {"1@2@0@22", false, 0, 0, 0, 0, 0, "0"},   // weekly without its minute
      {"1@9@1@1", false, 0, 0, 0, 0, 0, "0"},    // no such type
      {"1@@2@30", false, 0, 0, 0, 0, 0, "0"},
      {"x@1@2@30", false, 0, 0, 0, 0, 0, "0"},
      {"1@5@99999999999", true, 5, 0, 0, 0, 2147483647, "1@5@2147483647"},
  };
  for (const Case& c : cases) {
    CVerifySchedule s;
    EXPECT_EQ(s.Parse(c.text), 1);
    EXPECT_EQ(s.IsEnabled(), c.enabled) << c.text;
    int type = -1, count = -1;
    std::uint8_t hour = 99, minute = 99;
    std::uint16_t day = 99;
    EXPECT_EQ(s.GetType(&type), 1);
    EXPECT_EQ(type, c.type) << c.text;
    if (c.enabled) {
      s.GetTime(&hour, &minute);
      s.GetShortValue(&day);
      s.GetIntValue(&count);
      if (c.type <= 3) {
        EXPECT_EQ(hour, c.hour) << c.text;
        EXPECT_EQ(minute, c.minute) << c.text;
      }
      if (c.type == 2 || c.type == 3) {
        EXPECT_EQ(day, c.day) << c.text;
      }
      if (c.type >= 4) {
        EXPECT_EQ(count, c.count) << c.text;
      }
    }
    EXPECT_EQ(s.Format(), c.formatted) << c.text;
  }
}

TEST(VerifySchedule, SetAndEnable) {
  CVerifySchedule s;
  EXPECT_EQ(s.SetEnabled(1), 0) << "nothing to run yet";
  EXPECT_EQ(s.Set(1, 9, 0), 1);
  EXPECT_EQ(s.SetEnabled(1), 1);
  EXPECT_EQ(s.Format(), "1@1@9@0");
  EXPECT_EQ(s.Set(7, 1), 0);
  EXPECT_FALSE(s.IsEnabled());
  EXPECT_EQ(s.Format(), "0");
  EXPECT_EQ(s.Set(4, 0), 1) << "a count of 0 is accepted, and turns the schedule off";
  EXPECT_EQ(s.SetEnabled(1), 0);
}

}  // namespace
}  // namespace kelm::console
