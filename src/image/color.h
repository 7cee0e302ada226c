// Colour helpers shared by every layer.
#pragma once

#include <cstdint>

namespace velmora {

// One colour-table entry in BMP order.
struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
  friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// A colour value: red in bits 0-7, green 8-15, blue 16-23; -1 means none.
using ColorValue = int32_t;
inline constexpr ColorValue kNoColor = -1;

constexpr ColorValue MakeColor(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<ColorValue>(r | (g << 8) | (b << 16));
}
constexpr uint8_t ColorRed(ColorValue c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t ColorGreen(ColorValue c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t ColorBlue(ColorValue c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr ColorValue QuadColor(const RgbQuad& q) { return MakeColor(q.red, q.green, q.blue); }

// Bytes in one stored row: rows are padded to 32 bits, as in a DIB.
constexpr int64_t RowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

}  // namespace velmora
