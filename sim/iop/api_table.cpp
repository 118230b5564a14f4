#include "sim/iop/api_table.h"

#include <algorithm>
#include <array>

namespace sim::iop {
namespace {

// Commands nobody sends take any list of 32-bit values ("*") and answer their status alone.
constexpr const char* kAny = "*";

constexpr CommandShape kCommands[] = {
    {0x0000, "", "uuwwut", true},   // interface information
    {0x0001, "u", "u", true},       // attach
    {0x2000, kAny, "u", false},
    {0x3000, "u", "uu", true},      // hardware word
    {0x3001, "u", "uu", true},      // controller-level object count
    {0x3002, "uu", "uuu", true},    // controller-level object by index
    {0x3003, "u", "uu", true},      // objects in a container or channel
    {0x3004, "uu", "uuu", true},    // object by index
    {0x3005, "", "uu", true},       // enclosure hardware type
    {0x3006, "", "uu", true},       // GetSmart
    {0x3007, "u", "u", true},       // SetSmart
    {0x3008, "", "uu", true},       // GetHDCache
    {0x3009, "u", "u", true},       // SetHDCache
    {0x3100, "u", "ut", true},      // object name
    {0x3101, "ut", "u", true},      // rename
    {0x3102, "u", "uu", true},      // channel of a disk
    {0x3103, "u", "uu", true},      // new event count
    {0x3104, "uu", "uuR", true},    // read events
    {0x3105, "u", "u", true},       // clear events
    {0x3106, "u", "u", true},       // set clock
    {0x3107, "u", "u", true},       // silence buzzer
    {0x310A, kAny, "u", false},
    {0x310B, kAny, "u", false},
    {0x310C, "uuuu", "uu", true},   // enclosure read
    {0x310D, "u", "uu", true},      // buzzer state
    {0x310E, "u", "u", true},       // buzzer on
    {0x3200, "u", "uu", true},      // disk timing mode
    {0x3201, "u", "uuu", true},     // disk size
    {0x3202, "u", "uuu", true},     // disk state and owner
    {0x3204, kAny, "u", false},
    {0x3300, "u", "uuuu", true},    // array description
    {0x3301, "u", "uu", true},      // array state
    {0x3302, "u", "uuU", true},     // array members
    {0x3303, "tuuUu", "uu", true},  // create array
    {0x3304, "u", "u", true},       // delete array
    {0x3305, kAny, "u", false},
    {0x3306, kAny, "u", false},
    {0x3307, kAny, "u", false},
    {0x3308, "u", "u", true},       // synchronise precheck
    {0x3309, "uu", "u", true},      // rebuild precheck
    {0x3400, "uuu", "u", true},     // task action
    {0x3401, "u", "uuu", true},     // task progress
    {0x3500, "u", "uu", true},      // read cache policy
    {0x3501, kAny, "u", false},
    {0x3502, "u", "uu", true},      // write cache policy
    {0x3503, kAny, "u", false},
    {0x3504, kAny, "u", false},
    {0x3505, kAny, "u", false},
    {0x3506, kAny, "u", false},
    {0x3507, kAny, "u", false},
    {0x3508, kAny, "u", false},
    {0x3509, "", "uu", true},       // CacheSize
    {0x350A, kAny, "u", false},
    {0x350B, kAny, "u", false},
    {0x350C, kAny, "u", false},
    {0x350F, "", "uuu", true},      // dirty thresholds
    {0x3510, "uu", "u", true},      // set dirty thresholds
    {0x3511, "u", "uuu", true},     // read-ahead
    {0x3512, kAny, "u", false},
    {0x3513, "", "uuu", true},      // flush policy and frequency
    {0x3514, "uu", "u", true},      // set flush policy and frequency
    {0x3515, "", "uu", true},       // CacheBlockSize
    {0x3516, "", "uu", true},       // CacheFlushGroupSize
    {0x3517, kAny, "u", false},
    {0x351C, "", "uu", true},       // RWCacheSize
    {0x351D, kAny, "u", false},
    {0x3520, kAny, "u", false},
    {0x3521, "uu", "u", true},      // set sequential-random detection
    {0x3522, kAny, "u", false},
    {0x3523, "u", "u", true},       // SetBBU
    {0x3524, kAny, "u", false},
    {0x3525, "u", "u", true},       // SetAutoFlushFreq
    {0x3526, "u", "uu", true},      // get sequential-random detection
    {0x3527, "", "uu", true},       // GetBBU
    {0x3528, kAny, "u", false},
    {0x3529, "", "uu", true},       // GetAutoFlushFreq
    {0x352A, "", "uu", true},       // GetRebuildPriority
    {0x352B, "u", "u", true},       // SetRebuildPriority
    {0x352C, "u", "uu", true},      // get write-back
    {0x352D, "uu", "u", true},      // set write-back
    {0x352E, "", "uu", true},       // GetOptimal
    {0x352F, "u", "u", true},       // SetOptimal
    {0x3530, "", "uu", true},       // GetBufferCount
    {0x3531, "u", "u", true},       // SetBufferCount
    {0x3532, "", "uu", true},       // MaxBufferCount
    {0x4003, "", "uu", true},       // processor memory
    {0x400C, kAny, "u", false},
    {0x400D, kAny, "u", false},
    {0x400E, kAny, "u", false},
    {0x400F, kAny, "u", false},
    {0x4010, kAny, "u", false},
    {0x4011, kAny, "u", false},
    {0x4012, kAny, "u", false},
    {0x4013, kAny, "u", false},
};
static_assert(std::size(kCommands) == 94);

}  // namespace

std::span<const CommandShape> allCommands() { return kCommands; }

const CommandShape* findCommand(std::uint16_t code) {
  for (const auto& c : kCommands)
    if (c.code == code) return &c;
  return nullptr;
}

plat::Result<std::vector<Value>> unpackRequest(std::string_view shape, std::span<const std::uint8_t> data) {
  auto bad = [](const char* why) { return plat::Error{EINVAL, why}; };
  std::vector<Value> out;
  if (data.size() > kMaxRequestData) return bad("the request data is larger than 2048 bytes");
  if (shape == kAny) {
    if (data.size() % 4 != 0) return bad("the request data is not whole words");
    for (std::size_t i = 0; i < data.size(); i += 4) out.push_back(Value{get32(data.data() + i)});
    return out;
  }
  std::size_t at = 0;
  std::uint32_t count = 0;
  for (char e : shape) {
    Value v;
    std::size_t left = data.size() - at;
    switch (e) {
      case 'u':
        if (left < 4) return bad("the request data ends inside a word");
        v.u = count = get32(data.data() + at);
        at += 4;
        break;
      case 'w':
        if (left < 2) return bad("the request data ends inside a half-word");
        v.u = count = get16(data.data() + at);
        at += 2;
        break;
      case 't': {
        auto begin = data.begin() + static_cast<std::ptrdiff_t>(at);
        auto nul = std::find(begin, data.end(), std::uint8_t{0});
        if (nul == data.end()) return bad("a text of the request has no NUL");
        v.text.assign(begin, nul);
        at += v.text.size() + 1;
        break;
      }
      case 'U':
        if (count > kMaxArray || left < std::size_t{count} * 4)
          return bad("an array of the request is longer than 256 words or than its data");
        for (std::uint32_t i = 0; i < count; ++i) v.array.push_back(get32(data.data() + at + 4 * i));
        at += std::size_t{count} * 4;
        break;
      default:
        return bad("the request's shape is unknown");
    }
    out.push_back(std::move(v));
  }
  if (at != data.size()) return bad("the request data goes on beyond its shape");
  return out;
}

namespace {

std::vector<std::uint8_t> pack(std::string_view shape, const std::vector<Value>& values) {
  std::vector<std::uint8_t> b;
  static const Value kZero;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    const Value& v = i < values.size() ? values[i] : kZero;
    switch (shape[i]) {
      case 'u': put32(b, v.u); break;
      case 'w': put16(b, static_cast<std::uint16_t>(v.u)); break;
      case 't':
        b.insert(b.end(), v.text.begin(), v.text.end());
        b.push_back(0);
        break;
      case 'U':
        for (auto x : v.array) put32(b, x);
        break;
      case 'R': b.insert(b.end(), v.records.begin(), v.records.end()); break;
      default: break;
    }
  }
  return b;
}

}  // namespace

std::vector<std::uint8_t> packReply(std::string_view shape, const std::vector<Value>& values) {
  return pack(shape, values);
}

std::vector<std::uint8_t> packRequest(std::string_view shape, const std::vector<Value>& values) {
  if (shape == kAny) {
    std::vector<std::uint8_t> b;
    for (const auto& v : values) put32(b, v.u);
    return b;
  }
  return pack(shape, values);
}

}  // namespace sim::iop
