// Turning a picture upright as its EXIF orientation (1 to 8) says.
#pragma once

#include "image/bitmap.h"

namespace velmora {

// A copy of a bitmap of 8 bits or more a pixel with the orientation undone:
// 2 mirrors, 3 turns half round, 4 flips, 5 to 8 swap the sides. Any other
// value copies.
Bitmap Oriented(const Bitmap& picture, int orientation);

}  // namespace velmora
