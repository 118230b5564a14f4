#include "platform/base/clock.h"
#include "platform/testing/manual_clock.h"
#include "platform/testing/seeded_random.h"

#include <gtest/gtest.h>

#include <set>

using namespace plat;

TEST(Clock, ManualClockCarriesMillisecondsIntoWallSeconds) {
  ManualClock c(100, 0);
  c.advanceMs(600);
  EXPECT_EQ(c.wallSeconds(), 100);
  c.advanceMs(600);
  EXPECT_EQ(c.wallSeconds(), 101);
  EXPECT_EQ(c.monotonicMs(), 1200);
}

TEST(Clock, RecordingSleeperAdvancesInsteadOfWaiting) {
  ManualClock c(0, 0);
  RecordingSleeper s(&c);
  s.sleepMs(40);
  s.sleepMs(4000);
  EXPECT_EQ(s.calls(), (std::vector<std::uint32_t>{40, 4000}));
  EXPECT_EQ(c.monotonicMs(), 4040);
}

TEST(Clock, SystemRandomIsNotConstant) {
  std::set<std::uint32_t> seen;
  for (int i = 0; i < 64; ++i) seen.insert(systemRandom().next32());
  EXPECT_GT(seen.size(), 60u);
}

TEST(Clock, SeededRandomRepeats) {
  SeededRandom a(7), b(7);
  unsigned char x[13], y[13];
  a.fill(x, sizeof x);
  b.fill(y, sizeof y);
  EXPECT_EQ(0, memcmp(x, y, sizeof x));
}
