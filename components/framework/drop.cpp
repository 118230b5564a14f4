#include "components/framework/drop.h"

#include "components/framework/river_node.h"

namespace kelm::fw {

std::string ModeFor(std::uint32_t flags, const std::string& previous) {
  if (flags & kDropChild) return "o--";
  if (flags & kDropMethod) return "m--";
  if (flags & kDropProperty) {
    std::string m = "p";
    m += (flags & kDropReadable) ? 'r' : '-';
    m += (flags & kDropWritable) ? 'w' : (flags & kDropVolatile) ? 'v' : '-';
    return m;
  }
  return previous;
}

std::string CDrop::ListingLine() const {
  if (IsChild()) {
    std::size_t semi = value.size() > 1 ? value.find(';', 1) : std::string::npos;
    if (semi == std::string::npos) return {};
    return name + '@' + mode + '@' + value.substr(semi + 1);
  }
  return name + '@' + mode + '@' + value;
}

}  // namespace kelm::fw
