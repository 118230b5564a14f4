#pragma once
// A bounded reader of our own small AVI files: one video stream of 8-bit palette frames,
// uncompressed or RLE8. Anything else, or anything past the caps, is refused.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/result.h"

namespace kelm::console {

struct AviMovie {
  int width = 0, height = 0;
  int periodMs = 100;                          // a period of 0 in the file means 100 ms
  std::vector<std::vector<std::uint32_t>> frames;  // 0xAARRGGBB, top row first
};

inline constexpr std::size_t kAviMaxFileBytes = 16u << 20;
inline constexpr int kAviMaxFrames = 1000;
inline constexpr int kAviMaxSide = 1024;

plat::Result<AviMovie> ReadAvi(std::string_view bytes);
plat::Result<AviMovie> ReadAviFile(const std::string& path);

}  // namespace kelm::console
