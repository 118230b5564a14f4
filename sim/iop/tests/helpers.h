#pragma once
// Request buffers built byte by byte as a host lays them out, for the driver's tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sim/iop/driver.h"

namespace sim::iop::testing {

using Bytes = std::vector<std::uint8_t>;

inline void le32(Bytes& b, std::uint32_t v) { put32(b, v); }
inline void le16(Bytes& b, std::uint16_t v) { put16(b, v); }

inline Bytes identifyRequest(std::uint32_t controller) {
  Bytes b;
  le32(b, controller);
  le32(b, 1);
  le32(b, 33);
  le32(b, 1);
  return b;
}

// The API message: header then the request data.
inline Bytes apiMessage(std::uint32_t controller, std::uint16_t target, std::uint16_t command, const Bytes& data = {}) {
  Bytes b;
  le32(b, controller);
  le16(b, target);
  le16(b, 145);
  le16(b, command);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

inline Bytes words(std::initializer_list<std::uint32_t> ws) {
  Bytes b;
  for (auto w : ws) le32(b, w);
  return b;
}

// The miniport control block around a tunnelled request.
inline Bytes block(std::uint32_t control, std::uint32_t length, const Bytes& body = {}) {
  Bytes b;
  le32(b, 28);
  b.insert(b.end(), {'P', 'A', 'L', 'N', 'D', 'R', 'E', 'X'});
  le32(b, 10000);
  le32(b, control);
  le32(b, 0xFFFFFFFF);
  le32(b, length);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline Bytes paramsRequest(std::uint16_t operation, std::uint16_t group, std::vector<std::uint16_t> fields) {
  Bytes b;
  le32(b, 0);
  le16(b, 0);
  le16(b, 1);
  le16(b, 0);
  le16(b, operation);
  le16(b, group);
  if (fields.empty()) {
    le16(b, 0xFFFF);
    le16(b, 0);
  } else {
    le16(b, static_cast<std::uint16_t>(fields.size()));
    for (auto f : fields) le16(b, f);
  }
  return b;
}

}  // namespace sim::iop::testing
