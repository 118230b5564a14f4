#pragma once
// Colours in the console's logic are COLORREF values, 0x00BBGGRR: red in the low byte. The Qt layer
// converts them in one place; everything below it stores and compares this form.
#include <cstdint>

namespace kelm::console {

using ColorRef = std::uint32_t;

constexpr ColorRef Rgb(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<ColorRef>(red) | (static_cast<ColorRef>(green) << 8) | (static_cast<ColorRef>(blue) << 16);
}
constexpr std::uint8_t RedOf(ColorRef c) { return static_cast<std::uint8_t>(c & 0xFF); }
constexpr std::uint8_t GreenOf(ColorRef c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
constexpr std::uint8_t BlueOf(ColorRef c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }

inline constexpr ColorRef kColorBlack = Rgb(0, 0, 0);
inline constexpr ColorRef kColorWhite = Rgb(255, 255, 255);
inline constexpr ColorRef kColorBlue = Rgb(0, 0, 255);  // 0x00FF0000, the activity lamp and progress fill

}  // namespace kelm::console
