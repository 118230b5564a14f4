#include "components/ide/ide_texts.h"

#include <algorithm>
#include <cstdio>

namespace tirrow {

std::string SizeText(std::uint64_t n) {
  constexpr std::uint64_t kMb = 1ull << 20, kGb = 1ull << 30;
  const unsigned long long gb = n >> 30, mb = n >> 20;
  char buf[96];
  if (n < kMb) {
    std::snprintf(buf, sizeof buf, "%llu Bytes", static_cast<unsigned long long>(n));
  } else if (n < 10 * kMb) {
    const unsigned frac = static_cast<unsigned>(((n >> 10) & 0x3FF) * 1000 / 1024);
    std::snprintf(buf, sizeof buf, "%llu.%3u MB", mb, frac);
  } else if (n < kGb) {
    std::snprintf(buf, sizeof buf, "%llu MB", mb);
  } else {
    const unsigned frac = static_cast<unsigned>(((n >> 20) & 0x3FF) * 1000 / 1024);
    if (n < 10 * kGb) {
      std::snprintf(buf, sizeof buf, "%llu.%03u GB (%llu MB)", gb, frac, mb);
    } else {
      std::snprintf(buf, sizeof buf, "%llu.%03u GB", gb, frac);
    }
  }
  return buf;
}

std::optional<std::string> TimingModeText(std::uint16_t word49, std::uint16_t word53, std::uint16_t word63,
                                          std::uint16_t word88) {
  if (!(word49 & 0x100)) return std::nullopt;
  // No mode below 1 is told apart: the highest of bits 6 to 2, else bit 1's mode; bit 10's DMA mode,
  // else bit 9's.
  int mode = 1;
  char buf[32];
  if (word53 & 0x4) {
    const unsigned selected = word88 >> 8;
    for (int bit = 6; bit >= 2; --bit) {
      if (selected & (1u << bit)) {
        mode = bit;
        break;
      }
    }
    std::snprintf(buf, sizeof buf, "UDMA mode %d", mode);
  } else {
    mode = (word63 & 0x400) ? 2 : 1;
    std::snprintf(buf, sizeof buf, "DMA mode %d", mode);
  }
  return std::string(buf);
}

std::string RaidLevelText(int level) {
  switch (level) {
    case 0: return "STRIPING";
    case 1: return "MIRRORING";
    case 2: return "STRIPING + MIRRORING";
    case 3: return "SPANNING";
    case 4: return "PARITY";
    case 5: return "DISTRIBUTED PARITY";
    default: return "UNKNOWN RAID TYPE";
  }
}

std::string ModelText(std::uint32_t code) {
  switch (code) {
    case 0: return "Not Found";
    case 1:
    case 7: return "Marovelt";
    case 2: return "Marovelt Alder";
    case 3: return "Marovelt Birch";
    case 4: return "Marovelt Cedar";
    case 5: return "Marovelt-Lite";
    case 6: return "Marovelt Cedar Slim";
    case 8: return "Marovelt Fern Lite";
    case 9: return "Marovelt Elm";
    default: return "Unknown";
  }
}

std::string SmartText(int status) {
  switch (status) {
    case 255: return "";
    case 1: return "Functional";
    case 2: return "Error";
    case 3: return "Not Supported";
    default: return "Disabled";
  }
}

std::uint32_t DiskStatusValue(std::uint8_t bits) {
  if (bits & 0x20) return 0x80000001;
  switch (bits & 0x7) {
    case 3: return 256;
    case 7: return 512;
    default: return 0x80000001;
  }
}

int DiskRebuildValue(std::uint8_t bits, bool arrayTaskRunning) {
  if (!(bits & 0x20)) return 0;
  return arrayTaskRunning ? 1 : 2;
}

std::uint32_t ArrayStatusValue(std::uint8_t flags, std::uint8_t activityType) {
  if (activityType == 1 || activityType == 2) return kArrayRebuilding;
  if (activityType == 3) return kArraySynchronising;
  if ((flags & 0x0E) != 0x0E) return kArrayOffline;
  if (flags & 0x10) return kArrayCritical;
  return kArrayFunctional;
}

int PciPercent(int threshold, int maximum) {
  if (maximum == 0) return 50;
  return static_cast<int>(100.0 - static_cast<double>(threshold) / maximum * 100.0);
}

int PciCount(int percent, int maximum) {
  percent = std::clamp(percent, 0, 100);
  return (100 - percent) * maximum / 100;
}

}  // namespace tirrow
