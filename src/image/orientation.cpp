#include "image/orientation.h"

#include <cstring>
#include <stdexcept>

namespace velmora {

Bitmap Oriented(const Bitmap& picture, int orientation) {
  if (orientation < 2 || orientation > 8) return picture;
  if (picture.Bits() < 8) throw std::logic_error("Oriented needs whole bytes per pixel");
  const int w = picture.Width(), h = picture.Height();
  const size_t bpp = static_cast<size_t>(picture.Bits() / 8);
  const bool swap = orientation >= 5;
  Bitmap out(swap ? h : w, swap ? w : h, picture.PixelFormat());
  out.SetPalette(picture.Palette());
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = picture.Row(y);
    for (int x = 0; x < w; ++x) {
      // Where stored pixel (x, y) shows.
      int dx, dy;
      switch (orientation) {
        case 2: dx = w - 1 - x, dy = y; break;
        case 3: dx = w - 1 - x, dy = h - 1 - y; break;
        case 4: dx = x, dy = h - 1 - y; break;
        case 5: dx = y, dy = x; break;                  // transposed
        case 6: dx = h - 1 - y, dy = x; break;          // shown turned a quarter clockwise
        case 7: dx = h - 1 - y, dy = w - 1 - x; break;  // transversed
        default: dx = y, dy = w - 1 - x; break;         // 8: a quarter anticlockwise
      }
      std::memcpy(out.Row(dy) + dx * bpp, s + x * bpp, bpp);
    }
  }
  return out;
}

}  // namespace velmora
