#pragma once
// Building expected wire buffers in tests.
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "components/iop/api_message.h"

namespace kelm::iop::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Le32(std::initializer_list<std::uint32_t> words) {
  Bytes b;
  for (auto w : words) PutLe(b, w, 4);
  return b;
}

}  // namespace kelm::iop::testing
