#pragma once
// The serial family's tables and texts: mode names, size and status texts, event titles, and the
// strict readers of method arguments. Pure functions, so that each table is tested on its own.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::brask {

// The mode names in their order; the position is the mode number used in arguments.
inline constexpr std::string_view kModeNames[] = {"RAID0(STRIPING)",
                                                  "RAID1(MIRROR)",
                                                  "RAID0+1(STRIPE-MIRRORING)",
                                                  "RAID3(PARITY-DEDICATED)",
                                                  "RAID5(PARITY-DISTRIBUTED)",
                                                  "RAID30",
                                                  "RAID50",
                                                  "SPAN"};
inline constexpr std::string_view kModeRaid0 = "RAID0(STRIPING)";
inline constexpr std::string_view kModeSpan = "SPAN";
inline constexpr std::string_view kModeRaid30 = "RAID30";
inline constexpr std::string_view kModeRaid50 = "RAID50";

// The library's mode index for a mode name; nothing for a name outside the table.
std::optional<int> LibraryModeIndex(std::string_view modeName);
// The mode name of a library mode index; nothing for an index outside 0 to 7.
std::optional<std::string_view> ModeNameOfLibraryIndex(int index);

// "%d MB" below 1024 MiB, else "%d.%03d GB (%d MB)".
std::string SizeText(std::uint64_t mib);

// Array status word from the library's state and activity; the throttle is 1 while a rebuild,
// synchronisation, expansion or conversion runs, else 2. No status for an unknown state without activity.
struct ArrayStatus {
  std::optional<std::int32_t> status;
  int throttle = 2;
};
ArrayStatus ArrayStatusOf(int state, int activity);
// True for the activities that make an array busy (1 to 6).
inline bool IsBusyActivity(int activity) { return activity >= 1 && activity <= 6; }

// Disk status word from the first two outputs of the library's disk status.
std::int32_t DiskStatusOf(int status, int second);
std::string_view TimingModeText(int mode);
std::string_view SmartText(int slot);

// The controller's hardware text: the two-fan enclosure of hardware type 4 is the Kestle, anything
// else a QX with its channel count.
std::string HardwareVersionText(int hardwareType, int fanCount, int channels);

// An event kind's code and title; nothing for kinds that are not reported.
struct EventTitle {
  int code;
  std::string_view title;
};
std::optional<EventTitle> TranslateEventKind(int kind);

// Decimal digits only (no sign, no blanks), at most `max`; nothing otherwise.
std::optional<int> StrictNumber(std::string_view text, int max);
// The C library's integer conversion (leading blanks, a sign, digits; 0 for none), clamped to int.
int LenientNumber(std::string_view text);

// "n@d1@...@dn" from token `first` on: n from 1 to 32, n disk ids from 0 to 254 present. Nothing
// when any of it does not hold.
std::optional<std::vector<int>> StrictDiskList(const std::vector<std::string>& tokens, std::size_t first);

}  // namespace kelm::brask
