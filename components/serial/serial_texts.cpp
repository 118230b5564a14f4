#include "components/serial/serial_texts.h"

#include <charconv>
#include <climits>
#include <cstdlib>

#include "platform/base/format.h"

namespace kelm::brask {

namespace {

// Library mode index by mode number.
constexpr int kLibraryIndexOfMode[] = {0, 1, 2, 4, 5, 6, 7, 3};
// Mode name by library mode index.
constexpr std::string_view kModeOfLibraryIndex[] = {"RAID0(STRIPING)",
                                                    "RAID1(MIRROR)",
                                                    "RAID0+1(STRIPE-MIRRORING)",
                                                    "SPAN",
                                                    "RAID3(PARITY-DEDICATED)",
                                                    "RAID5(PARITY-DISTRIBUTED)",
                                                    "RAID30",
                                                    "RAID50"};

constexpr int kMaxDisksInArgument = 32;
constexpr int kMaxDiskId = 254;

struct KindRow {
  int kind;
  EventTitle title;
};
constexpr KindRow kEventKinds[] = {
    {1, {256, "Disk Down"}},
    {2, {257, "Disk Plugin"}},
    {3, {258, "Bad Sector"}},
    {4, {513, "Array Rebld. Started"}},
    {5, {516, "Array Sync. Started"}},
    {6, {518, "Task Retry"}},
    {7, {522, "Array Degraded"}},
    {26, {522, "Array Degraded"}},
    {8, {521, "Array Offline"}},
    {9, {523, "Array Rebld. Completed"}},
    {10, {524, "Array Sync. Completed"}},
    {13, {515, "Array Rebld. Aborted"}},
    {14, {517, "Array Sync. Aborted"}},
    {19, {99, "Enclosure Error"}},
    {20, {526, "Enclosure Over Temp."}},
    {21, {527, "Enclosure Fan Stopped"}},
    {24, {519, "Array Created"}},
    {25, {520, "Array Deleted"}},
    {27, {521, "Array Operation Err."}},
    {28, {519, "Array Conv/Expan."}},
    {29, {99, "Connection Lost"}},
};

}  // namespace

std::optional<int> LibraryModeIndex(std::string_view modeName) {
  for (std::size_t i = 0; i < std::size(kModeNames); ++i)
    if (kModeNames[i] == modeName) return kLibraryIndexOfMode[i];
  return std::nullopt;
}

std::optional<std::string_view> ModeNameOfLibraryIndex(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kModeOfLibraryIndex))) return std::nullopt;
  return kModeOfLibraryIndex[index];
}

std::string SizeText(std::uint64_t mib) {
  if (mib < 1024) return plat::format("%llu MB", static_cast<unsigned long long>(mib));
  return plat::format("%llu.%03llu GB (%llu MB)", static_cast<unsigned long long>(mib / 1024),
                      static_cast<unsigned long long>((mib % 1024) * 1000 / 1024),
                      static_cast<unsigned long long>(mib));
}

ArrayStatus ArrayStatusOf(int state, int activity) {
  ArrayStatus s;
  switch (state) {
    case 0:
      s.status = 0;
      break;
    case 1:
      s.status = static_cast<std::int32_t>(0x80000001u);
      break;
    case 2:
      s.status = static_cast<std::int32_t>(0x80000002u);
      break;
    default:
      break;
  }
  switch (activity) {
    case 1:
    case 2:
      s.status = 0x200;
      break;
    case 3:
      s.status = 0x100;
      break;
    case 4:
      s.status = 0x300;
      break;
    case 5:
      s.status = 0x400;
      break;
    case 6:
      s.status = 0x500;
      break;
    default:
      break;
  }
  if (activity >= 1 && activity <= 5) s.throttle = 1;
  return s;
}

std::int32_t DiskStatusOf(int status, int second) {
  std::int32_t value = (status == 0 || status == 2) ? 0x200
                       : status == 1                ? static_cast<std::int32_t>(0x80000001u)
                                                    : static_cast<std::int32_t>(0x80000002u);
  if (second == 0 || second == 2) value = 0x100;
  return value;
}

std::string_view TimingModeText(int mode) {
  constexpr std::string_view kModes[] = {"UDMA Mode 4", "UDMA Mode 3", "UDMA Mode 2", "UDMA Mode 1", "UDMA Mode 0",
                                         "DMA Mode 2",  "DMA Mode 1",  "DMA Mode 0",  "UDMA Mode 5", "UDMA Mode 6"};
  if (mode < 0 || mode >= static_cast<int>(std::size(kModes))) return "Unknown";
  return kModes[mode];
}

std::string_view SmartText(int slot) {
  switch (slot) {
    case 0:
      return "Functional";
    case 1:
      return "Error";
    case 2:
      return "Not Supported";
    default:
      return "Disabled";
  }
}

std::string HardwareVersionText(int hardwareType, int fanCount, int channels) {
  if (hardwareType == 4 && fanCount == 2) return "Sorventic Kestle";
  std::string text = "Sorventic QX";
  if (channels == 8) text += "8000";
  if (channels == 4) text += "4000";
  return text;
}

std::optional<EventTitle> TranslateEventKind(int kind) {
  for (const auto& row : kEventKinds)
    if (row.kind == kind) return row.title;
  return std::nullopt;
}

std::optional<int> StrictNumber(std::string_view text, int max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  for (char c : text)
    if (c < '0' || c > '9') return std::nullopt;
  long long v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || v > max) return std::nullopt;
  return static_cast<int>(v);
}

int LenientNumber(std::string_view text) {
  std::string s(text.substr(0, 64));
  long long v = std::strtoll(s.c_str(), nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

std::optional<std::vector<int>> StrictDiskList(const std::vector<std::string>& tokens, std::size_t first) {
  if (first >= tokens.size()) return std::nullopt;
  auto n = StrictNumber(tokens[first], kMaxDisksInArgument);
  if (!n || *n < 1 || tokens.size() - first - 1 < static_cast<std::size_t>(*n)) return std::nullopt;
  std::vector<int> disks;
  for (int i = 0; i < *n; ++i) {
    auto d = StrictNumber(tokens[first + 1 + static_cast<std::size_t>(i)], kMaxDiskId);
    if (!d) return std::nullopt;
    disks.push_back(*d);
  }
  return disks;
}

}  // namespace kelm::brask
