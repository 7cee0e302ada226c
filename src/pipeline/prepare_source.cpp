#include "pipeline/prepare_source.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "formats/metadata.h"
#include "base/messages.h"
#include "image/color_profile.h"
#include "image/orientation.h"
#include "image/prepare.h"

namespace velmora {
namespace {

// The picked point scaled from the loaded bitmap to the prepared one.
int Scale(int v, int new_size, int old_size) {
  return old_size > 0 ? static_cast<int>(static_cast<int64_t>(v) * new_size / old_size) : v;
}

// The size the settings ask for beyond the eight factors: the longest side,
// or the fit, when the list's "指定…" is chosen; nothing otherwise (or for a
// fit that does not read, which keeps the size).
std::optional<SizeFit> SizeFitOf(const Settings& settings) {
  if (settings.O_gsize != Settings::kSizeFitIndex) return std::nullopt;
  std::optional<SizeFit> fit;
  if (settings.long_edge > 0) {
    fit = SizeFit{};
    fit->kind = SizeFit::Kind::kLongEdge;
    fit->value = settings.long_edge;
  } else {
    fit = ParseSizeFit(settings.size_fit);
  }
  if (fit) fit->enlarge = settings.enlarge;
  if (fit && settings.fit != Settings::Fit::kContain)
    fit->mode = settings.fit == Settings::Fit::kCover ? SizeFit::Mode::kCover : SizeFit::Mode::kFill;
  return fit;
}

// The turn and the flip asked for, as the EXIF orientations that undo them.
std::vector<int> TurnsOf(const Settings& settings) {
  std::vector<int> turns;
  if (settings.rotate == 90) turns.push_back(6);
  if (settings.rotate == 180) turns.push_back(3);
  if (settings.rotate == 270) turns.push_back(8);
  if (settings.flip == 'h') turns.push_back(2);
  if (settings.flip == 'v') turns.push_back(4);
  return turns;
}

// The picture (and its alpha, and the picked point) turned and flipped.
void Turn(Bitmap& picture, Bitmap& alpha, int& x, int& y, const Settings& settings) {
  for (int turn : TurnsOf(settings)) {
    const int w = picture.Width(), h = picture.Height();
    if (x >= 0 && y >= 0) {
      const int ox = x, oy = y;
      if (turn == 6) x = h - 1 - oy, y = ox;
      if (turn == 3) x = w - 1 - ox, y = h - 1 - oy;
      if (turn == 8) x = oy, y = w - 1 - ox;
      if (turn == 2) x = w - 1 - ox;
      if (turn == 4) y = h - 1 - oy;
    }
    if (picture.Bits() < 8) picture = picture.To24Bit();
    picture = Oriented(picture, turn);
    if (!alpha.Empty()) alpha = Oriented(alpha, turn);
  }
}

// The picture's profile read once: an RGB profile travels with the pixels
// as they are when asked and when it can; any other usable one is applied
// to them, so that every picture without a kept profile is sRGB. One that
// cannot be read whole is passed over with a warning, as if there were none.
void ApplyProfile(LoadedPicture& loaded, const Settings& settings, const DecodeLimits& limits) {
  IccBytes& icc = loaded.carried.icc;
  // A CMYK profile was the decoder's to use.
  if (icc.empty() || ColorProfile::DeclaredSpace(icc) == ProfileSpace::kCmyk) {
    icc.clear();
    return;
  }
  const ColorProfile profile(icc, limits);
  icc.clear();
  if (!profile.Problem().empty()) {
    loaded.warnings.push_back(ProfileIgnoredWarning(profile.Problem()));
    return;
  }
  if (settings.keep_profile && profile.Space() == ProfileSpace::kRgb) {
    if (profile.Keepable()) {
      icc = profile.Bytes();
      return;
    }
    loaded.warnings.push_back(Tr("its colour profile cannot travel with the picture: the colours are converted to sRGB"));
  }
  profile.ConvertToSrgb(loaded.working);
  if (!loaded.alpha.Empty()) profile.ConvertToSrgb(loaded.alpha);
}

bool Opaque(const Bitmap& alpha) {
  for (int y = 0; y < alpha.Height(); ++y) {
    const uint8_t* row = alpha.Row(y);
    for (int x = 0; x < alpha.Width(); ++x)
      if (row[x * 4 + 3] != 255) return false;
  }
  return true;
}

// Sized as the picture, whichever way asked.
void Resize(Bitmap& bitmap, const std::optional<SizeFit>& fit, const Settings& settings, const DecodeLimits& limits) {
  if (fit)
    PrepareSize(bitmap, *fit, limits);
  else
    PrepareSize(bitmap, settings.O_gsize, limits);
}

// The straight colours and the alpha sized and reduced as the picture is:
// the colours and the alpha (as grey) resampled apart.
std::shared_ptr<const AlphaPicture> PrepareAlpha(Bitmap kept, const std::optional<SizeFit>& fit, const Settings& settings,
                                                 const DecodeLimits& limits) {
  const int w = kept.Width(), h = kept.Height();
  Bitmap colours(w, h, Bitmap::Format::k24Bit), alpha(w, h, Bitmap::Format::k8Bit);
  alpha.SetPalette(GreyRamp(256));
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = kept.Row(y);
    uint8_t* c = colours.Row(y);
    uint8_t* a = alpha.Row(y);
    for (int x = 0; x < w; ++x, s += 4, c += 3) c[0] = s[0], c[1] = s[1], c[2] = s[2], a[x] = s[3];
  }
  kept = Bitmap();
  Resize(colours, fit, settings, limits);
  Resize(alpha, fit, settings, limits);
  auto out = std::make_shared<AlphaPicture>();
  PreparePixelColor(std::move(colours), out->straight, settings.C_PixelColor);
  const int ow = out->straight.Width(), oh = out->straight.Height();
  out->alpha.resize(static_cast<size_t>(ow) * static_cast<size_t>(oh));
  // A resampled alpha is 24-bit grey; one as it was, indexed.
  for (int y = 0; y < oh; ++y) {
    const uint8_t* row = alpha.Row(y);
    const int step = alpha.Bits() / 8;
    for (int x = 0; x < ow; ++x) out->alpha[size_t(y) * ow + x] = row[x * step];
  }
  return out;
}

}  // namespace

void PreparedSizeOf(const Settings& settings, int64_t width, int64_t height, int64_t& out_width, int64_t& out_height) {
  // A quarter turn swaps the sides before sizing.
  if (settings.rotate == 90 || settings.rotate == 270) std::swap(width, height);
  if (const std::optional<SizeFit> fit = SizeFitOf(settings))
    FittedSize(*fit, width, height, out_width, out_height);
  else
    FactorSize(settings.O_gsize, width, height, out_width, out_height);
}

LoadedPicture TakeLoaded(Graphic& graphic, const Settings& settings) {
  LoadedPicture loaded;
  graphic.MoveTo(loaded.working);
  loaded.carried = std::move(graphic.Carried());
  loaded.alpha = graphic.TakeAlpha();
  if (!loaded.alpha.Empty() && (loaded.alpha.Width() != loaded.working.Width() ||
                                loaded.alpha.Height() != loaded.working.Height() || Opaque(loaded.alpha)))
    loaded.alpha = Bitmap();
  ApplyProfile(loaded, settings, graphic.Limits());
  return loaded;
}

PreparedPicture PreparePicture(LoadedPicture loaded, const Settings& settings, int x_point, int y_point,
                               const DecodeLimits& limits) {
  Bitmap& working = loaded.working;
  const Embedded& carried = loaded.carried;
  PreparedPicture p;
  p.loaded_width = working.Width(), p.loaded_height = working.Height();
  if (!carried.icc.empty()) p.extras.icc = std::make_shared<const IccBytes>(carried.icc);
  Turn(working, loaded.alpha, x_point, y_point, settings);
  const int loaded_w = working.Width(), loaded_h = working.Height();
  const bool inside = x_point >= 0 && y_point >= 0 && x_point < loaded_w && y_point < loaded_h;
  const std::optional<SizeFit> fit = SizeFitOf(settings);
  if (!loaded.alpha.Empty()) p.extras.alpha = PrepareAlpha(std::move(loaded.alpha), fit, settings, limits);
  Resize(working, fit, settings, limits);
  PreparePixelColor(std::move(working), p.image, settings.C_PixelColor);
  p.frame.trans = settings.C_Trans;
  p.frame.x = inside ? Scale(x_point, p.image.Width(), loaded_w) : -1;
  p.frame.y = inside ? Scale(y_point, p.image.Height(), loaded_h) : -1;
  if (settings.V_metadata && (!carried.exif.empty() || !carried.xmp.empty() || !carried.iptc.empty())) {
    FittedMetadata fitted = FitMetadata(carried, p.image.Width(), p.image.Height(), settings.strip_location);
    if (!fitted.exif.empty()) p.extras.exif = std::make_shared<const std::vector<uint8_t>>(std::move(fitted.exif));
    if (!fitted.xmp.empty()) p.extras.xmp = std::make_shared<const std::string>(std::move(fitted.xmp));
    if (!fitted.iptc.empty()) p.extras.iptc = std::make_shared<const std::vector<uint8_t>>(std::move(fitted.iptc));
  }
  return p;
}

}  // namespace velmora
