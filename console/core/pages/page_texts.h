#pragma once
// The texts, checks and argument pieces the property pages show and send, as plain functions of the
// values read, so that every page of every family words them alike.
#include <cstdint>
#include <string>
#include <string_view>

#include "console/core/colorref.h"

namespace kelm::console::pages {

// The painted pages' value colours.
inline constexpr ColorRef kColourGreen = Rgb(0, 180, 0);
inline constexpr ColorRef kColourRed = Rgb(255, 0, 0);
inline constexpr ColorRef kColourValue = Rgb(47, 74, 139);

// "Synchronizing 37%", "Functional", ...; withSerialTasks adds the serial family's conversion and
// initialisation words. A percent outside 0..100 shows as 0.
std::string ArrayStatusText(int status, int percent, bool withSerialTasks);
// A sector count as "1024 MB (1.000 GB)" or "1023 MB"; read unsigned so large arrays stay positive.
std::string ArraySizeText(std::uint32_t sectors);

// The level names the pages offer, in their list order.
inline constexpr std::string_view kIopLevels[] = {
    "RAID0(STRIPING)", "RAID1(MIRROR)", "RAID0+1(STRIPE-MIRRORING)", "RAID3(PARITY-DEDICATED)",
    "RAID5(PARITY-DISTRIBUTED)", "SPAN"};
inline constexpr std::string_view kSerialLevels[] = {
    "RAID0(STRIPING)", "RAID1(MIRROR)", "RAID0+1(STRIPE-MIRRORING)", "RAID3(PARITY-DEDICATED)",
    "RAID5(PARITY-DISTRIBUTED)", "RAID30", "RAID50", "SPAN"};

// The string id that refuses n member disks for the level, or 0 when the count suits it. The serial
// family knows RAID30 and RAID50 as well.
int ArrayCountCheck(std::string_view level, std::size_t n, bool serial);
// 2, 4, 8, 16, 32 or 64.
bool BlockSizeValid(int block);
// The block size a create sends: mirrored and spanned levels always use 64.
int BlockSizeToSend(std::string_view level, int block);
// Whether the level asks the create-array options (all but striping and span).
bool LevelTakesOptions(std::string_view level);
// Names at most 20 characters, with no '@' and no leading '"' (the agent's field splitter would cut
// or swallow them).
bool ArrayNameValid(std::string_view name);
extern const char kBadArrayNameText[];

// The serial family's conversion and expansion rules: levels that support neither.
bool SerialLevelFixed(std::string_view level);

// Controller texts.
std::string ProcessorName(int type);
std::string MegabytesText(double bytes);  // "%.2f" of bytes / 1048576
// 0, 193 or 202: the cache policy's thresholds and flush timer.
int CachePolicyCheck(int flush, int start, int stop);
std::string CachePolicyArgument(int flush, int start, int stop);

// Disk page texts (intelligent-I/O family).
std::string DiskStatusText(int status);
std::string DiskModeText(int timing);
std::string DiskConfigText(int status);
std::string DiskSmartText(int isQx6, int getSmart);

// Temperatures: F = C x 1.8 + 32.
double Fahrenheit(double celsius);
// "Temp: 77.0 F/ 25.0 C".
std::string TempLabel(double celsius);
// "Temp:  122.0°F/ 50.0°C" of a half-degree reading, or "Error" at 0 or less.
std::string SensorTempText(int halfDegrees);
// The box form of a half-degree reading: "Temp: 122.0 F/ 50.0 C", or "Error".
std::string BoxTempText(int halfDegrees);
// Picture 193 (error), 189 (normal), 191 (warm) or 190 (hot) for a Celsius value.
int TempPicture(double celsius);

enum class FanState { Absent, Working, Error };
FanState EnclosureFanState(int rpm);  // above 50 works; any negative is absent
std::string EnclosureKindText(int enclosureType);
std::string SupplyText(int millivolts);  // "5.00", or "Error" when negative

// Serial box lines.
std::string SerialTempLine(int index, int celsius);    // "2) Temp: 104.0 F/ 40.0 C", "Error"
std::string SerialVoltLine(std::string_view which, int value);  // "Voltage 5V=5.02", "Error"
// "1) RPM: 50" (alarm off) or "3) Error" (alarm on); hidden for a negative speed.
struct FanLine {
  bool shown = false;
  bool alarm = false;
  std::string text;
};
FanLine SerialFanLine(int index, int rpm);

}  // namespace kelm::console::pages
