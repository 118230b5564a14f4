#pragma once
// The texts the IDE-family nodes show for the driver's numbers.
#include <cstdint>
#include <optional>
#include <string>

namespace tirrow {

// "%d Bytes", "%d.%3d MB", "%d MB", "%d.%03d GB (%d MB)" or "%d.%03d GB" by the size.
std::string SizeText(std::uint64_t bytes);
// "UDMA mode %d" or "DMA mode %d" from identify words 49, 53, 63 and 88; nothing without DMA.
std::optional<std::string> TimingModeText(std::uint16_t word49, std::uint16_t word53, std::uint16_t word63,
                                          std::uint16_t word88);
// The level word of a RAID level (0 to 5), "UNKNOWN RAID TYPE" for any other.
std::string RaidLevelText(int level);
// The model text of the hardware identification's model code.
std::string ModelText(std::uint32_t modelCode);
// A disk's "smart" text by the driver's answer; empty when the driver gave none (255).
std::string SmartText(int status);

// Disk "Status" from the disk table's status bits.
std::uint32_t DiskStatusValue(std::uint8_t statusBits);
// Disk "Rebuild": 0, or while the disk is being rebuilt 1 with its array's task running, else 2.
int DiskRebuildValue(std::uint8_t statusBits, bool arrayTaskRunning);

// Array status words.
inline constexpr std::uint32_t kArrayFunctional = 0;
inline constexpr std::uint32_t kArrayCritical = 0x80000001;
inline constexpr std::uint32_t kArrayOffline = 0x80000002;
inline constexpr std::uint32_t kArrayRebuilding = 512;
inline constexpr std::uint32_t kArraySynchronising = 256;
// "Status" of an array: from its record's flags, overridden by its slot's activity type.
std::uint32_t ArrayStatusValue(std::uint8_t recordFlags, std::uint8_t activityType);

// PCI bus percent from the driver's threshold and maximum: 50 without a maximum.
int PciPercent(int threshold, int maximum);
// The threshold count that gives a percent (clamped to 0..100).
int PciCount(int percent, int maximum);

}  // namespace tirrow
