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
// lowest index on ties). The colour cube is cut into cells of 8 x 8 x 8; a
// cell, the first time a colour falls in it, lists the entries that can be
// nearest to some colour inside it (those no farther from the cell than the
// best entry's farthest corner), and a lookup searches only that list. The
// result is the full search's; the lists take a few hundred kilobytes where
// a cache of every colour took 32 MB beside the picture.
class NearestColorMap {
 public:
  // Few lookups search the whole palette rather than build lists.
  NearestColorMap(const std::vector<RgbQuad>& palette, int64_t expected_lookups);
  uint8_t IndexOf(uint8_t red, uint8_t green, uint8_t blue) {
    if (cells_.empty()) return static_cast<uint8_t>(Search(red, green, blue));
    Cell& cell = cells_[(static_cast<size_t>(red >> 3) << 10) | (static_cast<size_t>(green >> 3) << 5) | (blue >> 3)];
    if (cell.count == 0) Fill(cell, red & ~7, green & ~7, blue & ~7);
    if (cell.count == 1) return candidates_[cell.start];
    return Among(cell, red, green, blue);
  }

 private:
  struct Cell {
    uint32_t start = 0;
    uint16_t count = 0;  // 0 until filled; a filled cell has at least one entry
  };
  int Search(uint8_t red, uint8_t green, uint8_t blue) const;
  void Fill(Cell& cell, int red, int green, int blue);
  uint8_t Among(const Cell& cell, uint8_t red, uint8_t green, uint8_t blue) const;

  const std::vector<RgbQuad>& palette_;
  std::vector<Cell> cells_;  // 32 x 32 x 32, red major; empty when not worth it
  std::vector<uint8_t> candidates_;
};

// A copy of bitmap with 4 or 8 bits per pixel on the given palette.
Bitmap MapToPalette(const Bitmap& bitmap, const std::vector<RgbQuad>& palette, Bitmap::Format format);
// The same from 24-bit rows read where they are (a DIB's own).
Bitmap MapToPalette(const ImageRows& rows, const std::vector<RgbQuad>& palette, Bitmap::Format format);

}  // namespace velmora
