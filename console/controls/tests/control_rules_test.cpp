// The small controls' rules: stepping, ordinals, the time editor, the address clamp, the
// notice grid's keys and the animation's frames.
#include <gtest/gtest.h>

#include "console/controls/control_rules.h"

namespace kelm::controls {
namespace {

TEST(SpinStepping, PowerModeRunsThroughThePowersAndWraps) {
  std::vector<int> seen{4};
  for (int i = 0; i < 5; ++i) seen.push_back(spinStep(seen.back(), +1, 4, 64, 2, kSpinPower));
  EXPECT_EQ(seen, (std::vector<int>{4, 8, 16, 32, 64, 4}));
  std::vector<int> down{64};
  for (int i = 0; i < 5; ++i) down.push_back(spinStep(down.back(), -1, 4, 64, 2, kSpinPower));
  EXPECT_EQ(down, (std::vector<int>{64, 32, 16, 8, 4, 64}));
  EXPECT_EQ(spinStep(12, +1, 4, 64, 2, kSpinPower), 16) << "between powers, up goes to the next";
  EXPECT_EQ(spinStep(12, -1, 4, 64, 2, kSpinPower), 8) << "and down to the one below";
}

TEST(SpinStepping, LinearAndTheFallbacks) {
  struct Case {
    int x, dir, min, max, step, mode, expected;
  };
  const Case cases[] = {
      {10, +1, 0, 100, 5, kSpinLinear, 15},
      {10, -1, 0, 100, 5, kSpinLinear, 5},
      {100, +1, 0, 100, 5, kSpinLinear, 0},  // wraps
      {0, -1, 0, 100, 5, kSpinLinear, 100},
      {5, +1, 1, 10, 1, kSpinPower, 6},       // step 1: no powers of 1
      {0, +1, 0, 10, 2, kSpinPower, 2},       // value 0: no logarithm
      {3, +1, -4, 10, 2, kSpinPower, 5},      // minimum below 0
      {-3, -1, -10, 10, 3, kSpinPower, -6},   // value below 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(spinStep(c.x, c.dir, c.min, c.max, c.step, c.mode), c.expected) << c.x << " step " << c.step;
  }
}

TEST(OrdinalSuffix, Days) {
  const std::pair<int, const char*> cases[] = {{1, "st"},  {2, "nd"},  {3, "rd"},  {4, "th"},  {11, "th"},
                                               {12, "th"}, {13, "th"}, {20, "th"}, {21, "st"}, {22, "nd"},
                                               {23, "rd"}, {24, "th"}, {30, "th"}, {31, "st"}, {0, ""},
                                               {32, ""},   {-1, ""}};
  for (const auto& [day, suffix] : cases) EXPECT_EQ(ordinalSuffix(day), suffix) << day;
}

TEST(TimeEdit, UnitsAndPlaces) {
  // 2 + 1 + 2 + 1 + 2 + 3 + 2 = 13 units of 10 pixels.
  const TimeEditLayout all = layoutTimeEdit(QSize(135, 20), kTimeHour | kTimeMinute | kTimeSecond | kTime12Hour, 14);
  EXPECT_EQ(all.hour, QRect(0, 0, 20, 20));
  EXPECT_EQ(all.sep1, QRect(20, 0, 10, 20));
  EXPECT_EQ(all.minute, QRect(30, 0, 20, 20));
  EXPECT_EQ(all.sep2, QRect(50, 0, 10, 20));
  EXPECT_EQ(all.second, QRect(60, 0, 20, 20));
  EXPECT_EQ(all.ampm, QRect(80, 0, 30, 15)) << "one item high plus one";
  EXPECT_EQ(all.spin, QRect(110, 0, 25, 20)) << "the spin takes what is left";
  // Hour and minute: 2 + 1 + 2 + 2 = 7 units.
  const TimeEditLayout hm = layoutTimeEdit(QSize(70, 20), kTimeHour | kTimeMinute, 14);
  EXPECT_EQ(hm.minute, QRect(30, 0, 20, 20));
  EXPECT_TRUE(hm.second.isNull());
  EXPECT_TRUE(hm.sep2.isNull());
  EXPECT_EQ(hm.spin, QRect(50, 0, 20, 20));
}

TEST(TimeEdit, TwelveHourClockBothWays) {
  for (int h = 0; h < 24; ++h) {
    const ShownHour s = toTwelveHour(h);
    EXPECT_GE(s.hour, 1);
    EXPECT_LE(s.hour, 12);
    EXPECT_EQ(fromTwelveHour(s.hour, s.pm), h) << "hour " << h;
  }
  EXPECT_EQ(toTwelveHour(0).hour, 12);
  EXPECT_EQ(toTwelveHour(0).pm, 0) << "midnight is 12 AM";
  EXPECT_EQ(toTwelveHour(12).hour, 12);
  EXPECT_EQ(toTwelveHour(12).pm, 1) << "noon is 12 PM";
  EXPECT_EQ(fromTwelveHour(12, 1), 12);
  EXPECT_EQ(fromTwelveHour(12, 0), 0);
  EXPECT_EQ(cutHour(30, false), 23);
  EXPECT_EQ(cutHour(13, true), 12);
  EXPECT_EQ(cutMinute(60), 0);
  EXPECT_EQ(cutMinute(59), 59);
}

TEST(AddressField, EveryChangeIsClamped) {
  const std::pair<const char*, const char*> cases[] = {
      {"300", "255"}, {"256", "255"}, {"255", "255"}, {"0", "0"},     {"", ""},
      {"1a2", "12"},  {"9999", "255"}, {" 12 ", "12"}, {"-5", "5"},    {"abc", ""},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(clampAddressField(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
  }
}

TEST(NoticeGrid, FunctionKeysBeyondTheColumnsAreIgnored) {
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F2, 4), 1);
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F4, 4), 3);
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F5, 4), -1) << "column 4 is not below the count";
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F11, 11), 10);
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F1, 11), -1);
  EXPECT_EQ(noticeColumnForKey(Qt::Key_F12, 20), -1);
}

TEST(Animation, FramesAreEqualSlicesOfTheStrip) {
  EXPECT_EQ(animationFrame(QSize(256, 32), 8, 3), QRect(96, 0, 32, 32));
  EXPECT_EQ(animationFrame(QSize(256, 32), 8, 9), QRect(32, 0, 32, 32)) << "modulo the count";
  EXPECT_EQ(animationFrame(QSize(256, 32), 0, 0), QRect(0, 0, 256, 32)) << "at least one frame";
}

}  // namespace
}  // namespace kelm::controls
