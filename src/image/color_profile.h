// Embedded colour profiles (ICC, through lcms2): what a profile describes,
// and pictures converted from it to sRGB, row by row in place, so that every
// output shows the colours the picture was made with. A picture whose
// profile is sRGB, or that has none, is left as it is.
//
// A profile is user data: lcms2 reads it in a context of ours whose memory
// is counted and limited, so that a table claimed larger than the profile
// could hold is refused before it is allocated, and a profile is trusted
// (applied, kept, handed to an encoder) only once a transform to sRGB has
// been built from it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/limits.h"

namespace velmora {

using IccBytes = std::vector<uint8_t>;

enum class ProfileSpace { kNone, kRgb, kGray, kCmyk, kOther };

// A profile opened once for a picture: read, checked and, for RGB and grey,
// its transform to sRGB built.
class ColorProfile {
 public:
  ColorProfile();
  // Never raises for bad data: an unusable profile says why in Problem().
  // cmyk_inverted: a CMYK profile's transform reads Adobe's inverted inks.
  ColorProfile(const IccBytes& icc, const DecodeLimits& limits, bool cmyk_inverted = false);
  ~ColorProfile();
  ColorProfile(ColorProfile&&) noexcept;
  ColorProfile& operator=(ColorProfile&&) noexcept;

  // The space the header declares (kNone without a profile).
  ProfileSpace Space() const { return space_; }
  // Read whole and a transform to sRGB built (for RGB and grey: the one
  // ConvertToSrgb uses; for CMYK: one from its inks).
  bool Usable() const { return usable_; }
  // The space a profile's header names, without reading the rest.
  static ProfileSpace DeclaredSpace(const IccBytes& icc);
  // Why a profile given is not usable: the size, or lcms2's own words.
  const std::string& Problem() const { return problem_; }
  // Whether the transform maps every colour to itself within one level:
  // such a picture's bytes stay as they are.
  bool SrgbLike() const { return srgb_like_; }
  // An RGB profile that can travel with a picture: usable, and a floating
  // point transform to linear light builds from it too, as the encoders
  // that convert to their own spaces (JPEG XL) build one.
  bool Keepable() const;
  // The profile's bytes, cut to the size its header declares.
  const IccBytes& Bytes() const { return bytes_; }

  // The picture (24-bit, 32-bit with alpha beside, or indexed: its palette)
  // from the profile's RGB or grey space to sRGB, perceptual intent. False,
  // and the picture left alone, when the profile is unusable, not RGB or
  // grey, or sRGB already.
  bool ConvertToSrgb(Bitmap& picture) const;
  // CMYK samples through a usable CMYK profile: width pixels of 4 samples
  // to 3 bytes each, blue first.
  void CmykRow(const uint8_t* cmyk, uint8_t* bgr, int width) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  ProfileSpace space_ = ProfileSpace::kNone;
  bool usable_ = false;
  bool srgb_like_ = false;
  std::string problem_;
  IccBytes bytes_;
};

// What a file that carries no profile says of its colours (PNG's gAMA and
// cHRM, a TIFF's chromaticity tags, the coded colour of JPEG XL and HEIF):
// the exponent its values were encoded with (1/2.2 is 0.45455; 0: none
// said, sRGB's own curve), and the chromaticities of red, green, blue and
// white, x then y (all zero: none said, sRGB's).
struct StatedColour {
  double gamma = 0;
  std::array<double, 8> primaries{};
};

// The one rule every reader follows: a gamma of 1/2.2 within 0.5 %, or
// sRGB's curve, with sRGB's primaries or none said is sRGB as ImageMagick
// and the browsers mean it, and the values stay as they are.
bool MeansSrgb(const StatedColour& stated);
// Any other is converted like a picture with an embedded profile: the
// profile that describes it. Empty when the values are sRGB, and when what
// is said can describe no picture (a gamma beyond 10 or below 1/10,
// primaries outside the chromaticity diagram or on one line).
IccBytes ProfileFor(const StatedColour& stated);

// The warning for a profile passed over: the picture is converted as if it
// had none.
std::string ProfileIgnoredWarning(const std::string& problem);

// CMYK samples to sRGB, a row at a time: through the picture's own profile
// when it is a usable CMYK one, else through the standard one the caller
// found (ink amounts, 0 = no ink; inverted = Adobe's way, 255 = no ink).
class CmykToSrgb {
 public:
  CmykToSrgb(const IccBytes* own, const IccBytes* standard, bool inverted, const DecodeLimits& limits);
  ~CmykToSrgb();
  CmykToSrgb(const CmykToSrgb&) = delete;
  CmykToSrgb& operator=(const CmykToSrgb&) = delete;
  // Whether a profile is used; without one the caller keeps its own arithmetic.
  bool Managed() const;
  // Why the picture's own profile was passed over, or empty.
  const std::string& OwnProblem() const { return own_problem_; }
  // width pixels of 4 samples to 3 bytes each, blue first.
  void Row(const uint8_t* cmyk, uint8_t* bgr, int width) const;

 private:
  ColorProfile profile_;
  std::string own_problem_;
};

}  // namespace velmora
