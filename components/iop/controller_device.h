#pragma once
// Reaching the cards: the driver's own device, or else a SCSI port whose miniport answers with the
// family's signature (every request then travels inside an SRB_IO_CONTROL block). The identify
// request, the API messages and the parameter-group reads.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "components/iop/api_message.h"
#include "platform/devio/device.h"

namespace kelm::iop {

inline constexpr const char* kDriverDevice = "\\\\.\\i2oexec";
inline constexpr const char* kPortTemplate = "\\\\.\\ScsiX:";
inline constexpr int kPortCount = 10;
inline constexpr std::uint32_t kIoctlScsiMiniport = 0x4D008;
inline constexpr std::uint32_t kIoctlIdentify = 0x222E80;
inline constexpr std::uint32_t kIoctlApiMessage = 0x222EC0;
inline constexpr std::uint32_t kIoctlParams = 0x222F40;
inline constexpr std::size_t kSrbHeader = 28;
inline constexpr std::size_t kIdentifyReply = 80;
inline constexpr std::size_t kReplyCapacity = 2048;
inline constexpr std::size_t kTunnelBuffer = 4130;
inline constexpr std::size_t kTunnelReplyOffset = 2086;
inline constexpr std::size_t kTunnelReplyCapacity = 2044;
inline constexpr std::uint32_t kSrbTimeout = 10000;
inline constexpr char kSignature[8] = {'P', 'A', 'L', 'N', 'D', 'R', 'E', 'X'};

// Where an API message goes: the controller number, the card's target id and the function.
struct ApiAddress {
  std::int32_t controller = 0;
  std::uint16_t targetId = 0;
  std::uint16_t function = kMessageFunction;
};

// The process-wide path state: once a SCSI port was taken every request is tunnelled.
struct DevicePath {
  bool tunnel = false;
  std::string lastPort = kPortTemplate;
};
DevicePath& Path();
void ResetPath();  // for tests: back to the state of a freshly loaded component

// The SRB_IO_CONTROL block in front of a tunnelled request.
std::vector<std::uint8_t> SrbBlock(std::uint32_t controlCode, std::uint32_t length);

// The requests of one controller over its handle; the handle is opened on first use and kept.
class ControllerDevice {
 public:
  explicit ControllerDevice(plat::devio::Handle& handle) : handle_(handle) {}

  // Reuses the handle when it is open, else opens the driver or the next answering SCSI port.
  // Fails with the driver device's own open error when no port answers either.
  plat::Result<void> Open();
  // The identify request; the reply's first 80 bytes. A reply too short to carry the target id
  // fails with EPROTO.
  plat::Result<void> ExecControlRequest(std::int32_t controller, std::uint32_t target, std::uint32_t function,
                                        std::uint32_t parameter, std::array<std::uint8_t, kIdentifyReply>& reply);
  // Packs, sends and unpacks; the card's status when the call went through. Fails (the message
  // naming the command) when the command is unknown, the request cannot be packed, the device
  // cannot be reached or refuses the request, or the reply does not unpack.
  plat::Result<std::uint32_t> SendApiMessage(const ApiAddress& address, std::uint16_t command,
                                             std::span<const ApiIn> request, std::span<const ApiOut> reply);
  // One parameter-group operation; the reply (at most `capacity` bytes).
  plat::Result<std::vector<std::uint8_t>> GetI2OParams(std::uint16_t operation, std::uint32_t target,
                                                       std::uint16_t group, std::span<const std::uint16_t> fields,
                                                       std::size_t capacity);

 private:
  plat::devio::Handle& handle_;
};

// The identify request's bytes, and the target id its reply carries.
std::vector<std::uint8_t> IdentifyRequest(std::int32_t controller);
std::uint16_t TargetIdOf(std::span<const std::uint8_t> reply);
// The parameter-group request (an operation list with one operation).
std::vector<std::uint8_t> ParamsRequest(std::uint16_t operation, std::uint32_t target, std::uint16_t group,
                                        std::span<const std::uint16_t> fields);

}  // namespace kelm::iop
