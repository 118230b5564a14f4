// Fuzzes the rebuild animation's reader with whole files: it either refuses them or gives frames
// within the caps.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "console/core/avi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto movie = kelm::console::ReadAvi(std::string_view(reinterpret_cast<const char*>(data), size));
  if (movie) {
    if (movie->frames.empty() || movie->frames.size() > static_cast<std::size_t>(kelm::console::kAviMaxFrames) ||
        movie->width < 1 || movie->width > kelm::console::kAviMaxSide || movie->periodMs < 1) {
      std::abort();
    }
    for (const auto& f : movie->frames) {
      if (f.size() != static_cast<std::size_t>(movie->width) * static_cast<std::size_t>(movie->height)) std::abort();
    }
  }
  return 0;
}
