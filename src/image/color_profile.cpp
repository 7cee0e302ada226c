#include "image/color_profile.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "base/messages.h"

namespace velmora {
namespace {

// What one profile may make lcms2 allocate. A table is never larger in
// memory than a few times its bytes in the file (8-bit samples become
// 16-bit), and what lcms2 adds for a transform (its precalculated grids)
// is a few MB whatever the profile: so a claim beyond kFloor + kPerByte ×
// the profile's size is refused before the table exists.
constexpr size_t kFloor = size_t{16} << 20;
constexpr size_t kPerByte = 4;
constexpr size_t kHeader = 128;

// The books of one context: every block carries its size in front of it.
struct Books {
  size_t single_cap = 0;
  size_t total_cap = 0;
  std::atomic<size_t> used{0};
  std::string first_error;
  bool refused = false;
};
constexpr size_t kBlockHead = 16;

Books* BooksOf(cmsContext context) { return static_cast<Books*>(cmsGetContextUserData(context)); }

void* Allocate(cmsContext context, cmsUInt32Number size) {
  Books* books = BooksOf(context);
  if (books) {
    if (size > books->single_cap || books->used.load() + size > books->total_cap) {
      books->refused = true;
      return nullptr;
    }
    books->used += size;
  }
  auto* block = static_cast<uint8_t*>(std::malloc(size + kBlockHead));
  if (!block) {
    if (books) books->used -= size;
    return nullptr;
  }
  std::memcpy(block, &size, sizeof size);
  return block + kBlockHead;
}

void Free(cmsContext context, void* p) {
  if (!p) return;
  uint8_t* block = static_cast<uint8_t*>(p) - kBlockHead;
  cmsUInt32Number size = 0;
  std::memcpy(&size, block, sizeof size);
  if (Books* books = BooksOf(context)) books->used -= size;
  std::free(block);
}

void* Reallocate(cmsContext context, void* p, cmsUInt32Number size) {
  if (!p) return Allocate(context, size);
  cmsUInt32Number old = 0;
  std::memcpy(&old, static_cast<uint8_t*>(p) - kBlockHead, sizeof old);
  void* fresh = Allocate(context, size);
  if (!fresh) return nullptr;
  std::memcpy(fresh, p, std::min(old, size));
  Free(context, p);
  return fresh;
}

void OnError(cmsContext context, cmsUInt32Number, const char* text) {
  Books* books = BooksOf(context);
  if (books && books->first_error.empty() && text) books->first_error = text;
}

cmsPluginMemHandler MemoryPlugin() {
  cmsPluginMemHandler plugin{};
  plugin.base.Magic = cmsPluginMagicNumber;
  plugin.base.ExpectedVersion = 2060;
  plugin.base.Type = cmsPluginMemHandlerSig;
  plugin.base.Next = nullptr;
  plugin.MallocPtr = Allocate;
  plugin.FreePtr = Free;
  plugin.ReallocPtr = Reallocate;
  return plugin;
}

ProfileSpace SpaceOf(cmsHPROFILE profile) {
  switch (cmsGetColorSpace(profile)) {
    case cmsSigRgbData: return ProfileSpace::kRgb;
    case cmsSigGrayData: return ProfileSpace::kGray;
    case cmsSigCmykData: return ProfileSpace::kCmyk;
    default: return ProfileSpace::kOther;
  }
}

uint32_t DeclaredSize(const IccBytes& icc) {
  return uint32_t{icc[0]} << 24 | uint32_t{icc[1]} << 16 | uint32_t{icc[2]} << 8 | icc[3];
}

// Grey is read from the first of three equal samples, the others skipped.
constexpr cmsUInt32Number kGreyInBgr = COLORSPACE_SH(PT_GRAY) | CHANNELS_SH(1) | BYTES_SH(1) | EXTRA_SH(2);

bool MapsToItself(cmsHTRANSFORM transform) {
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

bool GreyKeepsLevels(cmsHTRANSFORM transform) {
  uint8_t in[256 * 3], out[256 * 3];
  for (int v = 0; v < 256; ++v) in[v * 3] = in[v * 3 + 1] = in[v * 3 + 2] = static_cast<uint8_t>(v);
  cmsDoTransform(transform, in, out, 256);
  for (int i = 0; i < 256 * 3; ++i)
    if (std::abs(int(in[i]) - int(out[i])) > 1) return false;
  return true;
}

}  // namespace

// The context, the profile and the transform, released in the reverse order.
struct ColorProfile::Impl {
  Books books;
  cmsContext context = nullptr;
  cmsHPROFILE profile = nullptr;
  cmsHTRANSFORM transform = nullptr;

  Impl(size_t profile_bytes, const DecodeLimits& limits) {
    const size_t most = static_cast<size_t>(std::max<int64_t>(limits.max_allocation, 1));
    books.single_cap = std::min(most, kFloor + kPerByte * profile_bytes);
    books.total_cap = std::min(most, 2 * kFloor + 2 * kPerByte * profile_bytes);
    cmsPluginMemHandler plugin = MemoryPlugin();
    context = cmsCreateContext(&plugin, &books);
    if (context) cmsSetLogErrorHandlerTHR(context, OnError);
  }
  ~Impl() {
    if (transform) cmsDeleteTransform(transform);
    if (profile) cmsCloseProfile(profile);
    if (context) cmsDeleteContext(context);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  // lcms2's reason, or ours when it refused memory.
  std::string Reason(const char* fallback) const {
    if (books.refused) return Tr("its tables claim more memory than the profile can hold");
    if (!books.first_error.empty()) return "lcms2: " + books.first_error;
    return Tr(fallback);
  }
};

ColorProfile::ColorProfile() = default;
ColorProfile::~ColorProfile() = default;
ColorProfile::ColorProfile(ColorProfile&&) noexcept = default;
ColorProfile& ColorProfile::operator=(ColorProfile&&) noexcept = default;

ColorProfile::ColorProfile(const IccBytes& icc, const DecodeLimits& limits, bool cmyk_inverted) {
  if (icc.empty()) return;
  space_ = ProfileSpace::kOther;
  if (icc.size() < kHeader + 4) {
    problem_ = Tr("it holds {1} bytes, less than a profile's header", {std::to_string(icc.size())});
    return;
  }
  const uint32_t declared = DeclaredSize(icc);
  if (declared > icc.size() || declared < kHeader + 4) {
    problem_ = Tr("it declares {1} bytes but holds {2}", {std::to_string(declared), std::to_string(icc.size())});
    return;
  }
  // Bytes after the declared end (padding some writers add) are not the profile's.
  bytes_.assign(icc.begin(), icc.begin() + declared);
  impl_ = std::make_unique<Impl>(bytes_.size(), limits);
  if (!impl_->context) {
    problem_ = Tr("not enough memory");
    return;
  }
  impl_->profile = cmsOpenProfileFromMemTHR(impl_->context, bytes_.data(), static_cast<cmsUInt32Number>(bytes_.size()));
  if (!impl_->profile) {
    problem_ = impl_->Reason(N_("lcms2 cannot read it"));
    return;
  }
  space_ = SpaceOf(impl_->profile);
  if (space_ == ProfileSpace::kOther) return;  // neither applied nor kept: nothing to check
  cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(impl_->context);
  if (!srgb) {
    problem_ = impl_->Reason(N_("not enough memory"));
    return;
  }
  const cmsUInt32Number in = space_ == ProfileSpace::kRgb    ? TYPE_BGR_8
                             : space_ == ProfileSpace::kGray ? kGreyInBgr
                             : cmyk_inverted                 ? TYPE_CMYK_8_REV
                                                             : TYPE_CMYK_8;
  impl_->transform =
      cmsCreateTransformTHR(impl_->context, impl_->profile, in, srgb, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
  cmsCloseProfile(srgb);
  if (!impl_->transform) {
    problem_ = impl_->Reason(N_("lcms2 cannot convert from it to sRGB"));
    return;
  }
  usable_ = true;
  if (space_ == ProfileSpace::kRgb) srgb_like_ = MapsToItself(impl_->transform);
  if (space_ == ProfileSpace::kGray) srgb_like_ = GreyKeepsLevels(impl_->transform);
}

bool ColorProfile::Keepable() const {
  if (!usable_ || space_ != ProfileSpace::kRgb) return false;
  // The transform an encoder working in linear light builds: floating
  // point, to linear sRGB primaries, at high precision.
  cmsToneCurve* linear = cmsBuildGamma(impl_->context, 1.0);
  if (!linear) return false;
  cmsToneCurve* curves[3] = {linear, linear, linear};
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsHPROFILE target = cmsCreateRGBProfileTHR(impl_->context, &white, &primaries, curves);
  cmsFreeToneCurve(linear);
  if (!target) return false;
  cmsHTRANSFORM check =
      cmsCreateTransformTHR(impl_->context, impl_->profile, TYPE_RGB_FLT, target, TYPE_RGB_FLT, INTENT_PERCEPTUAL,
                            cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_HIGHRESPRECALC);
  cmsCloseProfile(target);
  if (!check) return false;
  // Every sample of a coarse grid must come out a number.
  std::vector<float> grid, out;
  for (int b = 0; b <= 4; ++b)
    for (int g = 0; g <= 4; ++g)
      for (int r = 0; r <= 4; ++r) grid.insert(grid.end(), {r / 4.0f, g / 4.0f, b / 4.0f});
  out.resize(grid.size());
  cmsDoTransform(check, grid.data(), out.data(), static_cast<cmsUInt32Number>(grid.size() / 3));
  cmsDeleteTransform(check);
  return std::all_of(out.begin(), out.end(), [](float v) { return v == v && v > -1e6f && v < 1e6f; });
}

bool ColorProfile::ConvertToSrgb(Bitmap& picture) const {
  if (!usable_ || srgb_like_ || (space_ != ProfileSpace::kRgb && space_ != ProfileSpace::kGray)) return false;
  cmsHTRANSFORM transform = impl_->transform;
  if (picture.Bits() <= 8) {
    // An indexed picture's colours are its palette.
    std::vector<RgbQuad> palette = picture.Palette();
    std::vector<uint8_t> bgr(palette.size() * 3);
    for (size_t i = 0; i < palette.size(); ++i)
      bgr[i * 3] = palette[i].blue, bgr[i * 3 + 1] = palette[i].green, bgr[i * 3 + 2] = palette[i].red;
    cmsDoTransform(transform, bgr.data(), bgr.data(), static_cast<cmsUInt32Number>(palette.size()));
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
      cmsDoTransform(transform, bgr.data(), bgr.data(), static_cast<cmsUInt32Number>(picture.Width()));
      for (int x = 0; x < picture.Width(); ++x) std::copy_n(&bgr[size_t(x) * 3], 3, row + x * 4);
    }
    return true;
  }
  for (int y = 0; y < picture.Height(); ++y)
    cmsDoTransform(transform, picture.Row(y), picture.Row(y), static_cast<cmsUInt32Number>(picture.Width()));
  return true;
}

std::string ProfileIgnoredWarning(const std::string& problem) {
  return Tr("its colour profile is damaged and was ignored: {1}", {problem});
}

ProfileSpace ColorProfile::DeclaredSpace(const IccBytes& icc) {
  if (icc.size() < 20) return icc.empty() ? ProfileSpace::kNone : ProfileSpace::kOther;
  const uint32_t space = uint32_t{icc[16]} << 24 | uint32_t{icc[17]} << 16 | uint32_t{icc[18]} << 8 | icc[19];
  switch (space) {
    case cmsSigRgbData: return ProfileSpace::kRgb;
    case cmsSigGrayData: return ProfileSpace::kGray;
    case cmsSigCmykData: return ProfileSpace::kCmyk;
    default: return ProfileSpace::kOther;
  }
}

void ColorProfile::CmykRow(const uint8_t* cmyk, uint8_t* bgr, int width) const {
  cmsDoTransform(impl_->transform, cmyk, bgr, static_cast<cmsUInt32Number>(width));
}

CmykToSrgb::CmykToSrgb(const IccBytes* own, const IccBytes* standard, bool inverted, const DecodeLimits& limits) {
  if (own && !own->empty() && ColorProfile::DeclaredSpace(*own) == ProfileSpace::kCmyk) {
    profile_ = ColorProfile(*own, limits, inverted);
    own_problem_ = profile_.Problem();
  }
  if (!Managed() && standard && !standard->empty()) profile_ = ColorProfile(*standard, limits, inverted);
}

CmykToSrgb::~CmykToSrgb() = default;

bool CmykToSrgb::Managed() const { return profile_.Usable() && profile_.Space() == ProfileSpace::kCmyk; }

void CmykToSrgb::Row(const uint8_t* cmyk, uint8_t* bgr, int width) const { profile_.CmykRow(cmyk, bgr, width); }

namespace {

constexpr std::array<double, 8> kSrgbPrimaries = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};

bool Said(const std::array<double, 8>& primaries) {
  return std::any_of(primaries.begin(), primaries.end(), [](double v) { return v != 0; });
}

}  // namespace

bool MeansSrgb(const StatedColour& stated) {
  const bool srgb_curve = stated.gamma == 0 || std::abs(stated.gamma * 2.2 - 1.0) <= 0.005;
  if (!srgb_curve) return false;
  if (!Said(stated.primaries)) return true;
  for (size_t i = 0; i < kSrgbPrimaries.size(); ++i)
    if (std::abs(stated.primaries[i] - kSrgbPrimaries[i]) > 0.0015) return false;
  return true;
}

IccBytes ProfileFor(const StatedColour& stated) {
  if (MeansSrgb(stated)) return {};
  if (stated.gamma != 0 && !(stated.gamma >= 0.1 && stated.gamma <= 10)) return {};
  const std::array<double, 8>& p = Said(stated.primaries) ? stated.primaries : kSrgbPrimaries;
  for (size_t i = 0; i < p.size(); i += 2)
    if (!(p[i] > 0 && p[i] < 1 && p[i + 1] > 0 && p[i + 1] < 1 && p[i] + p[i + 1] <= 1)) return {};
  // The primaries' triangle must have an area: lcms2 would divide by zero.
  const double area = (p[2] - p[0]) * (p[5] - p[1]) - (p[4] - p[0]) * (p[3] - p[1]);
  if (std::abs(area) < 1e-4) return {};

  cmsContext context = cmsCreateContext(nullptr, nullptr);
  if (!context) return {};
  cmsSetLogErrorHandlerTHR(context, [](cmsContext, cmsUInt32Number, const char*) {});
  // sRGB's piecewise curve as lcms2's parametric type 4.
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve =
      stated.gamma != 0 ? cmsBuildGamma(context, 1.0 / stated.gamma) : cmsBuildParametricToneCurve(context, 4, srgb);
  IccBytes bytes;
  if (curve) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const cmsCIExyY white = {p[6], p[7], 1.0};
    const cmsCIExyYTRIPLE primaries = {{p[0], p[1], 1.0}, {p[2], p[3], 1.0}, {p[4], p[5], 1.0}};
    if (cmsHPROFILE profile = cmsCreateRGBProfileTHR(context, &white, &primaries, curves)) {
      cmsUInt32Number size = 0;
      if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
      }
      cmsCloseProfile(profile);
    }
    cmsFreeToneCurve(curve);
  }
  cmsDeleteContext(context);
  return bytes;
}

}  // namespace velmora
