#include "image/orientation.h"

#include <cstring>
#include <stdexcept>

namespace velmora {

Bitmap Oriented(const Bitmap& picture, int orientation) {
  if (orientation < 2 || orientation > 8) return picture;
  if (picture.PixelFormat() != Bitmap::Format::k24Bit) throw std::logic_error("Oriented needs a 24-bit bitmap");
  const int w = picture.Width(), h = picture.Height();
  const bool swap = orientation >= 5;
  Bitmap out(swap ? h : w, swap ? w : h, Bitmap::Format::k24Bit);
  for (int y = 0; y < out.Height(); ++y) {
    uint8_t* d = out.Row(y);
    for (int x = 0; x < out.Width(); ++x) {
      int sx, sy;
      switch (orientation) {
        case 2: sx = w - 1 - x, sy = y; break;
        case 3: sx = w - 1 - x, sy = h - 1 - y; break;
        case 4: sx = x, sy = h - 1 - y; break;
        case 5: sx = y, sy = x; break;                  // transposed
        case 6: sx = y, sy = h - 1 - x; break;          // turned a quarter clockwise to view
        case 7: sx = w - 1 - y, sy = h - 1 - x; break;  // transversed
        default: sx = w - 1 - y, sy = x; break;         // 8: a quarter anticlockwise
      }
      std::memcpy(d + x * 3, picture.Row(sy) + sx * 3, 3);
    }
  }
  return out;
}

}  // namespace velmora
