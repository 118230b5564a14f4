#include "console/core/pages/page_texts.h"

#include "console/core/array_action.h"
#include "console/core/strings.h"
#include "platform/base/format.h"

namespace kelm::console::pages {
namespace {

std::string Str(int id) { return std::string(LoadString(id)); }

int TaskWord(int status, bool withSerialTasks) {
  switch (status & 0xFF00) {
    case 0x100:
      return kStrSynchronizing;
    case 0x200:
      return kStrRebuilding;
    case 0x300:
      return kStrExpanding;
    case 0x400:
      return withSerialTasks ? kStrConverting : 0;
    case 0x500:
      return withSerialTasks ? kStrInitializing : 0;
    default:
      return 0;
  }
}

const char kDegree[] = "\xC2\xB0";

}  // namespace

const char kBadArrayNameText[] =
    "The array name must have at most 20 characters, no '@', and must not start with '\"'.";

std::string ArrayStatusText(int status, int percent, bool withSerialTasks) {
  if (const int word = TaskWord(status, withSerialTasks)) {
    if (percent > 100 || percent < 0) percent = 0;
    return plat::format("%s %i%%", Str(word).c_str(), percent);
  }
  switch (static_cast<std::uint32_t>(status)) {
    case 0:
      return Str(kStrFunctional);
    case 0x80000001u:
      return Str(kStrCritical);
    case 0x80000002u:
      return Str(kStrOffline);
    default:
      return {};
  }
}

std::string ArraySizeText(std::uint32_t sectors) {
  const std::uint64_t mb = static_cast<std::uint64_t>(sectors) / 2048;
  const auto mbText = std::to_string(mb);
  if (mb >= 1024) return plat::format("%s MB (%.3f GB)", mbText.c_str(), static_cast<double>(mb) / 1024.0);
  return mbText + " MB";
}

int ArrayCountCheck(std::string_view level, std::size_t n, bool serial) {
  if (level == "RAID0(STRIPING)") return n >= 1 ? 0 : kStrRaid0Count;
  if (level == "RAID1(MIRROR)") return n == 2 ? 0 : kStrRaid1Count;
  if (level == "RAID0+1(STRIPE-MIRRORING)") return n >= 4 && n % 4 == 0 ? 0 : kStrRaid01Count;
  if (level == "RAID3(PARITY-DEDICATED)" || level == "RAID5(PARITY-DISTRIBUTED)") return n >= 3 ? 0 : kStrRaid35Count;
  if (serial && (level == "RAID30" || level == "RAID50")) return n >= 6 ? 0 : kStrRaid3050Count;
  if (level == "SPAN") return n >= 1 ? 0 : kStrSpanCount;
  return kStrUnknownLevel;
}

bool BlockSizeValid(int block) {
  for (int b = 2; b <= 64; b *= 2) {
    if (block == b) return true;
  }
  return false;
}

int BlockSizeToSend(std::string_view level, int block) {
  if (level == "RAID1(MIRROR)" || level == "RAID0+1(STRIPE-MIRRORING)" || level == "SPAN") return 64;
  return block;
}

bool LevelTakesOptions(std::string_view level) { return level != "RAID0(STRIPING)" && level != "SPAN"; }

bool ArrayNameValid(std::string_view name) {
  return name.size() <= 20 && name.find('@') == std::string_view::npos && !(!name.empty() && name.front() == '"');
}

bool SerialLevelFixed(std::string_view level) { return level == "RAID30" || level == "RAID50" || level == "SPAN"; }

std::string ProcessorName(int type) {
  static constexpr const char* kNames[] = {"Intel 80960 series", "AMD 29000 series", "Motorola 68000 series",
                                           "ARM series",         "MIPS series",      "Sparc series",
                                           "PowerPC series",     "Alpha series",     "Intel x86 series"};
  if (type >= 0 && type < static_cast<int>(std::size(kNames))) return kNames[type];
  return Str(kStrNoValue);
}

std::string MegabytesText(double bytes) { return plat::format("%.2f", bytes / 1048576.0); }

int CachePolicyCheck(int flush, int start, int stop) {
  if (start < stop + 10 || start < 10 || start > 90) return kStrBadThresholds;
  if (flush < 0 || flush > 10) return kStrBadFlushTimer;
  return 0;
}

std::string CachePolicyArgument(int flush, int start, int stop) {
  std::string text;
  CArgList list(text);
  list.Add("CacheFlushFrequency");
  list.Add(flush);
  list.Add("DirtyThresholdStart");
  list.Add(start);
  list.Add("DirtyThresholdStop");
  list.Add(stop);
  return text;
}

std::string DiskStatusText(int status) {
  const auto word = static_cast<std::uint32_t>(status) & 0x800000FFu;
  if (word == 0) return Str(kStrDiskFunctional);
  if (word == 0x80000001u) {
    if ((status & 0xFF00) == 0x200) return Str(kStrLevelWarning) + "  (" + Str(kStrRebuilding) + ")";
    return Str(kStrLevelWarning);
  }
  if (word == 0x80000002u) return Str(kStrLevelError);
  return Str(kStrNoValue);
}

std::string DiskModeText(int timing) {
  if (timing == -1) return Str(kStrNoValue);
  const bool udma = (static_cast<std::uint32_t>(timing) & 0x80000000u) != 0;
  return plat::format("%s-%d", udma ? "UDMA" : "DMA", timing & 0xFF);
}

std::string DiskConfigText(int status) {
  switch (status & 0xFF00) {
    case 0x100:
    case 0x300:
      return Str(kStrFree);
    case 0x200:
      return Str(kStrAssigned);
    default:
      return Str(kStrNoValue);
  }
}

std::string DiskSmartText(int isQx6, int getSmart) {
  if (isQx6 == 0 || isQx6 == 99) return "N/A";
  return getSmart == 1 ? Str(kStrDiskFunctional) : Str(kStrDisabled);
}

double Fahrenheit(double celsius) { return celsius * 1.8 + 32.0; }

std::string TempLabel(double celsius) {
  return plat::format("%s%.1f F/ %.1f C", "Temp: ", Fahrenheit(celsius), celsius);
}

std::string SensorTempText(int halfDegrees) {
  const double c = halfDegrees * 0.5;
  if (c <= 0) return Str(kStrLevelError);
  return plat::format("%s %.1f%sF/ %.1f%sC", "Temp: ", Fahrenheit(c), kDegree, c, kDegree);
}

std::string BoxTempText(int halfDegrees) {
  const double c = halfDegrees * 0.5;
  return c <= 0 ? Str(kStrLevelError) : TempLabel(c);
}

int TempPicture(double celsius) {
  if (celsius <= 0) return 193;
  if (celsius <= 60) return 189;
  if (celsius <= 95) return 191;
  return 190;
}

FanState EnclosureFanState(int rpm) {
  if (rpm < 0) return FanState::Absent;
  return rpm > 50 ? FanState::Working : FanState::Error;
}

std::string EnclosureKindText(int enclosureType) {
  switch (enclosureType & 0x13) {
    case 0:
      return "Brindle66";
    case 1:
      return "Corvane";
    case 0x10:
      return "OEM";
    case 0x11:
      return "Sorventic";
    default:
      return Str(kStrLevelError);
  }
}

std::string SupplyText(int millivolts) {
  if (millivolts < 0) return Str(kStrLevelError);
  return plat::format("%.2f", millivolts * 0.001);
}

std::string SerialTempLine(int index, int celsius) {
  if (celsius < 0) return Str(kStrLevelError);
  return plat::format("%d) %s", index, TempLabel(celsius).c_str());
}

std::string SerialVoltLine(std::string_view which, int value) {
  if (value < 0) return Str(kStrLevelError);
  return plat::format("Voltage %.*s=%.2f", static_cast<int>(which.size()), which.data(), value * 0.001);
}

FanLine SerialFanLine(int index, int rpm) {
  FanLine line;
  if (rpm < 0) return line;
  line.shown = true;
  line.alarm = rpm <= 49;
  line.text = line.alarm ? plat::format("%d) Error", index) : plat::format("%d) RPM: %d", index, rpm);
  return line;
}

}  // namespace kelm::console::pages
