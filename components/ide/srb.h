#pragma once
// The driver's miniport control requests: a 28-byte SRB_IO_CONTROL header followed by the data;
// one buffer carries the request and its answer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace tirrow {

inline constexpr std::uint32_t IOCTL_SCSI_MINIPORT = 0x4D008;
inline constexpr std::size_t kSrbHeaderLength = 28;
inline constexpr std::uint32_t kSrbTimeout = 10000;
inline constexpr char kSrbSignature[8] = {'M', 'A', 'R', 'O', 'V', 'E', 'L', 'T'};

// Control codes of the driver.
enum MiniportCode : std::uint32_t {
  kMpVersion = 1,
  kMpArrayCount = 2,
  kMpControllerCount = 3,
  kMpArrayTable = 4,
  kMpController = 5,
  kMpDiskTable = 6,
  kMpDiskCount = 7,
  kMpSynchronise = 8,
  kMpRebuild = 9,
  kMpActivity = 10,
  kMpGetPciThreshold = 12,
  kMpSetPciThreshold = 13,
  kMpGetPciMaximum = 14,
  kMpSetMaintenanceRate = 16,
  kMpGetMaintenanceRate = 17,
  kMpEventCount = 18,
  kMpReadEvents = 19,
  kMpDiskSmart = 20,
  kMpHardwareId = 21,
  kMpGetSmartEnable = 22,
  kMpSetSmartEnable = 23,
  kMpEnclosure = 24,
};

// Data lengths of the requests.
inline constexpr std::size_t kArrayRecordSize = 64;
inline constexpr std::size_t kArraySlots = 4;
inline constexpr std::size_t kArrayTableSize = kArrayRecordSize * kArraySlots;  // 256
inline constexpr std::size_t kControllerRecordSize = 780;
inline constexpr std::size_t kMaxControllers = 4;
inline constexpr std::size_t kDiskRecordSize = 24;
inline constexpr std::size_t kDiskSlots = 17;
inline constexpr std::size_t kDiskTableSize = kDiskRecordSize * kDiskSlots;  // 408
inline constexpr std::size_t kActivitySize = 16;
inline constexpr std::size_t kTaskRequestSize = 64;
inline constexpr std::size_t kEventRecordSize = 44;
inline constexpr std::size_t kMaxEvents = 20;
inline constexpr std::size_t kEventBufferSize = kEventRecordSize * kMaxEvents;  // 880
inline constexpr std::size_t kReadEventsSize = 4 + kEventBufferSize;            // 884
inline constexpr std::size_t kHardwareIdSize = 20;
inline constexpr std::size_t kEnclosureRequestSize = 8;

// The argument word of a rebuild or synchronise request that aborts it.
inline constexpr std::uint32_t kTaskAbort = 0x3000000;

inline std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// One request buffer: header, then `dataLength` bytes of zeroed data.
class CSrbBuffer {
 public:
  // presetReturn: ReturnCode starts at -1, for requests whose answer is the ReturnCode.
  CSrbBuffer(std::uint32_t controlCode, std::size_t dataLength, bool presetReturn = false)
      : bytes_(kSrbHeaderLength + dataLength, 0) {
    Put32(&bytes_[0], kSrbHeaderLength);
    std::memcpy(&bytes_[4], kSrbSignature, sizeof kSrbSignature);
    Put32(&bytes_[12], kSrbTimeout);
    Put32(&bytes_[16], controlCode);
    Put32(&bytes_[20], presetReturn ? 0xFFFFFFFFu : 0u);
    Put32(&bytes_[24], static_cast<std::uint32_t>(dataLength));
  }

  std::span<std::uint8_t> Bytes() { return bytes_; }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }
  std::uint8_t* Data() { return bytes_.data() + kSrbHeaderLength; }
  const std::uint8_t* Data() const { return bytes_.data() + kSrbHeaderLength; }
  std::size_t DataLength() const { return bytes_.size() - kSrbHeaderLength; }
  std::uint32_t ControlCode() const { return Get32(&bytes_[16]); }
  std::uint32_t ReturnCode() const { return Get32(&bytes_[20]); }
  // The data length the answer reports.
  std::uint32_t Length() const { return Get32(&bytes_[24]); }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tirrow
