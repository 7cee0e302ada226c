// The preparation step between loading and writing: size, then colour depth.
#pragma once

#include <optional>
#include <string>

#include "image/bitmap.h"
#include "image/dib_image.h"
#include "image/limits.h"

namespace velmora {

// Size factors by list index: 0 "1/1" ... 7 "3x"; any other index (no item
// selected) resamples at the bitmap's own size. A result beyond limits (the
// loader's) is refused before it is made.
void PrepareSize(Bitmap& bitmap, int gsize_index, const DecodeLimits& limits = DecodeLimits{});
// The size a w0 x h0 picture gets from the size list's factor (index 0
// keeps it); reads no picture.
void FactorSize(int gsize_index, int64_t w0, int64_t h0, int64_t& w, int64_t& h);

// Any size: inside a box (WxH), one side (W, xH), a percentage (N%) or the
// longest side, the other side following the picture's aspect, rounded to
// the nearest pixel (at least 1).
struct SizeFit {
  enum class Kind { kBox, kWidth, kHeight, kPercent, kLongEdge } kind = Kind::kBox;
  int width = 0, height = 0;  // kBox, kWidth, kHeight
  int value = 0;              // kPercent: the percentage; kLongEdge: the side
  bool enlarge = false;       // otherwise a picture already smaller stays as it is
  // How a box is filled: the picture inside it, the picture covering it and
  // cut to it at its centre, or stretched to it.
  enum class Mode { kContain, kCover, kFill } mode = Mode::kContain;
};
// "1920x1080", "800", "x600" or "50%" (sides 1..1048576, 1..1000 percent);
// nothing for anything else.
std::optional<SizeFit> ParseSizeFit(const std::string& text);
// The size a w x h picture gets, in 64 bits: it may be beyond any limit.
void FittedSize(const SizeFit& fit, int64_t w, int64_t h, int64_t& out_w, int64_t& out_h);
// The fit as the user gives it ("1920x1080", "800", "x600", "50%").
std::string SizeFitText(const SizeFit& fit);
// Resamples to the fitted size (the limits as for the factors).
void PrepareSize(Bitmap& bitmap, const SizeFit& fit, const DecodeLimits& limits = DecodeLimits{});

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
