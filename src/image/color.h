// Colour helpers shared by every layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// How far apart two colours are when a palette entry is chosen for a colour:
// the sum of the channel differences (the desktop's own rule, used for
// single pixels and transparent colours) or the squared distance (the
// halftone mappings).
enum class ColorDistance { kSumOfDifferences, kSquared };

// The index of the palette entry nearest to (red, green, blue); the lowest
// index among equally near entries; 0 for an empty palette.
inline int NearestIndex(const RgbQuad* palette, size_t count, uint8_t red, uint8_t green, uint8_t blue,
                        ColorDistance distance) {
  int best = 0;
  int best_distance = 1 << 30;
  for (size_t i = 0; i < count; ++i) {
    const int dr = palette[i].red - red, dg = palette[i].green - green, db = palette[i].blue - blue;
    const int d = distance == ColorDistance::kSquared ? dr * dr + dg * dg + db * db
                                                      : (dr < 0 ? -dr : dr) + (dg < 0 ? -dg : dg) + (db < 0 ? -db : db);
    if (d < best_distance) {
      best_distance = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return best;
}

// Bytes in one stored row: rows are padded to 32 bits, as in a DIB.
constexpr int64_t RowBytes(int64_t width, int bits) { return ((width * bits + 31) / 32) * 4; }

// The palette index of pixel x of a row of 1, 4 or 8 bits, packed as in a
// DIB (the leftmost pixel in the high bits).
constexpr int IndexAt(const uint8_t* row, int x, int bits) {
  return bits == 1   ? (row[x >> 3] >> (7 - (x & 7))) & 1
         : bits == 4 ? ((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4)
                     : row[x];
}

// A grey ramp of entries levels (2 to 256), black to white in equal steps.
inline std::vector<RgbQuad> GreyRamp(int entries) {
  std::vector<RgbQuad> ramp(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) {
    const uint8_t v = static_cast<uint8_t>(i * 255 / (entries - 1));
    ramp[static_cast<size_t>(i)] = {v, v, v, 0};
  }
  return ramp;
}

// A colour with straight alpha composited over white, as every reader of a
// format with transparency hands it to the bitmap.
inline uint8_t OverWhite(int value, int alpha) {
  return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

}  // namespace velmora
