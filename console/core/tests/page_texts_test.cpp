// The page texts, checks and binary records, as tables of the values read.
#include <gtest/gtest.h>

#include "console/core/pages/module_list.h"
#include "console/core/pages/page_texts.h"
#include "console/core/strings.h"

namespace kelm::console::pages {
namespace {

TEST(PageTexts, ArrayStatus) {
  struct Case {
    std::uint32_t status;
    int percent;
    bool serial;
    const char* text;
  } cases[] = {
      {0x100, 37, false, "Synchronizing 37%"}, {0x200, 150, false, "Rebuilding 0%"}, {0x300, 5, false, "Expanding 5%"},
      {0, 0, false, "Functional"},             {0x80000001, 0, false, "Critical"},   {0x80000002, 0, false, "Offline"},
      {0x400, 20, false, ""},                  {0x400, 20, true, "Converting 20%"},  {0x500, 3, true, "Initializing 3%"},
      {0x200, 150, true, "Rebuilding 0%"},     {0x600, 1, true, ""},                 {0x200, -4, true, "Rebuilding 0%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ArrayStatusText(static_cast<int>(c.status), c.percent, c.serial), c.text) << std::hex << c.status;
  }
}

TEST(PageTexts, ArraySizeIsUnsigned) {
  EXPECT_EQ(ArraySizeText(2097152), "1024 MB (1.000 GB)");
  EXPECT_EQ(ArraySizeText(2095104), "1023 MB");
  EXPECT_EQ(ArraySizeText(2047), "0 MB");
  EXPECT_EQ(ArraySizeText(0x80000000u), "1048576 MB (1024.000 GB)");
  EXPECT_EQ(ArraySizeText(4294967295u), "2097151 MB (2047.999 GB)");
}

TEST(PageTexts, CountChecks) {
  struct Case {
    const char* level;
    std::size_t n;
    bool serial;
    int id;
  } cases[] = {
      {"RAID0(STRIPING)", 0, false, 134},
      {"RAID0(STRIPING)", 1, false, 0},
      {"RAID1(MIRROR)", 3, false, 135},
      {"RAID1(MIRROR)", 2, false, 0},
      {"RAID0+1(STRIPE-MIRRORING)", 5, false, 136},
      {"RAID0+1(STRIPE-MIRRORING)", 0, false, 136},
      {"RAID0+1(STRIPE-MIRRORING)", 4, false, 0},
      {"RAID0+1(STRIPE-MIRRORING)", 8, false, 0},
      {"RAID3(PARITY-DEDICATED)", 2, false, 137},
      {"RAID5(PARITY-DISTRIBUTED)", 3, false, 0},
      {"SPAN", 0, false, 138},
      {"SPAN", 1, true, 0},
      {"RAID30", 6, false, 139},  // the intelligent-I/O family has no RAID30
      {"RAID30", 5, true, 61217},
      {"RAID50", 6, true, 0},
      {"RAID7", 3, true, 139},
  };
  for (const Case& c : cases) EXPECT_EQ(ArrayCountCheck(c.level, c.n, c.serial), c.id) << c.level << " " << c.n;
}

TEST(PageTexts, BlockAndNameChecks) {
  for (int b : {2, 4, 8, 16, 32, 64}) EXPECT_TRUE(BlockSizeValid(b)) << b;
  for (int b : {0, 1, 3, 6, 128, -64}) EXPECT_FALSE(BlockSizeValid(b)) << b;
  EXPECT_EQ(BlockSizeToSend("RAID1(MIRROR)", 16), 64);
  EXPECT_EQ(BlockSizeToSend("RAID0+1(STRIPE-MIRRORING)", 8), 64);
  EXPECT_EQ(BlockSizeToSend("SPAN", 2), 64);
  EXPECT_EQ(BlockSizeToSend("RAID5(PARITY-DISTRIBUTED)", 16), 16);
  EXPECT_TRUE(ArrayNameValid("NAME"));
  EXPECT_TRUE(ArrayNameValid("12345678901234567890"));
  EXPECT_FALSE(ArrayNameValid("123456789012345678901"));
  EXPECT_FALSE(ArrayNameValid("a@b"));
  EXPECT_FALSE(ArrayNameValid("\"quoted"));
  EXPECT_TRUE(ArrayNameValid("a\"b"));
}

TEST(PageTexts, ControllerTexts) {
  const char* names[] = {"Intel 80960 series", "AMD 29000 series", "Motorola 68000 series",
                         "ARM series",         "MIPS series",      "Sparc series",
                         "PowerPC series",     "Alpha series",     "Intel x86 series"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(ProcessorName(i), names[i]);
  EXPECT_EQ(ProcessorName(-1), "-----------");
  EXPECT_EQ(ProcessorName(9), "-----------");
  EXPECT_EQ(MegabytesText(67108864), "64.00");

  struct Case {
    int flush, start, stop, id;
  } cases[] = {{10, 50, 45, 193}, {10, 95, 10, 193}, {10, 9, 0, 193}, {30, 60, 40, 202},
               {-1, 60, 40, 202}, {10, 60, 40, 0},   {0, 10, 0, 0},   {10, 90, 80, 0}};
  for (const Case& c : cases) EXPECT_EQ(CachePolicyCheck(c.flush, c.start, c.stop), c.id) << c.start << "/" << c.stop;
  EXPECT_EQ(CachePolicyArgument(10, 60, 40), "CacheFlushFrequency@10@DirtyThresholdStart@60@DirtyThresholdStop@40");
}

TEST(PageTexts, DiskTexts) {
  struct Case {
    std::uint32_t status;
    const char* text;
    const char* config;
  } cases[] = {
      {0x80000201, "Warning  (Rebuilding)", "Assigned to an array"},
      {0x80000001, "Warning", "-----------"},
      {0x80000002, "Error", "-----------"},
      {0x100, "Functional", "Free"},
      {0x300, "Functional", "Free"},
      {0x200, "Functional", "Assigned to an array"},
      {0xFFFFFFFF, "-----------", "-----------"},
      {0x7, "-----------", "-----------"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DiskStatusText(static_cast<int>(c.status)), c.text) << std::hex << c.status;
    EXPECT_EQ(DiskConfigText(static_cast<int>(c.status)), c.config) << std::hex << c.status;
  }
  EXPECT_EQ(DiskModeText(static_cast<int>(0x80000005u)), "UDMA-5");
  EXPECT_EQ(DiskModeText(2), "DMA-2");
  EXPECT_EQ(DiskModeText(-1), "-----------");
  EXPECT_EQ(DiskSmartText(0, 1), "N/A");
  EXPECT_EQ(DiskSmartText(99, 1), "N/A");
  EXPECT_EQ(DiskSmartText(1, 1), "Functional");
  EXPECT_EQ(DiskSmartText(1, 0), "Disabled");
  EXPECT_EQ(kColourGreen, 0x00B400u);
  EXPECT_EQ(kColourRed, 0x0000FFu);
  EXPECT_EQ(kColourValue, 0x8B4A2Fu);
}

TEST(PageTexts, Temperatures) {
  EXPECT_EQ(SensorTempText(100), "Temp:  122.0\xC2\xB0" "F/ 50.0\xC2\xB0" "C");
  EXPECT_EQ(BoxTempText(100), "Temp: 122.0 F/ 50.0 C");
  EXPECT_EQ(SensorTempText(0), "Error");
  EXPECT_EQ(BoxTempText(-3), "Error");
  EXPECT_EQ(TempLabel(25), "Temp: 77.0 F/ 25.0 C");
  struct Case {
    double c;
    int picture;
  } cases[] = {{0, 193}, {-1, 193}, {0.5, 189}, {50, 189}, {60, 189}, {61, 191}, {95, 191}, {96, 190}};
  for (const Case& c : cases) EXPECT_EQ(TempPicture(c.c), c.picture) << c.c;
}

TEST(PageTexts, EnclosureValues) {
  EXPECT_EQ(EnclosureFanState(51), FanState::Working);
  EXPECT_EQ(EnclosureFanState(50), FanState::Error);
  EXPECT_EQ(EnclosureFanState(0), FanState::Error);
  EXPECT_EQ(EnclosureFanState(-1), FanState::Absent);
  EXPECT_EQ(EnclosureFanState(-2), FanState::Absent);
  struct Case {
    int type;
    const char* kind;
  } kinds[] = {{0, "Brindle66"}, {1, "Corvane"}, {0x10, "OEM"}, {0x11, "Sorventic"}, {0x2, "Error"},
               {0x24, "Brindle66"}, {0x31, "Sorventic"}};
  for (const Case& c : kinds) EXPECT_EQ(EnclosureKindText(c.type), c.kind) << c.type;
  EXPECT_EQ(SupplyText(5000), "5.00");
  EXPECT_EQ(SupplyText(12040), "12.04");
  EXPECT_EQ(SupplyText(-1), "Error");
}

TEST(PageTexts, SerialBoxLines) {
  EXPECT_EQ(SerialTempLine(1, -1), "Error");
  EXPECT_EQ(SerialTempLine(2, 40), "2) Temp: 104.0 F/ 40.0 C");
  EXPECT_EQ(SerialVoltLine("5V", 5020), "Voltage 5V=5.02");
  EXPECT_EQ(SerialVoltLine("12V", 12040), "Voltage 12V=12.04");
  EXPECT_EQ(SerialVoltLine("5V", -1), "Error");
  struct Case {
    int index, rpm;
    bool shown, alarm;
    const char* text;
  } fans[] = {{3, 30, true, true, "3) Error"}, {1, 50, true, false, "1) RPM: 50"}, {2, 49, true, true, "2) Error"},
              {4, 0, true, true, "4) Error"},  {8, -1, false, false, ""}};
  for (const Case& c : fans) {
    const FanLine line = SerialFanLine(c.index, c.rpm);
    EXPECT_EQ(line.shown, c.shown) << c.rpm;
    EXPECT_EQ(line.alarm, c.alarm) << c.rpm;
    EXPECT_EQ(line.text, c.text) << c.rpm;
  }
}

// Builds module records as the controller gives them.
struct Records {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(12, 0);
  void Count(int n) {
    bytes[8] = static_cast<std::uint8_t>(n);
    bytes[9] = static_cast<std::uint8_t>(n >> 8);
  }
  void Add(const std::string& name, const std::string& version, const std::string& date, std::int32_t size) {
    std::vector<std::uint8_t> r(40, 0);
    std::copy(name.begin(), name.end(), r.begin());
    std::copy(version.begin(), version.end(), r.begin() + 24);
    std::copy(date.begin(), date.end(), r.begin() + 28);
    for (int i = 0; i < 4; ++i) r[36 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(size) >> (8 * i));
    bytes.insert(bytes.end(), r.begin(), r.end());
  }
};

std::string Row(const ModuleRow& r) { return r.name + " | " + r.version + " | " + r.date + " | " + r.size; }

TEST(ModuleList, RowsWithinTheBytesRead) {
  Records m;
  m.Count(2);
  m.Add("FIRMWARE", "0102", "12312001", 524288);
  m.Add("(PARAMETER Block)", "0001", "01012000", 64);
  auto rows = DecodeModuleList(m.bytes);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Row(rows[0]), "FIRMWARE | 0102 | 31/12/2001 | 524288");

  Records three;  // the count promises three; only two are there
  three.Count(3);
  three.Add("BOOT", "0100", "01022003", 1024);
  three.Add("BIOS", "0200", "01022003", 2048);
  three.bytes.resize(three.bytes.size() + 39, 'x');  // a torn third record
  EXPECT_EQ(DecodeModuleList(three.bytes).size(), 2u);

  Records odd;  // unprintable version and date bytes show as blanks; the name ends at its NUL
  odd.Count(1);
  odd.Add(std::string("AB\0CD", 5), std::string("0\x01" "2\xFF", 4), std::string("1231\0" "001", 8), -1);
  rows = DecodeModuleList(odd.bytes);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Row(rows[0]), "AB | 0 2  | 31/12/ 001 | -1");

  EXPECT_TRUE(DecodeModuleList({}).empty());
  EXPECT_TRUE(DecodeModuleList(std::vector<std::uint8_t>(11, 1)).empty());
}

TEST(ModuleList, Quorlin) {
  std::vector<std::uint8_t> q(32, 0);
  const std::string name = "PX0126-10000";
  std::copy(name.begin(), name.end(), q.begin());
  const std::string version = "A1B2";
  std::copy(version.begin(), version.end(), q.begin() + 24);
  q[28] = 0x00;
  q[29] = 0x10;  // 4096
  auto row = DecodeQuorlin(q);
  ASSERT_TRUE(row);
  EXPECT_EQ(Row(*row), "PX0126-10000 | A1B2 |  | 4096");
  q.pop_back();
  EXPECT_FALSE(DecodeQuorlin(q));
}

}  // namespace
}  // namespace kelm::console::pages
