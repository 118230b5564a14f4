#include "sim/iop/driver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace sim::iop {
namespace {

constexpr std::size_t kIdentifyRequest = 16;
constexpr std::size_t kApiHeader = 10;
constexpr std::uint32_t kIdentifyFunction = 33;
constexpr std::uint16_t kFieldGet = 1;
constexpr std::uint16_t kTableGet = 5;
constexpr std::uint16_t kAllFields = 0xFFFF;
constexpr std::uint16_t kMaxFields = 64;
constexpr std::uint32_t kUnknownCommand = 5;

Answer error(int status) { return Answer{status, {}}; }

void putText(std::vector<std::uint8_t>& b, const char* text, std::size_t width) {
  std::size_t n = std::min(std::strlen(text), width);
  b.insert(b.end(), text, text + n);
  b.insert(b.end(), width - n, 0);
}

// Fixed-width text fields of the module tables are padded with blanks, not terminated.
void putPadded(std::vector<std::uint8_t>& b, const char* text, std::size_t width) {
  std::size_t n = std::min(std::strlen(text), width);
  b.insert(b.end(), text, text + n);
  b.insert(b.end(), width - n, ' ');
}

}  // namespace

std::vector<std::uint8_t> parameterGroup(const Card& card, std::uint16_t operation, std::uint16_t group) {
  std::vector<std::uint8_t> b;
  put16(b, 1);  // one result block
  put16(b, 0);
  if (operation == kFieldGet && group == 0) {
    // Processor description: vendor, product, memories, then the processor type byte at offset 24.
    put32(b, 6);  // words of data that follow, block status 0
    put16(b, 0x1D4C);
    put16(b, static_cast<std::uint16_t>(card.hardware));
    put32(b, card.memoryBytes);
    put32(b, 4u << 20);
    put32(b, 0);
    b.push_back(card.processorType);
    b.push_back(1);
    put16(b, 0);
    return b;
  }
  if (operation == kTableGet && group == 5) {
    // Module list: a row count, then rows of 40 bytes: the name (24 bytes, blank-padded), the
    // version (4 characters), the release date (8 characters, day, month and year) and the size.
    const struct {
      const char* name;
      const char* version;
      const char* date;
      std::uint32_t size;
    } rows[] = {{"Palindrex I2O Firmware", "0102", "15062002", 512 * 1024},
                {"Palindrex BIOS", "0011", "01032002", 64 * 1024}};
    std::vector<std::uint8_t> data;
    put16(data, static_cast<std::uint16_t>(std::size(rows)));
    put16(data, 0);
    for (const auto& r : rows) {
      putPadded(data, r.name, 24);
      putPadded(data, r.version, 4);
      putPadded(data, r.date, 8);
      put32(data, r.size);
    }
    put32(b, static_cast<std::uint32_t>(data.size() / 4));
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
  if (operation == kTableGet && group == 3) {
    // The RAID engine's row: its name (24 bytes), version (4 characters) and size.
    std::vector<std::uint8_t> data;
    put16(data, 1);
    put16(data, 0);
    putPadded(data, "Quorlin RAID Engine", 24);
    putPadded(data, "0300", 4);
    put32(data, 128 * 1024);
    put32(b, static_cast<std::uint32_t>(data.size() / 4));
    b.insert(b.end(), data.begin(), data.end());
    return b;
  }
  return {};
}

int Driver::cardOf(std::uint64_t handle) const {
  auto it = bound_.find(handle);
  return it == bound_.end() ? -1 : it->second;
}

Answer Driver::foreignAnswer(std::span<const std::uint8_t> in, std::size_t capacity) {
  Answer a;
  a.out.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(std::min(in.size(), capacity)));
  if (a.out.size() >= kBlockSize && get32(a.out.data() + 16) == 1) std::memcpy(a.out.data() + 4, kForeignSignature, 8);
  return a;
}

Answer Driver::request(std::uint64_t handle, Path path, std::uint32_t code, std::span<const std::uint8_t> in,
                       std::size_t capacity) {
  std::uint32_t inner = code;
  if (path == Path::Tunnel && code == kIoctlMiniport && in.size() >= kBlockSize) inner = get32(in.data() + 16);
  if (faults_.fail > 0 && (faults_.failCode == 0 || faults_.failCode == inner)) {
    --faults_.fail;
    return error(EIO);
  }
  if (path == Path::Tunnel) {
    if (code != kIoctlMiniport) return error(EINVAL);
    return tunnel(handle, in, capacity);
  }
  switch (code) {
    case kIoctlIdentify: {
      if (in.size() != kIdentifyRequest || capacity < kIdentifyReply) return error(EINVAL);
      return identify(handle, in);
    }
    case kIoctlApi: return api(handle, in, std::min(capacity, kApiRoom));
    case kIoctlParams: {
      std::size_t reqLength = 0;
      Answer a = params(handle, in, capacity, &reqLength);
      if (a.status == 0 && reqLength != in.size()) return error(EINVAL);
      return a;
    }
    default: return error(EINVAL);
  }
}

Answer Driver::identify(std::uint64_t handle, std::span<const std::uint8_t> req) {
  std::uint32_t controller = get32(req.data());
  std::uint32_t target = get32(req.data() + 4);
  if ((target & 0xFFF) != 1 || get32(req.data() + 8) != kIdentifyFunction || get32(req.data() + 12) != 1)
    return error(EINVAL);
  if (faults_.identifyFail > 0) {
    --faults_.identifyFail;
    return error(EIO);
  }
  if (controller >= kMaxCards || !model_.answers(static_cast<int>(controller))) return error(ENODEV);
  const Card& card = *model_.card(static_cast<int>(controller));
  bound_[handle] = static_cast<int>(controller);
  std::vector<std::uint8_t> r;
  put32(r, controller);
  put32(r, static_cast<std::uint32_t>(card.targetId & 0xFFF) << 16 | kIdentifyFunction);
  put32(r, card.hardware);
  put32(r, card.memoryBytes);
  putText(r, "PALINDREX I2O IOP", 32);
  r.resize(kIdentifyReply, 0);
  return Answer{0, std::move(r)};
}

Answer Driver::api(std::uint64_t handle, std::span<const std::uint8_t> msg, std::size_t room) {
  if (msg.size() < kApiHeader || msg.size() > kApiHeader + kMaxRequestData) return error(EINVAL);
  std::uint32_t controller = get32(msg.data());
  std::uint16_t target = get16(msg.data() + 4);
  std::uint16_t function = get16(msg.data() + 6);
  std::uint16_t command = get16(msg.data() + 8);
  int card = cardOf(handle);
  if (function != kMessageFunction) return error(EINVAL);
  // A handle that never identified has no card; one that did speaks to that card only.
  if (card < 0 || controller != static_cast<std::uint32_t>(card) || !model_.answers(card) ||
      model_.card(card)->targetId != target)
    return error(ENXIO);
  std::vector<std::uint8_t> out;
  const CommandShape* shape = findCommand(command);
  if (!shape) {
    put32(out, kUnknownCommand);
  } else {
    auto values = unpackRequest(shape->request, msg.subspan(kApiHeader));
    if (!values) return error(EINVAL);
    out = packReply(shape->reply, model_.execute(card, command, *values, room));
  }
  if (out.size() > room) return error(EOVERFLOW);
  if (faults_.shortReply > 0 && (faults_.shortCommand == 0xFFFF || faults_.shortCommand == command)) {
    --faults_.shortReply;
    out.resize(out.size() / 2);
  }
  return Answer{0, std::move(out)};
}

Answer Driver::params(std::uint64_t handle, std::span<const std::uint8_t> req, std::size_t room,
                      std::size_t* reqLength) {
  if (req.size() < 18) return error(EINVAL);
  std::uint32_t target = get32(req.data());
  std::uint16_t count = get16(req.data() + 6);
  std::uint16_t operation = get16(req.data() + 10);
  std::uint16_t group = get16(req.data() + 12);
  std::uint16_t fields = get16(req.data() + 14);
  if (fields != kAllFields && (fields == 0 || fields > kMaxFields)) return error(EINVAL);
  *reqLength = fields == kAllFields ? 18 : 16 + 2 * std::size_t{fields};
  if (req.size() < *reqLength || count != 1 || get16(req.data() + 4) != 0) return error(EINVAL);
  int card = cardOf(handle);
  if (card < 0 || !model_.answers(card) || (target != 0 && target != model_.card(card)->targetId)) return error(ENXIO);
  auto out = parameterGroup(*model_.card(card), operation, group);
  if (out.empty()) return error(EINVAL);
  if (out.size() > room) return error(EOVERFLOW);
  return Answer{0, std::move(out)};
}

Answer Driver::tunnel(std::uint64_t handle, std::span<const std::uint8_t> in, std::size_t capacity) {
  if (in.size() < kBlockSize || get32(in.data()) != kBlockSize || std::memcmp(in.data() + 4, kSignature, 8) != 0)
    return error(EINVAL);
  std::uint32_t control = get32(in.data() + 16);
  std::uint32_t length = get32(in.data() + 24);
  auto block = [&](std::size_t size) {
    std::vector<std::uint8_t> b(size, 0);
    std::memcpy(b.data(), in.data(), std::min(in.size(), size));
    set32(b.data() + 20, 0);  // ReturnCode
    return b;
  };
  auto body = in.subspan(kBlockSize);
  switch (control) {
    case 1:
      if (length != 0 || capacity < kBlockSize) return error(EINVAL);
      return Answer{0, block(kBlockSize)};
    case kIoctlIdentify: {
      if (length != 96 || body.size() < 16 || capacity < kBlockSize + 96) return error(EINVAL);
      Answer a = identify(handle, body.first(16));
      if (a.status) return a;
      auto out = block(kBlockSize + 96);
      std::memcpy(out.data() + 44, a.out.data(), kIdentifyReply);
      return Answer{0, std::move(out)};
    }
    case kIoctlApi: {
      if (length != 4096 || capacity < kTunnelApiBuffer || in.size() > kTunnelReplyAt) return error(EINVAL);
      Answer a = api(handle, body, kTunnelApiBuffer - kTunnelReplyAt);
      if (a.status) return a;
      auto out = block(kTunnelApiBuffer);
      std::memcpy(out.data() + kTunnelReplyAt, a.out.data(), a.out.size());
      return Answer{0, std::move(out)};
    }
    case kIoctlParams: {
      std::size_t reqLength = 0;
      if (capacity < kBlockSize) return error(EINVAL);
      Answer a = params(handle, body, capacity - kBlockSize, &reqLength);
      if (a.status) return a;
      if (length < reqLength || kBlockSize + reqLength + a.out.size() > capacity) return error(EOVERFLOW);
      auto out = block(kBlockSize + reqLength + a.out.size());
      std::memcpy(out.data() + kBlockSize + reqLength, a.out.data(), a.out.size());
      return Answer{0, std::move(out)};
    }
    default: return error(EINVAL);
  }
}

}  // namespace sim::iop
