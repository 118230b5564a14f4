#include <gtest/gtest.h>

#include "components/ide/ide_texts.h"

namespace tirrow {
namespace {

TEST(TextsTest, SizeText) {
  constexpr std::uint64_t MB = 1ull << 20, GB = 1ull << 30;
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0 Bytes"},
      {MB - 1, "1048575 Bytes"},
      {MB, "1.  0 MB"},
      {5 * MB, "5.  0 MB"},
      {5 * MB + 512 * 1024, "5.500 MB"},
      {10 * MB - 1, "9.999 MB"},
      {10 * MB, "10 MB"},
      {GB - 1, "1023 MB"},
      {1536 * MB, "1.500 GB (1536 MB)"},
      {10 * GB - 1, "9.999 GB (10239 MB)"},
      {20 * GB, "20.000 GB"},
      {3000 * GB, "3000.000 GB"},  // no 32-bit overflow
  };
  for (const auto& [n, text] : cases) EXPECT_EQ(SizeText(n), text) << n;
}

TEST(TextsTest, TimingMode) {
  struct Case {
    std::uint16_t w49, w53, w63, w88;
    const char* text;  // nullptr: no DMA
  };
  const Case cases[] = {
      {0x000, 0x4, 0, 0x2000, nullptr},
      {0x100, 0x4, 0, 0x2000, "UDMA mode 5"},
      {0x100, 0x4, 0, 0x4000, "UDMA mode 6"},
      {0x100, 0x4, 0, 0x0400, "UDMA mode 2"},
      {0x100, 0x4, 0, 0x0700, "UDMA mode 2"},
      {0x100, 0x4, 0, 0x0200, "UDMA mode 1"},
      // Below bit 2 the mode is bit 1's, and below bit 10 bit 9's: never mode 0.
      {0x100, 0x4, 0, 0x0100, "UDMA mode 1"},
      {0x100, 0x4, 0, 0x0000, "UDMA mode 1"},
      {0x100, 0x0, 0x400, 0x2000, "DMA mode 2"},
      {0x100, 0x0, 0x200, 0, "DMA mode 1"},
      {0x100, 0x0, 0x100, 0, "DMA mode 1"},
      {0x100, 0x0, 0x000, 0, "DMA mode 1"},
  };
  for (const auto& c : cases) {
    auto t = TimingModeText(c.w49, c.w53, c.w63, c.w88);
    if (!c.text) {
      EXPECT_FALSE(t);
    } else {
      EXPECT_EQ(t.value_or("-"), c.text);
    }
  }
}

TEST(TextsTest, LevelModelAndSmartWords) {
  const char* levels[] = {"STRIPING", "MIRRORING", "STRIPING + MIRRORING", "SPANNING", "PARITY", "DISTRIBUTED PARITY"};
  for (int l = 0; l < 6; ++l) EXPECT_EQ(RaidLevelText(l), levels[l]);
  EXPECT_EQ(RaidLevelText(-1), "UNKNOWN RAID TYPE");
  EXPECT_EQ(RaidLevelText(6), "UNKNOWN RAID TYPE");

  const std::pair<std::uint32_t, const char*> models[] = {
      {0, "Not Found"}, {1, "Marovelt"}, {2, "Marovelt Alder"}, {3, "Marovelt Birch"}, {4, "Marovelt Cedar"},
      {5, "Marovelt-Lite"}, {6, "Marovelt Cedar Slim"}, {7, "Marovelt"}, {8, "Marovelt Fern Lite"},
      {9, "Marovelt Elm"}, {10, "Unknown"}};
  for (const auto& [code, text] : models) EXPECT_EQ(ModelText(code), text);

  EXPECT_EQ(SmartText(1), "Functional");
  EXPECT_EQ(SmartText(2), "Error");
  EXPECT_EQ(SmartText(3), "Not Supported");
  EXPECT_EQ(SmartText(0), "Disabled");
  EXPECT_EQ(SmartText(255), "");
}

TEST(TextsTest, DiskStatusAndRebuild) {
  struct Case {
    std::uint8_t bits;
    bool running;
    std::uint32_t status;
    int rebuild;
  };
  const Case cases[] = {
      {0x03, false, 256, 0},         {0x07, false, 512, 0},        {0x01, false, 0x80000001, 0},
      {0x05, true, 0x80000001, 0},   {0x27, true, 0x80000001, 1},  {0x27, false, 0x80000001, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DiskStatusValue(c.bits), c.status) << int(c.bits);
    EXPECT_EQ(DiskRebuildValue(c.bits, c.running), c.rebuild) << int(c.bits);
  }
}

TEST(TextsTest, ArrayStatusFromFlagsAndActivity) {
  struct Case {
    std::uint8_t flags, activity;
    std::uint32_t status;
  };
  const Case cases[] = {
      {0x0F, 0, kArrayFunctional}, {0x1F, 0, kArrayCritical},  {0x09, 0, kArrayOffline},
      {0x13, 0, kArrayOffline},    {0x0F, 1, kArrayRebuilding}, {0x1F, 2, kArrayRebuilding},
      {0x0F, 3, kArraySynchronising}, {0x0F, 255, kArrayFunctional},
  };
  for (const auto& c : cases) EXPECT_EQ(ArrayStatusValue(c.flags, c.activity), c.status) << int(c.flags) << "/" << int(c.activity);
}

TEST(TextsTest, PciBusArithmetic) {
  EXPECT_EQ(PciCount(25, 8), 6);
  EXPECT_EQ(PciPercent(6, 8), 25);
  EXPECT_EQ(PciPercent(3, 0), 50);
  EXPECT_EQ(PciPercent(1, 3), 66);  // the whole expression is truncated
  EXPECT_EQ(PciPercent(0, 8), 100);
  EXPECT_EQ(PciCount(0, 8), 8);
  EXPECT_EQ(PciCount(100, 8), 0);
  EXPECT_EQ(PciCount(150, 8), 0);  // a percent beyond the range is held to it
  EXPECT_EQ(PciCount(-5, 8), 8);
}

}  // namespace
}  // namespace tirrow
