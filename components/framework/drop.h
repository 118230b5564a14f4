#pragma once
// One entry of a node: a property, a method or a child node, with its flag bits.
#include <cstdint>
#include <string>

#include "platform/com/unknown.h"

namespace kelm::fw {

class CRiverNode;

enum DropFlags : std::uint32_t {
  kDropProperty = 0x00001,
  kDropReadable = 0x00002,
  kDropWritable = 0x00004,
  kDropVolatile = 0x00008,
  kDropMethod = 0x00100,
  kDropChild = 0x10000,
  // The combinations in use.
  kDropReadOnly = 0x3,          // "pr-"
  kDropReadWrite = 0x7,         // "prw"
  kDropReadOnlyVolatile = 0xB,  // "prv"
};

// The type code of an entry with these flags; `previous` when the flags name no kind.
std::string ModeFor(std::uint32_t flags, const std::string& previous);

class CDrop {
 public:
  std::uint32_t flags = 0;
  std::string name;
  std::string mode;
  std::string value;
  // The node a child entry stands for; the entry holds one reference to it.
  plat::com::ComPtr<CRiverNode> child;

  bool IsChild() const { return (flags & kDropChild) != 0; }
  bool IsMethod() const { return (flags & kDropMethod) != 0; }
  bool IsWritable() const { return (flags & (kDropProperty | kDropWritable)) == (kDropProperty | kDropWritable); }
  bool IsReadable() const { return (flags & (kDropProperty | kDropReadable)) == (kDropProperty | kDropReadable); }

  // name@mode@value; for a child the value part is its node type number (the text after the
  // first ';' of "id;type"), and a child value without that ';' gives an empty line.
  std::string ListingLine() const;
};

}  // namespace kelm::fw
