#pragma once
// The driver's API messages: the per-command descriptors that say how request values are packed
// and reply values unpacked, and the packing itself. Pure data handling, no device.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/base/result.h"

namespace kelm::iop {

// Element types of a descriptor.
enum ElementType : std::int32_t {
  kElemByte = 0,
  kElemWord = 1,
  kElemDword = 2,
  kElemText = 3,
  kElemRecord = 4,
  kElemByteArray = static_cast<std::int32_t>(0x80000000u),
  kElemWordArray = static_cast<std::int32_t>(0x80000001u),
  kElemDwordArray = static_cast<std::int32_t>(0x80000002u),
  kElemTextArray = static_cast<std::int32_t>(0x80000003u),  // not supported
  kElemRecordArray = static_cast<std::int32_t>(0x80000004u),
  kElemEnd = -1,
};

struct Element {
  std::int32_t type;
  const Element* nested;  // for records and record arrays
};

struct CommandDescriptor {
  std::uint16_t code;
  const Element* request;
  const Element* reply;  // begins with the 32-bit status
};

inline constexpr std::size_t kCommandCount = 94;
inline constexpr std::size_t kRequestCapacity = 2048;
inline constexpr std::size_t kMessageHeader = 10;
inline constexpr std::uint16_t kMessageFunction = 145;

// The descriptor of a command; null for a code outside the table.
const CommandDescriptor* FindCommand(std::uint16_t code);
std::span<const CommandDescriptor> Commands();

// One request value, in descriptor order: a scalar of any width, a text, or an array whose count
// is the last scalar before it.
struct ApiIn {
  enum Kind { kScalar, kText, kArray } kind = kScalar;
  std::uint32_t value = 0;
  std::string text;
  std::vector<std::uint32_t> array;

  ApiIn(std::uint32_t v) : value(v) {}  // NOLINT: scalars read naturally in argument lists
  ApiIn(int v) : value(static_cast<std::uint32_t>(v)) {}
  static ApiIn Text(std::string t) {
    ApiIn in(0u);
    in.kind = kText;
    in.text = std::move(t);
    return in;
  }
  static ApiIn Array(std::vector<std::uint32_t> a) {
    ApiIn in(0u);
    in.kind = kArray;
    in.array = std::move(a);
    return in;
  }
};

// One reply destination, in descriptor order after the status. Every destination carries its
// capacity; a reply that holds more than it fails the call.
struct ApiOut {
  enum Kind { kScalar, kText, kArray, kBytes } kind;
  void* target;
  std::size_t capacity;  // text: bytes without the NUL; array: elements; bytes: bytes

  static ApiOut Scalar(std::uint32_t& v) { return {kScalar, &v, 1}; }
  static ApiOut Text(std::string& s, std::size_t capacity) { return {kText, &s, capacity}; }
  static ApiOut Array(std::vector<std::uint32_t>& a, std::size_t capacity) { return {kArray, &a, capacity}; }
  // Records (and byte arrays) land here packed, one after the other.
  static ApiOut Bytes(std::vector<std::uint8_t>& b, std::size_t capacity) { return {kBytes, &b, capacity}; }
};

// Packs the request values by the descriptor; fails on a record element, an unsupported element,
// a value of the wrong kind, an array shorter than its count, or more than `capacity` bytes.
plat::Result<std::vector<std::uint8_t>> PackRequest(const Element* descriptor, std::span<const ApiIn> values,
                                                    std::size_t capacity = kRequestCapacity);

// Unpacks a reply: the status first, then one destination per further element. Fails when the
// descriptor asks for more than the reply holds, a destination is too small or of the wrong kind,
// or on an unsupported element.
plat::Result<std::uint32_t> UnpackReply(const Element* descriptor, std::span<const std::uint8_t> reply,
                                        std::span<const ApiOut> destinations);

// The API message: controller number, target id, message function, command, then the request.
std::vector<std::uint8_t> MessageHeader(std::int32_t controller, std::uint16_t targetId, std::uint16_t command);

// Little-endian access to wire buffers.
void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, std::size_t width);
void PutLeAt(std::span<std::uint8_t> out, std::size_t offset, std::uint64_t value, std::size_t width);
std::uint32_t GetLe(std::span<const std::uint8_t> in, std::size_t offset, std::size_t width);

}  // namespace kelm::iop
