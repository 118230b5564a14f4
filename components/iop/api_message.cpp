#include "components/iop/api_message.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace kelm::iop {

namespace {

constexpr Element kEnd{kElemEnd, nullptr};
constexpr Element kD{kElemDword, nullptr};
constexpr Element kW{kElemWord, nullptr};
constexpr Element kT{kElemText, nullptr};
constexpr Element kDA{kElemDwordArray, nullptr};

// Requests.
constexpr Element kNone[] = {kEnd};
constexpr Element kDword[] = {kD, kEnd};
constexpr Element kDword2[] = {kD, kD, kEnd};
constexpr Element kDword3[] = {kD, kD, kD, kEnd};
constexpr Element kDword4[] = {kD, kD, kD, kD, kEnd};
constexpr Element kDwordText[] = {kD, kT, kEnd};
constexpr Element kCreate[] = {kT, kD, kD, kDA, kD, kEnd};

// Replies: the status first.
constexpr Element kStatus[] = {kD, kEnd};
constexpr Element kStatusDword[] = {kD, kD, kEnd};
constexpr Element kStatusDword2[] = {kD, kD, kD, kEnd};
constexpr Element kStatusDword3[] = {kD, kD, kD, kD, kEnd};
constexpr Element kStatusText[] = {kD, kT, kEnd};
constexpr Element kStatusInterface[] = {kD, kD, kW, kW, kD, kT, kEnd};
constexpr Element kStatusList[] = {kD, kD, kDA, kEnd};
constexpr Element kEventRecord[] = {kD, kD, kD, kD, kDA, kEnd};
constexpr Element kStatusEvents[] = {kD, kD, {kElemRecordArray, kEventRecord}, kEnd};

constexpr CommandDescriptor C(std::uint16_t code, const Element* request, const Element* reply) {
  return {code, request, reply};
}
// The commands no node sends: 32-bit values only.
constexpr CommandDescriptor Other(std::uint16_t code) { return {code, kDword, kStatusDword}; }

constexpr std::array<CommandDescriptor, kCommandCount> kTable = {{
    C(0x0000, kNone, kStatusInterface), C(0x0001, kDword, kStatus), Other(0x2000),
    C(0x3000, kDword, kStatusDword), C(0x3001, kDword, kStatusDword), C(0x3002, kDword2, kStatusDword2),
    C(0x3003, kDword, kStatusDword), C(0x3004, kDword2, kStatusDword2), C(0x3005, kNone, kStatusDword),
    C(0x3006, kNone, kStatusDword), C(0x3007, kDword, kStatus), C(0x3008, kNone, kStatusDword),
    C(0x3009, kDword, kStatus),
    C(0x3100, kDword, kStatusText), C(0x3101, kDwordText, kStatus), C(0x3102, kDword, kStatusDword),
    C(0x3103, kDword, kStatusDword), C(0x3104, kDword2, kStatusEvents), C(0x3105, kDword, kStatus),
    C(0x3106, kDword, kStatus), C(0x3107, kDword, kStatus),
    Other(0x310A), Other(0x310B), C(0x310C, kDword4, kStatusDword), C(0x310D, kDword, kStatusDword),
    C(0x310E, kDword, kStatus),
    C(0x3200, kDword, kStatusDword), C(0x3201, kDword, kStatusDword2), C(0x3202, kDword, kStatusDword2),
    Other(0x3204),
    C(0x3300, kDword, kStatusDword3), C(0x3301, kDword, kStatusDword), C(0x3302, kDword, kStatusList),
    C(0x3303, kCreate, kStatusDword), C(0x3304, kDword, kStatus), Other(0x3305), Other(0x3306), Other(0x3307),
    C(0x3308, kDword, kStatus), C(0x3309, kDword2, kStatus),
    C(0x3400, kDword3, kStatus), C(0x3401, kDword, kStatusDword2),
    C(0x3500, kDword, kStatusDword), Other(0x3501), C(0x3502, kDword, kStatusDword), Other(0x3503),
    Other(0x3504), Other(0x3505), Other(0x3506), Other(0x3507), Other(0x3508), C(0x3509, kNone, kStatusDword),
    Other(0x350A), Other(0x350B), Other(0x350C),
    C(0x350F, kNone, kStatusDword2), C(0x3510, kDword2, kStatus), C(0x3511, kDword, kStatusDword2), Other(0x3512),
    C(0x3513, kNone, kStatusDword2), C(0x3514, kDword2, kStatus), C(0x3515, kNone, kStatusDword),
    C(0x3516, kNone, kStatusDword), Other(0x3517),
    C(0x351C, kNone, kStatusDword), Other(0x351D),
    Other(0x3520), C(0x3521, kDword2, kStatus), Other(0x3522), C(0x3523, kDword, kStatus), Other(0x3524),
    C(0x3525, kDword, kStatus), C(0x3526, kDword, kStatusDword), C(0x3527, kNone, kStatusDword), Other(0x3528),
    C(0x3529, kNone, kStatusDword), C(0x352A, kNone, kStatusDword), C(0x352B, kDword, kStatus),
    C(0x352C, kDword, kStatusDword), C(0x352D, kDword2, kStatus), C(0x352E, kNone, kStatusDword),
    C(0x352F, kDword, kStatus), C(0x3530, kNone, kStatusDword), C(0x3531, kDword, kStatus),
    C(0x3532, kNone, kStatusDword),
    C(0x4003, kNone, kStatusDword), Other(0x400C), Other(0x400D), Other(0x400E), Other(0x400F), Other(0x4010),
    Other(0x4011), Other(0x4012), Other(0x4013),
}};

std::size_t ScalarWidth(std::int32_t type) {
  switch (type & 0x7FFFFFFF) {
    case kElemByte:
      return 1;
    case kElemWord:
      return 2;
    case kElemDword:
      return 4;
    default:
      return 0;
  }
}

bool IsArray(std::int32_t type) { return (static_cast<std::uint32_t>(type) & 0x80000000u) != 0 && type != kElemEnd; }

plat::Error Fail(int code, std::string message) { return plat::Error{code, std::move(message)}; }

// The bytes a record (or records) take in the reply from `offset`: texts to their NUL, arrays by the
// last scalar read. Fails when the reply ends first.
plat::Result<std::size_t> Measure(const Element* d, std::span<const std::uint8_t> reply, std::size_t offset,
                                  int depth) {
  if (depth > 4) return Fail(EPROTO, "records nested too deep");
  std::uint32_t count = 0;
  const std::size_t start = offset;
  for (; d && d->type != kElemEnd; ++d) {
    const std::size_t left = reply.size() - offset;
    if (d->type == kElemText) {
      const auto nul = std::find(reply.begin() + offset, reply.end(), std::uint8_t{0});
      if (nul == reply.end()) return Fail(EPROTO, "reply text runs past the reply");
      offset = static_cast<std::size_t>(nul - reply.begin()) + 1;
    } else if (d->type == kElemRecord || d->type == kElemRecordArray) {
      const std::uint32_t n = d->type == kElemRecord ? 1 : count;
      for (std::uint32_t i = 0; i < n; ++i) {
        auto size = Measure(d->nested, reply, offset, depth + 1);
        if (!size) return size.error();
        if (*size == 0) break;  // every further record is as empty
        offset += *size;
      }
    } else if (std::size_t w = ScalarWidth(d->type); w && !IsArray(d->type)) {
      if (w > left) return Fail(EPROTO, "reply shorter than its descriptor");
      count = GetLe(reply, offset, w);
      offset += w;
    } else if (w && IsArray(d->type)) {
      if (static_cast<std::uint64_t>(count) * w > left) return Fail(EPROTO, "reply array runs past the reply");
      offset += static_cast<std::size_t>(count) * w;
    } else {
      return Fail(EPROTO, "unsupported descriptor element");
    }
  }
  return offset - start;
}

}  // namespace

std::span<const CommandDescriptor> Commands() { return kTable; }

const CommandDescriptor* FindCommand(std::uint16_t code) {
  auto it = std::lower_bound(kTable.begin(), kTable.end(), code,
                             [](const CommandDescriptor& c, std::uint16_t v) { return c.code < v; });
  return it != kTable.end() && it->code == code ? &*it : nullptr;
}

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void PutLeAt(std::span<std::uint8_t> out, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width && offset + i < out.size(); ++i)
    out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t GetLe(std::span<const std::uint8_t> in, std::size_t offset, std::size_t width) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < width && offset + i < in.size(); ++i) v |= std::uint32_t{in[offset + i]} << (8 * i);
  return v;
}

plat::Result<std::vector<std::uint8_t>> PackRequest(const Element* d, std::span<const ApiIn> values,
                                                    std::size_t capacity) {
  std::vector<std::uint8_t> out;
  std::uint32_t count = 0;
  std::size_t next = 0;
  for (; d && d->type != kElemEnd; ++d) {
    if (next >= values.size()) return Fail(EINVAL, "fewer request values than the descriptor names");
    const ApiIn& v = values[next++];
    const std::size_t w = ScalarWidth(d->type);
    if (d->type == kElemText) {
      if (v.kind != ApiIn::kText) return Fail(EINVAL, "a text element needs a text");
      if (v.text.find('\0') != std::string::npos) return Fail(EINVAL, "a text holds a NUL");
      if (out.size() + v.text.size() + 1 > capacity) return Fail(EMSGSIZE, "request over its capacity");
      out.insert(out.end(), v.text.begin(), v.text.end());
      out.push_back(0);
    } else if (w && !IsArray(d->type)) {
      if (v.kind != ApiIn::kScalar) return Fail(EINVAL, "a scalar element needs a number");
      if (out.size() + w > capacity) return Fail(EMSGSIZE, "request over its capacity");
      PutLe(out, v.value, w);
      count = v.value;
    } else if (w && IsArray(d->type)) {
      if (v.kind != ApiIn::kArray) return Fail(EINVAL, "an array element needs an array");
      // Never send fewer values than the count says.
      if (v.array.size() < count) return Fail(EINVAL, "array shorter than its count");
      if (static_cast<std::uint64_t>(count) * w > capacity - out.size())
        return Fail(EMSGSIZE, "request over its capacity");
      for (std::uint32_t i = 0; i < count; ++i) PutLe(out, v.array[i], w);
    } else {
      return Fail(EINVAL, "descriptor element that cannot be packed");
    }
  }
  if (next != values.size()) return Fail(EINVAL, "more request values than the descriptor names");
  return out;
}

plat::Result<std::uint32_t> UnpackReply(const Element* d, std::span<const std::uint8_t> reply,
                                        std::span<const ApiOut> destinations) {
  if (!d || d->type != kElemDword) return Fail(EINVAL, "reply descriptor without a status");
  if (reply.size() < 4) return Fail(EPROTO, "reply shorter than its status");
  const std::uint32_t status = GetLe(reply, 0, 4);
  std::size_t offset = 4;
  std::uint32_t count = status;
  std::size_t next = 0;
  for (++d; d->type != kElemEnd; ++d) {
    if (next >= destinations.size()) return Fail(EINVAL, "fewer reply destinations than the descriptor names");
    const ApiOut& out = destinations[next++];
    const std::size_t left = reply.size() - offset;
    const std::size_t w = ScalarWidth(d->type);
    if (d->type == kElemText) {
      const auto nul = std::find(reply.begin() + offset, reply.end(), std::uint8_t{0});
      if (nul == reply.end()) return Fail(EPROTO, "reply text runs past the reply");
      const std::size_t len = static_cast<std::size_t>(nul - (reply.begin() + offset));
      if (out.kind != ApiOut::kText) return Fail(EINVAL, "a text element needs a text destination");
      if (len > out.capacity) return Fail(EOVERFLOW, "reply text longer than its destination");
      static_cast<std::string*>(out.target)->assign(reinterpret_cast<const char*>(reply.data() + offset), len);
      offset += len + 1;
    } else if (w && !IsArray(d->type)) {
      if (w > left) return Fail(EPROTO, "reply shorter than its descriptor");
      if (out.kind != ApiOut::kScalar) return Fail(EINVAL, "a scalar element needs a number destination");
      count = GetLe(reply, offset, w);
      *static_cast<std::uint32_t*>(out.target) = count;
      offset += w;
    } else if (w && IsArray(d->type)) {
      if (static_cast<std::uint64_t>(count) * w > left) return Fail(EPROTO, "reply array runs past the reply");
      if (count > out.capacity) return Fail(EOVERFLOW, "reply array longer than its destination");
      if (out.kind == ApiOut::kArray) {
        auto& a = *static_cast<std::vector<std::uint32_t>*>(out.target);
        a.clear();
        for (std::uint32_t i = 0; i < count; ++i) a.push_back(GetLe(reply, offset + i * w, w));
      } else if (out.kind == ApiOut::kBytes) {
        auto& b = *static_cast<std::vector<std::uint8_t>*>(out.target);
        b.assign(reply.begin() + offset, reply.begin() + offset + count * w);
      } else {
        return Fail(EINVAL, "an array element needs an array destination");
      }
      offset += static_cast<std::size_t>(count) * w;
    } else if (d->type == kElemRecord || d->type == kElemRecordArray) {
      if (out.kind != ApiOut::kBytes) return Fail(EINVAL, "a record element needs a byte destination");
      std::size_t end = offset;
      const std::uint32_t n = d->type == kElemRecord ? 1 : count;
      for (std::uint32_t i = 0; i < n; ++i) {
        auto size = Measure(d->nested, reply, end, 0);
        if (!size) return size.error();
        if (*size == 0) break;
        end += *size;
        if (end - offset > out.capacity) return Fail(EOVERFLOW, "reply records longer than their destination");
      }
      static_cast<std::vector<std::uint8_t>*>(out.target)->assign(reply.begin() + offset, reply.begin() + end);
      offset = end;
    } else {
      return Fail(EPROTO, "unsupported descriptor element");
    }
  }
  return status;
}

std::vector<std::uint8_t> MessageHeader(std::int32_t controller, std::uint16_t targetId, std::uint16_t command) {
  std::vector<std::uint8_t> out;
  PutLe(out, static_cast<std::uint32_t>(controller), 4);
  PutLe(out, targetId, 2);
  PutLe(out, kMessageFunction, 2);
  PutLe(out, command, 2);
  return out;
}

}  // namespace kelm::iop
