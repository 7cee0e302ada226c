// The preparation step between loading and writing: size, then colour depth.
#pragma once

#include "image/bitmap.h"
#include "image/dib_image.h"
#include "image/limits.h"

namespace velmora {

// Size factors by list index: 0 "1/1" ... 7 "3x"; any other index (no item
// selected) resamples at the bitmap's own size. A result beyond limits (the
// loader's) is refused before it is made.
void PrepareSize(Bitmap& bitmap, int gsize_index, const DecodeLimits& limits = DecodeLimits{});

// Colour depth by list index: 0 full colour, 1 256 colours, 2 black and white;
// any other index takes the capture as it is. bitmap is not changed.
void PreparePixelColor(const Bitmap& bitmap, DibImage& image, int pixel_color_index);
// The same, handing the bitmap's pixel memory to the image where it can
// (no second copy of the picture); the bitmap is left empty.
void PreparePixelColor(Bitmap&& bitmap, DibImage& image, int pixel_color_index);

// Turns the bitmap into grey levels (24-bit, R = G = B) with the weights
// 0.289 / 0.586 / 0.114.
void GreyLevel(Bitmap& bitmap);

}  // namespace velmora
