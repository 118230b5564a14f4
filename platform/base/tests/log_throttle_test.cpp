#include "platform/base/log_throttle.h"

#include <gtest/gtest.h>

#include "platform/testing/manual_clock.h"

using plat::LogThrottle;

TEST(LogThrottle, OneLineAMinutePerKindWithTheCountLeftOut) {
  plat::ManualClock clock;
  LogThrottle t(clock);
  EXPECT_EQ(t.admit("refused", "refused a"), "refused a");
  EXPECT_EQ(t.admit("other", "other a"), "other a") << "kinds are held back apart";
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(t.admit("refused", "refused b"));
  clock.advanceMs(59999);
  EXPECT_FALSE(t.admit("refused", "refused c"));
  clock.advanceMs(1);
  EXPECT_EQ(t.admit("refused", "refused d"), "refused d (6 more like it left out)");
  clock.advanceMs(60000);
  EXPECT_EQ(t.admit("refused", "refused e"), "refused e") << "nothing left out since";
}

TEST(LogThrottle, KindsMadeUpByOutsidersStayBounded) {
  plat::ManualClock clock;
  LogThrottle t(clock);
  int written = 0;
  for (int i = 0; i < 10000; ++i) written += t.admit("peer " + std::to_string(i), "line").has_value();
  EXPECT_EQ(written, static_cast<int>(LogThrottle::kMaxKinds) + 1) << "past the table, one shared kind";
}
