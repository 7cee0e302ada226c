// Fixed palettes of the desktop this system stands in for, and exact
// nearest-colour mapping onto a palette.
#pragma once

#include <cstdint>
#include <vector>

#include "image/bitmap.h"
#include "image/image_rows.h"
#include "image/color.h"

namespace velmora {

// The 16 colours of the system palette (VGA order: black, maroon, green,
// olive, navy, purple, teal, silver, grey, red, lime, yellow, blue, fuchsia,
// aqua, white).
const std::vector<RgbQuad>& SystemPalette16();

// A 256-colour halftone palette: the 20 static colours around the 6 x 6 x 6
// cube of levels 0, 51, ... 255, with 20 greys between the cube's levels.
const std::vector<RgbQuad>& HalftonePalette256();

// Maps colours to the nearest palette entry (smallest squared distance, the
// lowest index on ties); each distinct colour is searched once.
class NearestColorMap {
 public:
  // A full-colour cache pays off only for many lookups.
  NearestColorMap(const std::vector<RgbQuad>& palette, int64_t expected_lookups);
  uint8_t IndexOf(uint8_t red, uint8_t green, uint8_t blue);

 private:
  const std::vector<RgbQuad>& palette_;
  int Search(uint8_t red, uint8_t green, uint8_t blue) const;
  std::vector<int16_t> cache_;  // 2^24 entries, -1 until searched; empty when not worth it
};

// A copy of bitmap with 4 or 8 bits per pixel on the given palette.
Bitmap MapToPalette(const Bitmap& bitmap, const std::vector<RgbQuad>& palette, Bitmap::Format format);
// The same from 24-bit rows read where they are (a DIB's own).
Bitmap MapToPalette(const ImageRows& rows, const std::vector<RgbQuad>& palette, Bitmap::Format format);

}  // namespace velmora
