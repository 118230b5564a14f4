// The texts: hardware version, RAID levels, disk sizes and event messages.
#include <gtest/gtest.h>

#include "components/iop/iop_texts.h"
#include "components/iop/tests/wire_bytes.h"

namespace kelm::iop {
namespace {

TEST(Texts, HardwareVersion) {
  struct Case {
    std::uint32_t word;
    const char* text;
  } cases[] = {
      {0x0000, "ZORA 0 "},                 // family 0, series 0: the model part alone
      {0x0007, "ZORA 7 "},
      {0x0126, "Palindrex QX6000 "},       // the QX series
      {0x0306, "Palindrex 3, ZORA 6 "},    // a family without a series
      {0x0026, "QX6000 "},                 // no family
      {0x0214, "Palindrex RX4000 "},
      {0x0135, "Palindrex SX5000 "},
      {0x01F2, "Palindrex ZORA 2 "},       // an unknown series
  };
  for (const Case& c : cases) EXPECT_EQ(HardwareVersionText(c.word), c.text) << std::hex << c.word;
}

TEST(Texts, RaidModesAndLevelWords) {
  EXPECT_EQ(RaidModeText(0, 2), "RAID0(STRIPING)");
  EXPECT_EQ(RaidModeText(1, 2), "RAID1(MIRROR)");
  EXPECT_EQ(RaidModeText(1, 3), "RAID0+1(STRIPE-MIRRORING)");
  EXPECT_EQ(RaidModeText(2, 3), "RAID3(PARITY-DEDICATED)");
  EXPECT_EQ(RaidModeText(4, 3), "RAID5(PARITY-DISTRIBUTED)");
  EXPECT_EQ(RaidModeText(8, 3), "SPAN");
  EXPECT_EQ(RaidModeText(3, 3), "");
  for (std::uint32_t code : {0u, 2u, 4u, 8u}) EXPECT_EQ(LevelCodeOf(RaidModeText(code, 2)), code);
  EXPECT_EQ(LevelCodeOf("RAID0+1(STRIPE-MIRRORING)"), 1u);
  EXPECT_FALSE(LevelCodeOf("RAID6"));
}

TEST(Texts, DiskSizes) {
  EXPECT_EQ(DiskSizeText(0x1FFFFF), "1024.00 MB");
  EXPECT_EQ(DiskSizeText(0x200000), "1.00 GB");
  EXPECT_EQ(DiskSizeText(2048), "1.00 MB");
  EXPECT_EQ(DiskSizeText(0xFFFFFFFF), "2048.00 GB");
}

std::string Disk(std::uint32_t h) { return "D" + std::to_string(h); }
std::string Array(std::uint32_t h) { return "A" + std::to_string(h); }

TEST(Texts, EventPatterns) {
  struct Case {
    std::uint32_t type;
    std::vector<std::uint32_t> args;
    const char* text;
  } cases[] = {
      {256, {7}, "Drive D7 failed."},
      {521, {3}, "Array A3 was set down."},
      {518, {3, 7}, "Retry drive access in Array A3 Drive D7"},
      {513, {3, 7}, "Rebuild begun on Drive D7 of Array A3."},
      {512, {3, 0x10, 7, 0x20},
       "Array A3 has bad sector at LBA 0x00000010, which is genereated by drive D7 at LBA 0x00000020"},
      {517, {3, 55}, "Synchronization halted by user on Array A3 at 55 percent completed."},
      {517, {3}, "Synchronization halted by user on Array A3 at N/A percent completed."},
      {515, {3, 7, 9}, "Rebuild halted by User on Drive D7 of Array A3."},
      {525, {3, 7, 1, 0xAB, 0x28, 0x51}, "Drive D7 of Array A3 has Read Write Error ch2 LBA=ab cmd=28 Disk Status= 51."},
      {526, {0, 7, 91}, "Over Temp for Enclosure in ch1 for Disk D7. Temp value = 45.500000"},
      {527, {1, 7, 2400}, "Fan Stop for Enclosure in ch2 for Disk D7 RPM = 2400"},
      {528, {2, 7, 5120}, "5V Over/Under Threshold for ch 3 for Disk D7 5V = 5.120 V"},
      {529, {2, 7, 11900}, "12V Over/Under Threshold for ch 3 for Disk D7 12V = 11.900 V"},
      // Arguments the record does not carry read as 0.
      {512, {3}, "Array A3 has bad sector at LBA 0x00000000, which is genereated by drive D0 at LBA 0x00000000"},
      {525, {}, "Drive D0 of Array A0 has Read Write Error ch1 LBA=0 cmd=0 Disk Status= 0."},
      {600, {1, 2}, ""},
  };
  for (const Case& c : cases) {
    ControllerEvent e{c.type, 0, 2, c.args};
    for (int language : {1033, 2057})
      EXPECT_EQ(EventMessage(e, language, Disk, Array), c.text) << c.type << " in " << language;
  }
}

TEST(Texts, TitlesInBothLanguages) {
  EXPECT_EQ(LoadString(EventTextsOf(513).title, 1033), "Rebuild Begin.");
  EXPECT_EQ(LoadString(EventTextsOf(513).title, 2057), "Rebuild Begun");
  EXPECT_EQ(LoadString(EventTextsOf(514).title, 1033), "Array Rebuild Begun");
  EXPECT_EQ(LoadString(EventTextsOf(514).title, 2057), "Automatic Rebuild Begun");
  EXPECT_EQ(LoadString(EventTextsOf(523).title, 2057), "Rebuild Completed");
  EXPECT_EQ(LoadString(EventTextsOf(524).title, 1033), "Synchronization Completed");
  EXPECT_EQ(LoadString(EventTextsOf(600).title, 1033), "");
}

TEST(Texts, FirstEventIsBounded) {
  using testing::Le32;
  EXPECT_FALSE(FirstEvent(Le32({256, 0, 2})));
  EXPECT_FALSE(FirstEvent(Le32({256, 0, 2, 3, 1})));
  auto e = FirstEvent(Le32({256, 0, 2, 1, 9, 999}));
  ASSERT_TRUE(e);
  EXPECT_EQ(e->args, std::vector<std::uint32_t>{9});
  EXPECT_EQ(e->severity, 2u);
}

}  // namespace
}  // namespace kelm::iop
