#include "components/iop/controller_device.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

std::string CommandName(std::uint16_t command) {
  char text[24];
  std::snprintf(text, sizeof text, "command 0x%04X", command);
  return text;
}

plat::Result<std::size_t> Ioctl(plat::devio::Handle& h, std::uint32_t code, std::span<const std::uint8_t> in,
                                std::span<std::uint8_t> out) {
  auto returned = plat::devio::ioctl(h, code, in, out);
  if (!returned) return returned.error();
  return std::min(*returned, out.size());
}

// Whether the port's miniport answers with the family's signature.
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

plat::Result<void> ControllerDevice::Open() {
  if (handle_.valid()) return plat::success();
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
  if (!handle_.valid()) return plat::Error{direct.code(), direct.message() + ", and no SCSI port answers for the card"};
  handle_.setTimeout(std::chrono::milliseconds(kSrbTimeout));  // a silent driver never hangs the agent
  return plat::success();
}

plat::Result<void> ControllerDevice::ExecControlRequest(std::int32_t controller, std::uint32_t target,
                                                        std::uint32_t function, std::uint32_t parameter,
                                                        std::array<std::uint8_t, kIdentifyReply>& reply) {
  const std::string what = "identify of controller " + std::to_string(controller);
  if (auto opened = Open(); !opened) return plat::prefixed(what, opened.error());
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
    if (!n) return plat::prefixed(what, n.error());
    got = *n > kTunnelIdentifyReply ? *n - kTunnelIdentifyReply : 0;
    std::copy_n(buf.begin() + kTunnelIdentifyReply, got, reply.begin());
  } else {
    auto n = Ioctl(handle_, kIoctlIdentify, request, reply);
    if (!n) return plat::prefixed(what, n.error());
    got = *n;
  }
  // The target id lives in the second word.
  if (got < 8) return plat::Error{EPROTO, what + ": a reply of " + std::to_string(got) + " bytes has no target id"};
  return plat::success();
}

plat::Result<std::uint32_t> ControllerDevice::SendApiMessage(const ApiAddress& address, std::uint16_t command,
                                                             std::span<const ApiIn> request,
                                                             std::span<const ApiOut> reply) {
  const std::string what = CommandName(command);
  const CommandDescriptor* cmd = FindCommand(command);
  if (!cmd) return plat::Error{EINVAL, what + ": not a command the card knows"};
  auto data = PackRequest(cmd->request, request);
  if (!data) return plat::prefixed(what, data.error());
  std::vector<std::uint8_t> message = MessageHeader(address.controller, address.targetId, command);
  PutLeAt(message, 6, address.function, 2);
  message.insert(message.end(), data->begin(), data->end());
  if (auto opened = Open(); !opened) return plat::prefixed(what, opened.error());

  std::vector<std::uint8_t> answer;
  if (Path().tunnel) {
    std::vector<std::uint8_t> buf = SrbBlock(kIoctlApiMessage, kApiLength);
    buf.insert(buf.end(), message.begin(), message.end());
    const std::size_t inLength = buf.size();
    buf.resize(kTunnelBuffer, 0);
    auto n = Ioctl(handle_, kIoctlScsiMiniport, std::span<const std::uint8_t>(buf.data(), inLength), buf);
    if (!n) return plat::prefixed(what, n.error());
    const std::size_t end = std::min(*n, kTunnelReplyOffset + kTunnelReplyCapacity);
    if (end > kTunnelReplyOffset) answer.assign(buf.begin() + kTunnelReplyOffset, buf.begin() + end);
  } else {
    answer.resize(kReplyCapacity);
    auto n = Ioctl(handle_, kIoctlApiMessage, message, answer);
    if (!n) return plat::prefixed(what, n.error());
    answer.resize(*n);
  }
  auto status = UnpackReply(cmd->reply, answer, reply);
  if (!status) return plat::prefixed(what, status.error());
  return *status;
}

plat::Result<std::vector<std::uint8_t>> ControllerDevice::GetI2OParams(std::uint16_t operation, std::uint32_t target,
                                                                       std::uint16_t group,
                                                                       std::span<const std::uint16_t> fields,
                                                                       std::size_t capacity) {
  const std::string what = "parameter group " + std::to_string(group);
  if (auto opened = Open(); !opened) return plat::prefixed(what, opened.error());
  const std::vector<std::uint8_t> request = ParamsRequest(operation, target, group, fields);
  std::vector<std::uint8_t> reply;
  if (Path().tunnel) {
    std::vector<std::uint8_t> buf = SrbBlock(kIoctlParams, static_cast<std::uint32_t>(request.size() + capacity));
    buf.insert(buf.end(), request.begin(), request.end());
    const std::size_t behind = buf.size();
    buf.resize(behind + capacity, 0);
    auto n = Ioctl(handle_, kIoctlScsiMiniport, buf, buf);
    if (!n) return plat::prefixed(what, n.error());
    if (*n > behind) reply.assign(buf.begin() + behind, buf.begin() + *n);
  } else {
    reply.resize(capacity);
    auto n = Ioctl(handle_, kIoctlParams, request, reply);
    if (!n) return plat::prefixed(what, n.error());
    reply.resize(*n);
  }
  return reply;
}

}  // namespace kelm::iop
