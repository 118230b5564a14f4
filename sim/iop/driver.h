#pragma once
// The Palindrex driver's device control interface: the identify request, API messages and parameter
// group reads, on the driver's own device (direct) or wrapped in a miniport control block on a SCSI
// port (tunnel). Each client handle is bound to the card its identify request named.
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "sim/iop/card_model.h"

namespace sim::iop {

constexpr std::uint32_t kIoctlIdentify = 0x222E80;
constexpr std::uint32_t kIoctlApi = 0x222EC0;
constexpr std::uint32_t kIoctlParams = 0x222F40;
constexpr std::uint32_t kIoctlMiniport = 0x4D008;
constexpr std::size_t kBlockSize = 28;
constexpr std::size_t kIdentifyReply = 80;
constexpr std::size_t kApiRoom = 2048;         // direct path reply buffer
constexpr std::size_t kTunnelApiBuffer = 4130;  // block + message + reply area
constexpr std::size_t kTunnelReplyAt = 2086;
constexpr std::uint16_t kMessageFunction = 145;
inline constexpr char kSignature[] = "PALNDREX";
inline constexpr char kForeignSignature[] = "OTHERHBA";

struct Answer {
  int status = 0;  // errno-style device status; 0 with output
  std::vector<std::uint8_t> out;
};

enum class Path { Direct, Tunnel };

// Faults of the transport, counted down per request.
struct TransportFaults {
  int fail = 0;              // answered EIO
  std::uint32_t failCode = 0;  // 0: any control code
  int identifyFail = 0;
  int shortReply = 0;
  std::uint16_t shortCommand = 0xFFFF;  // 0xFFFF: any command
};

class Driver {
 public:
  explicit Driver(CardModel& model) : model_(model) {}

  // One request on a handle (key: unique per client handle). `foreign`: a port of another adapter.
  Answer request(std::uint64_t handle, Path path, std::uint32_t code, std::span<const std::uint8_t> in,
                 std::size_t capacity);
  void closed(std::uint64_t handle) { bound_.erase(handle); }
  void forgetAll() { bound_.clear(); }
  std::size_t boundHandles() const { return bound_.size(); }

  TransportFaults& faults() { return faults_; }
  const TransportFaults& faults() const { return faults_; }

  // The answer of a port that belongs to another adapter: the probe gets the other signature,
  // everything else the buffer back untouched.
  static Answer foreignAnswer(std::span<const std::uint8_t> in, std::size_t capacity);

 private:
  Answer identify(std::uint64_t handle, std::span<const std::uint8_t> req);
  Answer api(std::uint64_t handle, std::span<const std::uint8_t> msg, std::size_t room);
  Answer params(std::uint64_t handle, std::span<const std::uint8_t> req, std::size_t room, std::size_t* reqLength);
  Answer tunnel(std::uint64_t handle, std::span<const std::uint8_t> in, std::size_t capacity);
  int cardOf(std::uint64_t handle) const;

  CardModel& model_;
  std::map<std::uint64_t, int> bound_;
  TransportFaults faults_;
};

// Builds the parameter group reply for a card; empty for a group the card does not have.
std::vector<std::uint8_t> parameterGroup(const Card& card, std::uint16_t operation, std::uint16_t group);

}  // namespace sim::iop
