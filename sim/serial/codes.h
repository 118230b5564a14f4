#pragma once
// The simulated subsystem's wire codes: its line bytes, the commands it answers and the events it logs.
#include <cstdint>

namespace sim::serial {

namespace line {
constexpr std::uint8_t kFrame = 0xA1;     // twice at the start of every request frame
constexpr std::uint8_t kWake = 0xA2;      // the host's handshake
constexpr std::uint8_t kAwake = 0xA3;     // the answer to it
constexpr std::uint8_t kCommands = 0xA4;  // the host enters command mode
}  // namespace line

namespace cmd {
constexpr std::uint16_t kChannelPairs = 101;
constexpr std::uint16_t kScan = 102;
constexpr std::uint16_t kDeviceName = 103;
constexpr std::uint16_t kDiskList = 104;
constexpr std::uint16_t kDiskState = 105;
constexpr std::uint16_t kDiskTiming = 106;
constexpr std::uint16_t kDiskGeometry = 107;
constexpr std::uint16_t kDeleteArray = 108;
constexpr std::uint16_t kCreateArray = 109;
constexpr std::uint16_t kArrayState = 110;
constexpr std::uint16_t kMemberList = 111;
constexpr std::uint16_t kArrayList = 112;
constexpr std::uint16_t kArrayLayout = 113;
constexpr std::uint16_t kSynchronise = 114;
constexpr std::uint16_t kRebuild = 115;
constexpr std::uint16_t kHostGone = 117;
constexpr std::uint16_t kDiskCapacity = 118;
constexpr std::uint16_t kFirmwareText = 121;
constexpr std::uint16_t kSensors = 123;
constexpr std::uint16_t kSetWriteBack = 124;
constexpr std::uint16_t kWriteBack = 125;
constexpr std::uint16_t kCacheSize = 126;
constexpr std::uint16_t kCacheBlock = 127;
constexpr std::uint16_t kCacheHits = 128;
constexpr std::uint16_t kThrottle = 129;
constexpr std::uint16_t kDoubleBuffer = 130;
constexpr std::uint16_t kSetSequential = 131;
constexpr std::uint16_t kSetPreRead = 132;
constexpr std::uint16_t kSetPbmSize = 133;
constexpr std::uint16_t kSetFlushFrequency = 134;
constexpr std::uint16_t kSequential = 135;
constexpr std::uint16_t kPbmSize = 136;
constexpr std::uint16_t kFlushFrequency = 137;
constexpr std::uint16_t kRenameArray = 141;
constexpr std::uint16_t kPeek = 146;
constexpr std::uint16_t kReshape = 147;
constexpr std::uint16_t kPoke = 148;
constexpr std::uint16_t kStopRebuild = 149;
constexpr std::uint16_t kStopReshape = 150;
constexpr std::uint16_t kClearLog = 151;
constexpr std::uint16_t kReadLog = 152;
constexpr std::uint16_t kLogCount = 153;
constexpr std::uint16_t kDiskTest = 155;
}  // namespace cmd

namespace event {
constexpr std::uint32_t kDiskDown = 256;
constexpr std::uint32_t kDiskPlugged = 257;
constexpr std::uint32_t kRebuildStarted = 513;
constexpr std::uint32_t kRebuildStopped = 515;
constexpr std::uint32_t kSyncStarted = 516;
constexpr std::uint32_t kSyncStopped = 517;
constexpr std::uint32_t kArrayMade = 519;
constexpr std::uint32_t kArrayRemoved = 520;
constexpr std::uint32_t kArrayDown = 521;
constexpr std::uint32_t kArrayDegraded = 522;
constexpr std::uint32_t kRebuildFinished = 523;
constexpr std::uint32_t kSyncFinished = 524;
constexpr std::uint32_t kTooHot = 526;
constexpr std::uint32_t kFanStopped = 527;
constexpr std::uint32_t kReshapeStarted = 530;
}  // namespace event

}  // namespace sim::serial
