#pragma once
// The texts Vantrel shows: the hardware version, RAID levels, disk sizes, and the event titles and
// messages of the controller's records.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::iop {

inline constexpr int kSeriesQx = 2;
int SeriesOf(std::uint32_t hardwareWord);
// "HWVersion" from the hardware word.
std::string HardwareVersionText(std::uint32_t hardwareWord);
// "RAID_Mode" from the level code and the member count; empty for an unknown code.
std::string RaidModeText(std::uint32_t level, std::size_t members);
// The level code of a RAID word of the create-array argument.
std::optional<std::uint32_t> LevelCodeOf(std::string_view word);
// A disk size in 512-byte blocks as "%.2f GB" or "%.2f MB".
std::string DiskSizeText(std::uint32_t blocks);

// One record of the controller's event store.
struct ControllerEvent {
  std::uint32_t type = 0;
  std::uint32_t second = 0;
  std::uint32_t severity = 0;
  std::vector<std::uint32_t> args;
  // An argument the record does not carry reads as 0.
  std::uint32_t Arg(std::size_t i) const { return i < args.size() ? args[i] : 0; }
};
// The first record of packed event records; nothing when it is cut short.
std::optional<ControllerEvent> FirstEvent(const std::vector<std::uint8_t>& records);

struct EventTexts {
  int title;
  int text;
  int pattern;
};
EventTexts EventTextsOf(std::uint32_t type);
// The string of an id in the language (1033 or 2057); empty for an id without one.
std::string LoadString(int id, int language);

// Fills an event's message: the disk and array texts come from the callers' resolvers.
std::string EventMessage(const ControllerEvent& e, int language,
                         const std::function<std::string(std::uint32_t)>& diskText,
                         const std::function<std::string(std::uint32_t)>& arrayText);

}  // namespace kelm::iop
