#include <gtest/gtest.h>

#include "components/ide/driver_event.h"
#include "components/ide/tests/fake_marovelt.h"
#include "platform/testing/temp_root.h"

namespace tirrow {
namespace {

using testing::FakeMarovelt;

EventRecordBytes Record(std::uint32_t code, std::uint32_t category, std::vector<std::uint32_t> words) {
  EventRecordBytes r{};
  Put32(&r[0], code);
  Put32(&r[16], category);
  const int at[] = {20, 24, 28, 36, 40};
  for (std::size_t i = 0; i < words.size(); ++i) Put32(&r[at[i]], words[i]);
  return r;
}

class EventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.SetController(0);
    fake.SetDrive(0, 0, 0, 0, "ST320420A");
    fake.SetDrive(0, 1, 1, 3, "WDC WD200");
    ASSERT_TRUE(driver.ReadDriverState().ok());
  }
  plat::testing::TempRoot root;
  FakeMarovelt fake;
  CMaroveltDriver driver{nullptr};
};

TEST_F(EventTest, EveryDriverCodeInBothLanguages) {
  const std::string d0 = "ST320420A (Channel 1, Master)", d3 = "WDC WD200 (Channel 2, Slave)";
  struct Case {
    std::uint32_t code;
    std::vector<std::uint32_t> words;
    int event;
    const char* title;
    std::string text;
  };
  const Case cases[] = {
      {0x80000004, {0, 0x1234}, 0, "", "ECC Error : Disk " + d0 + " at LBA 0x1234"},
      {0x80000100, {3}, 256, "Drv. Fail", "Disk Set Down : " + d3},
      {0x80000101, {0}, 257, "Dsk. PLUGIN", "Disk Plugged in : " + d0},
      {0x80000102, {3, 0xff}, 258, "Reserved Sector Err.", "Reserved Sector Error : Disk " + d3 + " at LBA 0xff"},
      {0x80000103, {0}, 256, "Drv. Fail", "Disk Offline : " + d0},
      {0x80000104, {1, 0, 0xabc}, 512, "Ary. Bad Sector", "Array 2 has bad sector on Disk " + d0 + " at LBA 0xabc"},
      {0x80000105, {3, 16}, 518, "Retry Task.", "Retry Disk Access : Disk " + d3 + " LBA 0x10"},
      {0x80000204, {3, 16}, 518, "Retry Task.", "Retry Disk Access : Disk " + d3 + " LBA 0x10"},
      {0x40000001, {0, 3}, 513, "Ary. Rebuild", "Disk Rebuild Started : Array 1, Disk " + d3},
      {0x50000001, {1}, 516, "Array Sync.", "Disk Synchronize Started : Array 2"},
      {0x80000200, {0, 3}, 523, "Rebuild Complete", "Array 1, Rebuild Completed on Disk " + d3},
      {0x80000201, {0}, 524, "Sync. Complete", "Array 1, Synchronize Completed"},
      {0x80000202, {0, 3, 42}, 515, "Rebuild Stopped", "Rebuild aborted on array 1, disk " + d3 + ", at 42 percent complete"},
      {0x80000203, {2, 7}, 517, "Sync. Stopped", "Synchronization aborted on array 3, at 7 percent complete"},
      {0x80000205, {0}, 521, "Ary. Down", "Array 1, Status Offline"},
      {0x80000206, {1}, 522, "Ary. Critical", "Array 2, Status Critical"},
      {0x80000207, {0, 0, 1000, 0xc8, 0x51}, 525, "Ary. Disk Error",
       "Array 1, Disk " + d0 + " Disk Media Error at LBA 1000 cmd=0xc8 status=0x51"},
      {0x80000208, {0, 0x20}, 0, "", "Synchronization Comparison Error on Array 1 at LBA 0x20"},
      {0x80000209, {3}, 0, "", "S.M.A.R.T Failure on Disk " + d3},
      {0x8000020A, {}, 0, "", "ECC Error Fix Failed - Uncorrectable Error"},
      {0x8000020B, {1, 0}, 0, "", "Power Down Swap Box in Channel 2, Master"},
      {0x8000020C, {0, 1}, 0, "", "Power up Swap Box in Channel 1, Slave"},
      {0x8000020D, {2, 1}, 0, "",
       "Driver unable to detect drive after swap, Channel 3, Slave. Please Check the Drive Carrier and/or Drive and "
       "Re-try Swap"},
      {0x8000020E, {0, 0, 110}, 526, "Temperture Error",
       "Over Temperature in Swap Enclosure, Channel 1, Master. Temp = 131 \xC2\xB0 F ( 55 \xC2\xB0 C)"},
      {0x8000020F, {1, 0, 0}, 527, "FAN STOPPED", "Fan Stop in Enclosure, Channel 2, Master, RPM = 0"},
      {0x80000210, {0, 0, 13500}, 529, "Voltage Error", "12V Out of Range in Swap Enclosure, Channel 1, Master, 12V=13.5 V"},
      {0x80000211, {0, 1, 4400}, 528, "Voltage Error", "5V Out of Range in Swap Enclosure, Channel 1, Slave, 5V=4.4V"},
      {0x80000212, {3, 0, 800}, 530, "FAN UNDERSPEED", "Fan's speed under 1000 RPM, Channel 4, Master, RPM = 800"},
      {0x80000301, {0, 5}, 0, "", "Address Mark Not Found : Disk " + d0 + " at LBA 0x5"},
      {0x80000302, {0, 5}, 0, "", "Track zero not found : Disk " + d0 + " at LBA 0x5"},
      {0x80000303, {0, 5}, 0, "", "Abort Command: Disk " + d0 + " at LBA 0x5"},
      {0x80000304, {0, 5}, 0, "", "ID Not Found"},
      {0x80000305, {0, 5}, 0, "", "CRC Error : Disk " + d0 + " at LBA 0x5"},
      {0x80000999, {}, 0, "", "Unknown Error, Code = 0x80000999 (new code in driver, update utility)"},
      {0x80000106, {20}, 0, "", "Unknown Error, Code = 0x80000106 (new code in driver, update utility)"},
  };
  for (Language lang : {Language::kEnglish, Language::kJapanese}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << std::hex << c.code << " lang " << std::dec << static_cast<int>(lang));
      auto ev = DecodeDriverEvent(Record(c.code, 1, c.words), driver, lang);
      ASSERT_TRUE(ev);
      EXPECT_EQ(ev->eventCode, c.event);
      EXPECT_EQ(ev->title, c.title);
      EXPECT_EQ(ev->text, c.text);
      EXPECT_EQ(ev->severity, 2);
    }
  }
}

TEST_F(EventTest, RecordsWithoutEventAndSeverityClasses) {
  for (std::uint32_t code : {0x80000001u, 0x80000002u, 0x80000003u}) {
    EXPECT_FALSE(DecodeDriverEvent(Record(code, 0, {}), driver, Language::kEnglish)) << code;
  }
  const std::pair<std::uint32_t, int> classes[] = {{0, 1}, {1, 2}, {2, 3}, {77, 3}};
  for (auto [category, severity] : classes) {
    auto ev = DecodeDriverEvent(Record(0x80000205, category, {0}), driver, Language::kEnglish);
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->severity, severity);
  }
  // An unknown code is class 2 whatever its category.
  EXPECT_EQ(DecodeDriverEvent(Record(0x12345678, 0, {}), driver, Language::kEnglish)->severity, 2);
}

TEST_F(EventTest, SomeCodesReadTheNewStateFirst) {
  fake.ClearRequests();
  (void)DecodeDriverEvent(Record(0x80000100, 0, {0}), driver, Language::kEnglish);
  EXPECT_EQ(fake.CountOf(kMpArrayTable), 1);
  fake.ClearRequests();
  (void)DecodeDriverEvent(Record(0x80000200, 0, {0, 0}), driver, Language::kEnglish);
  EXPECT_EQ(fake.CountOf(kMpArrayTable), 0);
}

TEST(LanguageTest, BothLanguagesCarryTheTexts) {
  for (int id : {2000, 2001, 2013, 2025, 2109}) {
    EXPECT_FALSE(LoadString(id, Language::kEnglish).empty());
    EXPECT_EQ(LoadString(id, Language::kEnglish), LoadString(id, Language::kJapanese));
  }
  EXPECT_TRUE(LoadString(1999, Language::kEnglish).empty());
}

}  // namespace
}  // namespace tirrow
