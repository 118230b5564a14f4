// The serial family's tables: modes, sizes, status words, event titles and argument readers.
#include <gtest/gtest.h>

#include "components/serial/serial_texts.h"
#include "components/serial/tests/mode_rows.h"

using namespace kelm::brask;

namespace {

TEST(SerialTexts, ModeNamesMapToTheLibraryIndexAndBack) {
  for (const auto& r : kelm::brask_tables::kModeRows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(LibraryModeIndex(r.name), r.index);
    EXPECT_EQ(ModeNameOfLibraryIndex(r.index), r.name) << "the way back gives the same name";
  }
  for (const char* bad : {"", "raid5", "RAID5", "RAID0(STRIPING) ", "SPAN\n"})
    EXPECT_FALSE(LibraryModeIndex(bad)) << bad;
  EXPECT_FALSE(ModeNameOfLibraryIndex(-1));
  EXPECT_FALSE(ModeNameOfLibraryIndex(8));
}

TEST(SerialTexts, SizeText) {
  EXPECT_EQ(SizeText(2500), "2.441 GB (2500 MB)");
  EXPECT_EQ(SizeText(0), "0 MB");
  EXPECT_EQ(SizeText(1023), "1023 MB");
  EXPECT_EQ(SizeText(1024), "1.000 GB (1024 MB)");
  EXPECT_EQ(SizeText(1025), "1.000 GB (1025 MB)") << "thousandths are cut, not rounded";
  EXPECT_EQ(SizeText(76319), "74.530 GB (76319 MB)");
  EXPECT_EQ(SizeText(2097151), "2047.999 GB (2097151 MB)") << "the largest a 32-bit sector count gives";
}

TEST(SerialTexts, ArrayStatusFromStateAndActivity) {
  const std::int32_t critical = static_cast<std::int32_t>(0x80000001u);
  const std::int32_t offline = static_cast<std::int32_t>(0x80000002u);
  const struct {
    int state, activity;
    std::optional<std::int32_t> status;
    int throttle;
  } rows[] = {
      {0, -1, 0, 2},
      {1, -1, critical, 2},
      {2, -1, offline, 2},
      {1, 1, 0x200, 1},
      {1, 2, 0x200, 1},
      {1, 3, 0x100, 1},
      {1, 4, 0x300, 1},
      {1, 5, 0x400, 1},
      {1, 6, 0x500, 2},
      {-1, -1, std::nullopt, 2},  // an unknown state word shows nothing new
      {-1, 7, std::nullopt, 2},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.state << "/" << r.activity);
    ArrayStatus s = ArrayStatusOf(r.state, r.activity);
    EXPECT_EQ(s.status, r.status);
    EXPECT_EQ(s.throttle, r.throttle);
  }
}

TEST(SerialTexts, DiskStatusSmartAndTiming) {
  const std::int32_t critical = static_cast<std::int32_t>(0x80000001u);
  const std::int32_t offline = static_cast<std::int32_t>(0x80000002u);
  const struct {
    int status, second;
    std::int32_t value;
  } rows[] = {{0, -1, 0x200},    {2, -1, 0x200}, {1, -1, critical}, {3, 1, offline}, {4, 1, offline},
              {-1, -1, offline}, {-1, 0, 0x100}, {4, 0, 0x100},     {0, 2, 0x100},   {1, 1, critical}};
  for (const auto& r : rows) EXPECT_EQ(DiskStatusOf(r.status, r.second), r.value) << r.status << "/" << r.second;

  EXPECT_EQ(SmartText(0), "Functional");
  EXPECT_EQ(SmartText(1), "Error");
  EXPECT_EQ(SmartText(2), "Not Supported");
  EXPECT_EQ(SmartText(3), "Disabled");
  EXPECT_EQ(SmartText(4), "Disabled");
  EXPECT_EQ(SmartText(-1), "Disabled");

  const char* timing[] = {"UDMA Mode 4", "UDMA Mode 3", "UDMA Mode 2", "UDMA Mode 1", "UDMA Mode 0",
                          "DMA Mode 2",  "DMA Mode 1",  "DMA Mode 0",  "UDMA Mode 5", "UDMA Mode 6"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(TimingModeText(i), timing[i]);
  EXPECT_EQ(TimingModeText(10), "Unknown");
  EXPECT_EQ(TimingModeText(-1), "Unknown");
}

TEST(SerialTexts, HardwareVersion) {
  const struct {
    int type, fans, channels;
    const char* text;
  } rows[] = {
      {4, 2, 6, "Sorventic Kestle"}, {4, 2, 8, "Sorventic Kestle"}, {4, 3, 8, "Sorventic QX8000"},
      {4, 1, 4, "Sorventic QX4000"}, {3, 2, 8, "Sorventic QX8000"}, {4, 0, 6, "Sorventic QX"},
      {4, 8, 2, "Sorventic QX"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(HardwareVersionText(r.type, r.fans, r.channels), r.text) << r.type << "/" << r.fans << "/" << r.channels;
}

TEST(SerialTexts, EventKindsAndTheirTitles) {
  const struct {
    int kind, code;
    const char* title;
  } rows[] = {
      {1, 256, "Disk Down"},
      {2, 257, "Disk Plugin"},
      {3, 258, "Bad Sector"},
      {4, 513, "Array Rebld. Started"},
      {5, 516, "Array Sync. Started"},
      {6, 518, "Task Retry"},
      {7, 522, "Array Degraded"},
      {26, 522, "Array Degraded"},
      {8, 521, "Array Offline"},
      {9, 523, "Array Rebld. Completed"},
      {10, 524, "Array Sync. Completed"},
      {13, 515, "Array Rebld. Aborted"},
      {14, 517, "Array Sync. Aborted"},
      {19, 99, "Enclosure Error"},
      {20, 526, "Enclosure Over Temp."},
      {21, 527, "Enclosure Fan Stopped"},
      {24, 519, "Array Created"},
      {25, 520, "Array Deleted"},
      {27, 521, "Array Operation Err."},
      {28, 519, "Array Conv/Expan."},
      {29, 99, "Connection Lost"},
  };
  for (const auto& r : rows) {
    auto t = TranslateEventKind(r.kind);
    ASSERT_TRUE(t) << r.kind;
    EXPECT_EQ(t->code, r.code) << r.kind;
    EXPECT_EQ(t->title, r.title) << r.kind;
  }
  for (int kind : {11, 12, -1, 0, 15, 16, 17, 18, 22, 23, 30}) EXPECT_FALSE(TranslateEventKind(kind)) << kind;
}

TEST(SerialTexts, StrictReaders) {
  EXPECT_EQ(StrictNumber("0", 254), 0);
  EXPECT_EQ(StrictNumber("254", 254), 254);
  for (const char* bad : {"", "255", "-1", "+1", " 1", "1 ", "0x10", "1a", "99999999999"})
    EXPECT_FALSE(StrictNumber(bad, 254)) << "'" << bad << "'";

  using V = std::vector<std::string>;
  EXPECT_EQ(StrictDiskList(V{"2", "4", "5"}, 0), (std::vector<int>{4, 5}));
  EXPECT_EQ(StrictDiskList(V{"x", "1", "0", "254", "extra"}, 1), (std::vector<int>{0}));
  const V refused[] = {
      {},          {""},        {"abc", "1"}, {"0"}, {"33", "1"}, {"3", "1", "2"}, {"2", "1", ""}, {"2", "1", "255"},
      {"1", "-1"}, {"1", " 7"},
  };
  for (const auto& v : refused) EXPECT_FALSE(StrictDiskList(v, 0)) << ::testing::PrintToString(v);
  V many{"32"};
  for (int i = 0; i < 32; ++i) many.push_back(std::to_string(i));
  EXPECT_EQ(StrictDiskList(many, 0)->size(), 32u);

  EXPECT_EQ(LenientNumber(" 12abc"), 12);
  EXPECT_EQ(LenientNumber("-3"), -3);
  EXPECT_EQ(LenientNumber("x"), 0);
  EXPECT_EQ(LenientNumber("99999999999"), INT32_MAX);
}

}  // namespace
