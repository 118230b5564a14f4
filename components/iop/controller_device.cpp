#include "components/iop/controller_device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace kelm::iop {

namespace {

constexpr std::uint32_t kProbeCode = 1;
constexpr std::uint32_t kIdentifyLength = 96;
constexpr std::uint32_t kApiLength = 4096;
constexpr std::size_t kIdentifyRequestSize = 16;
constexpr std::size_t kTunnelIdentifyReply = kSrbHeader + kIdentifyRequestSize;

std::string PortName(int n) {
  std::string name = kPortTemplate;
  name[name.size() - 2] = static_cast<char>('0' + n);
  return name;
}

std::optional<std::size_t> Ioctl(plat::devio::Handle& h, std::uint32_t code, std::span<const std::uint8_t> in,
                                 std::span<std::uint8_t> out) {
  auto returned = plat::devio::ioctl(h, code, in, out);
  if (!returned) return std::nullopt;
  return std::min(*returned, out.size());
}

bool Probe(plat::devio::Handle& port) {
  auto block = SrbBlock(kProbeCode, 0);
  auto got = Ioctl(port, kIoctlScsiMiniport, block, block);
  return got && *got >= 12 && std::memcmp(block.data() + 4, kSignature, sizeof kSignature) == 0;
}

}  // namespace

DevicePath& Path() {
  static DevicePath path;
  return path;
}

void ResetPath() { Path() = DevicePath{}; }

std::vector<std::uint8_t> SrbBlock(std::uint32_t controlCode, std::uint32_t length) {
  std::vector<std::uint8_t> b;
  PutLe(b, kSrbHeader, 4);
  b.insert(b.end(), std::begin(kSignature), std::end(kSignature));
  PutLe(b, kSrbTimeout, 4);
  PutLe(b, controlCode, 4);
  PutLe(b, 0xFFFFFFFFu, 4);
  PutLe(b, length, 4);
  return b;
}

std::vector<std::uint8_t> IdentifyRequest(std::int32_t controller) {
  std::vector<std::uint8_t> r;
  PutLe(r, static_cast<std::uint32_t>(controller), 4);
  PutLe(r, 1, 4);   // target field: the executive's own id
  PutLe(r, 33, 4);  // function
  PutLe(r, 1, 4);   // parameter
  return r;
}

std::uint16_t TargetIdOf(std::span<const std::uint8_t> reply) {
  return static_cast<std::uint16_t>((GetLe(reply, 4, 4) >> 16) & 0xFFF);
}

std::vector<std::uint8_t> ParamsRequest(std::uint16_t operation, std::uint32_t target, std::uint16_t group,
                                        std::span<const std::uint16_t> fields) {
  std::vector<std::uint8_t> r;
  PutLe(r, target, 4);
  PutLe(r, 0, 2);
  PutLe(r, 1, 2);  // one operation
  PutLe(r, 0, 2);
  PutLe(r, operation, 2);
  PutLe(r, group, 2);
  if (fields.empty()) {
    PutLe(r, 0xFFFF, 2);  // all fields
    PutLe(r, 0, 2);
  } else {
    PutLe(r, fields.size(), 2);
    for (std::uint16_t f : fields) PutLe(r, f, 2);
  }
  return r;
}

bool ControllerDevice::Open() {
  if (handle_.valid()) return true;
  auto direct = plat::devio::open(kDriverDevice);
  if (direct) {
    handle_ = std::move(*direct);
  } else {
    DevicePath& path = Path();
    for (int n = 0; n < kPortCount; ++n) {
      const std::string name = PortName(n);
      auto port = plat::devio::open(name);
      if (!port) continue;
      port->setTimeout(std::chrono::milliseconds(kSrbTimeout));
      if (Probe(*port) && name != path.lastPort) {
        path.tunnel = true;
        path.lastPort = name;
        handle_ = std::move(*port);
        break;
      }
    }
  }
  if (!handle_.valid()) return false;
  handle_.setTimeout(std::chrono::milliseconds(kSrbTimeout));  // a silent driver never hangs the agent
  return true;
}

bool ControllerDevice::ExecControlRequest(std::int32_t controller, std::uint32_t target, std::uint32_t function,
                                          std::uint32_t parameter, std::array<std::uint8_t, kIdentifyReply>& reply) {
  if (!Open()) return false;
  std::vector<std::uint8_t> request = IdentifyRequest(controller);
  PutLeAt(request, 4, target, 4);
  PutLeAt(request, 8, function, 4);
  PutLeAt(request, 12, parameter, 4);
  reply.fill(0);
  std::size_t got = 0;
  if (Path().tunnel) {
    std::vector<std::uint8_t> buf = SrbBlock(kIoctlIdentify, kIdentifyLength);
    buf.insert(buf.end(), request.begin(), request.end());
    buf.resize(kTunnelIdentifyReply + kIdentifyReply);
    auto n = Ioctl(handle_, kIoctlScsiMiniport, buf, buf);
    if (!n || *n <= kTunnelIdentifyReply) return false;
    got = *n - kTunnelIdentifyReply;
    std::copy_n(buf.begin() + kTunnelIdentifyReply, got, reply.begin());
  } else {
    auto n = Ioctl(handle_, kIoctlIdentify, request, reply);
    if (!n) return false;
    got = *n;
  }
  return got >= 8;  // the target id lives in the second word
}

std::optional<std::uint32_t> ControllerDevice::SendApiMessage(const ApiAddress& address, std::uint16_t command,
                                                              std::span<const ApiIn> request,
                                                              std::span<const ApiOut> reply) {
  const CommandDescriptor* cmd = FindCommand(command);
  if (!cmd) return std::nullopt;
  auto data = PackRequest(cmd->request, request);
  if (!data) return std::nullopt;
  std::vector<std::uint8_t> message = MessageHeader(address.controller, address.targetId, command);
  PutLeAt(message, 6, address.function, 2);
  message.insert(message.end(), data->begin(), data->end());
  if (!Open()) return std::nullopt;

  std::vector<std::uint8_t> answer;
  if (Path().tunnel) {
    std::vector<std::uint8_t> buf = SrbBlock(kIoctlApiMessage, kApiLength);
    buf.insert(buf.end(), message.begin(), message.end());
    const std::size_t inLength = buf.size();
    buf.resize(kTunnelBuffer, 0);
    auto n = Ioctl(handle_, kIoctlScsiMiniport, std::span<const std::uint8_t>(buf.data(), inLength), buf);
    if (!n) return std::nullopt;
    const std::size_t end = std::min(*n, kTunnelReplyOffset + kTunnelReplyCapacity);
    if (end > kTunnelReplyOffset) answer.assign(buf.begin() + kTunnelReplyOffset, buf.begin() + end);
  } else {
    answer.resize(kReplyCapacity);
    auto n = Ioctl(handle_, kIoctlApiMessage, message, answer);
    if (!n) return std::nullopt;
    answer.resize(*n);
  }
  auto status = UnpackReply(cmd->reply, answer, reply);
  if (!status) return std::nullopt;
  return *status;
}

std::optional<std::vector<std::uint8_t>> ControllerDevice::GetI2OParams(std::uint16_t operation, std::uint32_t target,
                                                                        std::uint16_t group,
                                                                        std::span<const std::uint16_t> fields,
                                                                        std::size_t capacity) {
  if (!Open()) return std::nullopt;
  const std::vector<std::uint8_t> request = ParamsRequest(operation, target, group, fields);
  std::vector<std::uint8_t> reply;
  if (Path().tunnel) {
    std::vector<std::uint8_t> buf =
        SrbBlock(kIoctlParams, static_cast<std::uint32_t>(request.size() + capacity));
    buf.insert(buf.end(), request.begin(), request.end());
    const std::size_t behind = buf.size();
    buf.resize(behind + capacity, 0);
    auto n = Ioctl(handle_, kIoctlScsiMiniport, buf, buf);
    if (!n) return std::nullopt;
    if (*n > behind) reply.assign(buf.begin() + behind, buf.begin() + *n);
  } else {
    reply.resize(capacity);
    auto n = Ioctl(handle_, kIoctlParams, request, reply);
    if (!n) return std::nullopt;
    reply.resize(*n);
  }
  return reply;
}

}  // namespace kelm::iop
