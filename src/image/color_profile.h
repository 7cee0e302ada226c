// Embedded colour profiles (ICC, through lcms2): what a profile describes,
// and pictures converted from it to sRGB, row by row in place, so that every
// output shows the colours the picture was made with. A picture whose
// profile is sRGB, or that has none, is left as it is.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/bitmap.h"

namespace velmora {

using IccBytes = std::vector<uint8_t>;

enum class ProfileSpace { kNone, kRgb, kGray, kCmyk, kOther };

// The colour space a profile describes; kNone when lcms2 cannot read it.
ProfileSpace SpaceOf(const IccBytes& icc);

// Whether an RGB or grey profile maps every colour to itself in sRGB, give or
// take one level: such a picture's bytes stay as they are.
bool IsSrgbLike(const IccBytes& icc);

// The picture (24-bit, 32-bit with alpha beside, or indexed: its palette) converted from the profile's
// RGB or grey space to sRGB with the perceptual intent. Returns false and
// leaves the picture alone for a profile it cannot use (unreadable, CMYK,
// sRGB already).
bool ConvertToSrgb(Bitmap& picture, const IccBytes& icc);

// CMYK samples to sRGB, a row at a time: through the picture's own profile
// when it is a CMYK one, else through the standard one the caller found
// (ink amounts, 0 = no ink; inverted = Adobe's way, 255 = no ink).
class CmykToSrgb {
 public:
  CmykToSrgb(const IccBytes* own, const IccBytes* standard, bool inverted);
  ~CmykToSrgb();
  CmykToSrgb(const CmykToSrgb&) = delete;
  CmykToSrgb& operator=(const CmykToSrgb&) = delete;
  // Whether a profile is used; without one the caller keeps its own arithmetic.
  bool Managed() const { return transform_ != nullptr; }
  // width pixels of 4 samples to 3 bytes each, blue first.
  void Row(const uint8_t* cmyk, uint8_t* bgr, int width) const;

 private:
  void* transform_ = nullptr;
};

}  // namespace velmora
