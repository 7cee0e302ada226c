#include "image/color_profile.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>

namespace velmora {
namespace {

struct ProfileClose {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformDelete {
  void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileClose>;
using Transform = std::unique_ptr<void, TransformDelete>;

Profile Open(const IccBytes& icc) {
  if (icc.empty() || icc.size() > (1u << 30)) return Profile();
  return Profile(cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size())));
}

ProfileSpace SpaceOf(void* profile) {
  switch (cmsGetColorSpace(profile)) {
    case cmsSigRgbData: return ProfileSpace::kRgb;
    case cmsSigGrayData: return ProfileSpace::kGray;
    case cmsSigCmykData: return ProfileSpace::kCmyk;
    default: return ProfileSpace::kOther;
  }
}

// Grey is read from the first of three equal samples, the others skipped.
constexpr cmsUInt32Number kGreyInBgr = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);

// From an RGB or grey profile to sRGB; BGR bytes in and out.
Transform ToSrgb(void* profile) {
  const ProfileSpace space = SpaceOf(profile);
  if (space != ProfileSpace::kRgb && space != ProfileSpace::kGray) return Transform();
  Profile srgb(cmsCreate_sRGBProfile());
  if (!srgb) return Transform();
  return Transform(cmsCreateTransform(profile, space == ProfileSpace::kRgb ? TYPE_BGR_8 : kGreyInBgr, srgb.get(),
                                      TYPE_BGR_8, INTENT_PERCEPTUAL, 0));
}

bool MapsToItself(void* transform) {
  // A grid over the whole cube, its corners and edges included.
  std::vector<uint8_t> in, out;
  for (int b = 0; b <= 255; b += 15)
    for (int g = 0; g <= 255; g += 15)
      for (int r = 0; r <= 255; r += 15) in.insert(in.end(), {uint8_t(b), uint8_t(g), uint8_t(r)});
  out.resize(in.size());
  cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(in.size() / 3));
  for (size_t i = 0; i < in.size(); ++i)
    if (std::abs(int(in[i]) - int(out[i])) > 1) return false;
  return true;
}

}  // namespace

ProfileSpace SpaceOf(const IccBytes& icc) {
  const Profile profile = Open(icc);
  return profile ? SpaceOf(profile.get()) : ProfileSpace::kNone;
}

namespace {

// Whether the transform of an RGB or grey profile to sRGB keeps every colour
// within one level (grey profiles on grey input only).
bool KeepsColours(void* profile, void* transform) {
  if (SpaceOf(profile) != ProfileSpace::kGray) return MapsToItself(transform);
  uint8_t in[256 * 3], out[256 * 3];
  for (int v = 0; v < 256; ++v) in[v * 3] = in[v * 3 + 1] = in[v * 3 + 2] = static_cast<uint8_t>(v);
  cmsDoTransform(transform, in, out, 256);
  for (int i = 0; i < 256 * 3; ++i)
    if (std::abs(int(in[i]) - int(out[i])) > 1) return false;
  return true;
}

}  // namespace

bool IsSrgbLike(const IccBytes& icc) {
  const Profile profile = Open(icc);
  if (!profile) return false;
  const Transform transform = ToSrgb(profile.get());
  return transform && KeepsColours(profile.get(), transform.get());
}

bool ConvertToSrgb(Bitmap& picture, const IccBytes& icc) {
  const Profile profile = Open(icc);
  if (!profile) return false;
  // One transform, both to test and to convert with.
  const Transform transform = ToSrgb(profile.get());
  if (!transform || KeepsColours(profile.get(), transform.get())) return false;
  if (picture.Bits() <= 8) {
    // An indexed picture's colours are its palette.
    std::vector<RgbQuad> palette = picture.Palette();
    std::vector<uint8_t> bgr(palette.size() * 3);
    for (size_t i = 0; i < palette.size(); ++i)
      bgr[i * 3] = palette[i].blue, bgr[i * 3 + 1] = palette[i].green, bgr[i * 3 + 2] = palette[i].red;
    cmsDoTransform(transform.get(), bgr.data(), bgr.data(), static_cast<cmsUInt32Number>(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i)
      palette[i].blue = bgr[i * 3], palette[i].green = bgr[i * 3 + 1], palette[i].red = bgr[i * 3 + 2];
    picture.SetPalette(palette);
    return true;
  }
  if (picture.Bits() == 32) {
    // Blue, green, red and alpha: the colours go through a row of their own.
    std::vector<uint8_t> bgr(static_cast<size_t>(picture.Width()) * 3);
    for (int y = 0; y < picture.Height(); ++y) {
      uint8_t* row = picture.Row(y);
      for (int x = 0; x < picture.Width(); ++x) std::copy_n(row + x * 4, 3, &bgr[size_t(x) * 3]);
      cmsDoTransform(transform.get(), bgr.data(), bgr.data(), static_cast<cmsUInt32Number>(picture.Width()));
      for (int x = 0; x < picture.Width(); ++x) std::copy_n(&bgr[size_t(x) * 3], 3, row + x * 4);
    }
    return true;
  }
  for (int y = 0; y < picture.Height(); ++y)
    cmsDoTransform(transform.get(), picture.Row(y), picture.Row(y), static_cast<cmsUInt32Number>(picture.Width()));
  return true;
}

CmykToSrgb::CmykToSrgb(const IccBytes* own, const IccBytes* standard, bool inverted) {
  Profile profile;
  if (own && SpaceOf(*own) == ProfileSpace::kCmyk) profile = Open(*own);
  if (!profile && standard && SpaceOf(*standard) == ProfileSpace::kCmyk) profile = Open(*standard);
  if (!profile) return;
  Profile srgb(cmsCreate_sRGBProfile());
  if (!srgb) return;
  transform_ = cmsCreateTransform(profile.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb.get(), TYPE_BGR_8,
                                  INTENT_PERCEPTUAL, 0);
}

CmykToSrgb::~CmykToSrgb() {
  if (transform_) cmsDeleteTransform(transform_);
}

void CmykToSrgb::Row(const uint8_t* cmyk, uint8_t* bgr, int width) const {
  cmsDoTransform(transform_, cmyk, bgr, static_cast<cmsUInt32Number>(width));
}

}  // namespace velmora
