#include "components/ide/driver_event.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "components/ide/ide_log.h"

namespace tirrow {

namespace {

struct StringEntry {
  int id;
  const char* text;
};

// The texts are the same in both languages the component carries.
constexpr StringEntry kStrings[] = {
    {2000, "Unknown Error, Code = 0x%x (new code in driver, update utility)"},
    {2001, "ECC Error : Disk %s at LBA 0x%x"},
    {2002, "Disk Set Down : %s"},
    {2003, "Disk Offline : %s"},
    {2004, "Disk Plugged in : %s"},
    {2005, "Array %d has bad sector on Disk %s at LBA 0x%x"},
    {2006, "Disk Rebuild Started : Array %d, Disk %s"},
    {2007, "Disk Synchronize Started : Array %d"},
    {2008, "Retry Disk Access : Disk %s LBA 0x%x"},
    {2009, "Array %d, Status Offline"},
    {2010, "Array %d, Status Critical"},
    {2011, "Array %d, Rebuild Completed on Disk %s"},
    {2012, "Array %d, Synchronize Completed"},
    {2013, "Array %d, Disk %s Disk Media Error at LBA %d cmd=0x%x status=0x%x"},
    {2014, "Reserved Sector Error : Disk %s at LBA 0x%x"},
    {2015, "Rebuild aborted on array %d, disk %s, at %d percent complete"},
    {2016, "Synchronization aborted on array %d, at %d percent complete"},
    {2018, "S.M.A.R.T Failure on Disk %s"},
    {2020, "ECC Error Fix Failed - Uncorrectable Error"},
    {2021, "Synchronization Comparison Error on Array %d at LBA 0x%x"},
    {2022, "Power Down Swap Box in Channel %d, %s"},
    {2023, "Power up Swap Box in Channel %d, %s"},
    {2024,
     "Driver unable to detect drive after swap, Channel %d, %s. Please Check the Drive Carrier and/or Drive and "
     "Re-try Swap"},
    {2025, "Over Temperature in Swap Enclosure, Channel %d, %s. Temp = %g \xC2\xB0 F ( %g \xC2\xB0 C)"},
    {2026, "Fan Stop in Enclosure, Channel %d, %s, RPM = %d"},
    {2027, "12V Out of Range in Swap Enclosure, Channel %d, %s, 12V=%g V"},
    {2028, "5V Out of Range in Swap Enclosure, Channel %d, %s, 5V=%gV"},
    {2029, "Address Mark Not Found : Disk %s at LBA 0x%x"},
    {2030, "Track zero not found : Disk %s at LBA 0x%x"},
    {2031, "Abort Command: Disk %s at LBA 0x%x"},
    {2032, "ID Not Found"},
    {2033, "CRC Error : Disk %s at LBA 0x%x"},
    {2109, "Fan's speed under 1000 RPM, Channel %d, %s, RPM = %d"},
};

// What the arguments of a text are, in order.
enum class Args {
  kNone,
  kDisk,                // disk
  kDiskLba,             // disk, LBA
  kArray,               // array
  kArrayDisk,           // array, disk
  kArrayDiskLba,        // array, disk, LBA
  kArrayDiskPercent,    // array, disk, percent
  kArrayPercent,        // array, percent
  kArrayLba,            // array, LBA
  kMediaError,          // array, disk, LBA (decimal), command, status
  kChannelDevice,       // channel, device
  kChannelDeviceValue,  // channel, device, value
  kTemperature,         // channel, device, Fahrenheit, Celsius
  kVoltage,             // channel, device, volts
};

struct CodeEntry {
  std::uint32_t driverCode;
  int eventCode;
  const char* title;
  int textId;  // 0: the code carries no event
  Args args;
  bool reread;
};

constexpr CodeEntry kCodes[] = {
    {0x80000001, 0, "", 0, Args::kNone, false},
    {0x80000002, 0, "", 0, Args::kNone, false},
    {0x80000003, 0, "", 0, Args::kNone, false},
    {0x80000004, 0, "", 2001, Args::kDiskLba, false},
    {0x80000100, 256, "Drv. Fail", 2002, Args::kDisk, true},
    {0x80000101, 257, "Dsk. PLUGIN", 2004, Args::kDisk, true},
    {0x80000102, 258, "Reserved Sector Err.", 2014, Args::kDiskLba, false},
    {0x80000103, 256, "Drv. Fail", 2003, Args::kDisk, true},
    {0x80000104, 512, "Ary. Bad Sector", 2005, Args::kArrayDiskLba, false},
    {0x80000105, 518, "Retry Task.", 2008, Args::kDiskLba, true},
    {0x80000204, 518, "Retry Task.", 2008, Args::kDiskLba, true},
    {0x40000001, 513, "Ary. Rebuild", 2006, Args::kArrayDisk, true},
    {0x50000001, 516, "Array Sync.", 2007, Args::kArray, false},
    {0x80000200, 523, "Rebuild Complete", 2011, Args::kArrayDisk, false},
    {0x80000201, 524, "Sync. Complete", 2012, Args::kArray, false},
    {0x80000202, 515, "Rebuild Stopped", 2015, Args::kArrayDiskPercent, true},
    {0x80000203, 517, "Sync. Stopped", 2016, Args::kArrayPercent, false},
    {0x80000205, 521, "Ary. Down", 2009, Args::kArray, true},
    {0x80000206, 522, "Ary. Critical", 2010, Args::kArray, true},
    {0x80000207, 525, "Ary. Disk Error", 2013, Args::kMediaError, true},
    {0x80000208, 0, "", 2021, Args::kArrayLba, false},
    {0x80000209, 0, "", 2018, Args::kDisk, false},
    {0x8000020A, 0, "", 2020, Args::kNone, false},
    {0x8000020B, 0, "", 2022, Args::kChannelDevice, false},
    {0x8000020C, 0, "", 2023, Args::kChannelDevice, false},
    {0x8000020D, 0, "", 2024, Args::kChannelDevice, false},
    {0x8000020E, 526, "Temperture Error", 2025, Args::kTemperature, false},
    {0x8000020F, 527, "FAN STOPPED", 2026, Args::kChannelDeviceValue, false},
    {0x80000210, 529, "Voltage Error", 2027, Args::kVoltage, false},
    {0x80000211, 528, "Voltage Error", 2028, Args::kVoltage, false},
    {0x80000212, 530, "FAN UNDERSPEED", 2109, Args::kChannelDeviceValue, false},
    {0x80000301, 0, "", 2029, Args::kDiskLba, false},
    {0x80000302, 0, "", 2030, Args::kDiskLba, false},
    {0x80000303, 0, "", 2031, Args::kDiskLba, false},
    {0x80000304, 0, "", 2032, Args::kNone, false},
    {0x80000305, 0, "", 2033, Args::kDiskLba, false},
};

std::string Hex(std::uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%x", v);
  return b;
}
std::string Dec(long long v) { return std::to_string(v); }
std::string General(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%g", v);
  return b;
}

// Puts the rendered arguments in place of the text's conversions, in order; a conversion without
// an argument is left out.
std::string Fill(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    if (format[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    ++i;
    if (next < args.size()) out += args[next++];
  }
  return out;
}

std::string DeviceWord(std::uint32_t device) { return device == 0 ? "Master" : "Slave"; }

}  // namespace

Language ProcessLanguage() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (!v || !*v) continue;
    return std::string_view(v).substr(0, 2) == "ja" ? Language::kJapanese : Language::kEnglish;
  }
  return Language::kEnglish;
}

std::string LoadString(int id, Language language) {
  (void)language;  // both languages carry these texts alike
  for (const auto& e : kStrings) {
    if (e.id == id) return e.text;
  }
  return {};
}

std::optional<DecodedEvent> DecodeDriverEvent(const EventRecordBytes& r, CMaroveltDriver& driver, Language language) {
  const std::uint32_t code = Get32(&r[0]);
  const std::uint32_t category = Get32(&r[16]);
  const std::uint32_t a0 = Get32(&r[20]), a1 = Get32(&r[24]), a2 = Get32(&r[28]);
  const std::uint32_t a3 = Get32(&r[36]), a4 = Get32(&r[40]);

  const CodeEntry* entry = nullptr;
  for (const auto& e : kCodes) {
    if (e.driverCode == code) entry = &e;
  }
  DecodedEvent ev;
  if (!entry) {
    ev.severity = 2;
    ev.text = Fill(LoadString(2000, language), {Hex(code)});
    return ev;
  }
  if (entry->textId == 0) return std::nullopt;
  if (entry->reread) OkOrLogOnce(driver.ReadDriverState(), "Read driver tables - driver request failed");
  ev.eventCode = entry->eventCode;
  ev.severity = category == 0 ? 1 : category == 1 ? 2 : 3;
  ev.title = entry->title;

  auto disk = [&](std::uint32_t index) { return driver.DiskDisplayName(static_cast<int>(index)); };
  auto shown = [](std::uint32_t n) { return Dec(static_cast<long long>(n) + 1); };  // arrays and channels count from 1
  std::vector<std::string> args;
  switch (entry->args) {
    case Args::kNone: break;
    case Args::kDisk: args = {disk(a0)}; break;
    case Args::kDiskLba: args = {disk(a0), Hex(a1)}; break;
    case Args::kArray: args = {shown(a0)}; break;
    case Args::kArrayDisk: args = {shown(a0), disk(a1)}; break;
    case Args::kArrayDiskLba: args = {shown(a0), disk(a1), Hex(a2)}; break;
    case Args::kArrayDiskPercent: args = {shown(a0), disk(a1), Dec(std::min(a2, 100u))}; break;
    case Args::kArrayPercent: args = {shown(a0), Dec(std::min(a1, 100u))}; break;
    case Args::kArrayLba: args = {shown(a0), Hex(a1)}; break;
    case Args::kMediaError: args = {shown(a0), disk(a1), Dec(static_cast<std::int32_t>(a2)), Hex(a3), Hex(a4)}; break;
    case Args::kChannelDevice: args = {shown(a0), DeviceWord(a1)}; break;
    case Args::kChannelDeviceValue: args = {shown(a0), DeviceWord(a1), Dec(static_cast<std::int32_t>(a2))}; break;
    case Args::kTemperature: {
      const double celsius = static_cast<std::int32_t>(a2) * 0.5;
      args = {shown(a0), DeviceWord(a1), General(celsius * 1.8 + 32), General(celsius)};
      break;
    }
    case Args::kVoltage:  // the driver reports millivolts
      args = {shown(a0), DeviceWord(a1), General(static_cast<std::int32_t>(a2) / 1000.0)};
      break;
  }
  ev.text = Fill(LoadString(entry->textId, language), args);
  return ev;
}

}  // namespace tirrow
