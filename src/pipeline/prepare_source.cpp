#include "pipeline/prepare_source.h"

#include <cstdint>
#include <utility>

#include "formats/metadata.h"
#include "image/color_profile.h"
#include "image/prepare.h"

namespace velmora {
namespace {

// The picked point scaled from the loaded bitmap to the prepared one.
int Scale(int v, int new_size, int old_size) {
  return old_size > 0 ? static_cast<int>(static_cast<int64_t>(v) * new_size / old_size) : v;
}

}  // namespace

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
  return fit;
}

bool KeepsProfile(const Embedded& carried, const Settings& settings) {
  return settings.keep_profile && !carried.icc.empty() && SpaceOf(carried.icc) == ProfileSpace::kRgb;
}

void ApplyProfile(Bitmap& working, const Embedded& carried, const Settings& settings) {
  if (!carried.icc.empty() && !KeepsProfile(carried, settings)) ConvertToSrgb(working, carried.icc);
}

PreparedPicture PreparePicture(Bitmap working, const Embedded& carried, const Settings& settings, int x_point,
                               int y_point, const DecodeLimits& limits) {
  PreparedPicture p;
  if (KeepsProfile(carried, settings)) p.extras.icc = std::make_shared<const IccBytes>(carried.icc);
  const int loaded_w = working.Width(), loaded_h = working.Height();
  const bool inside = x_point >= 0 && y_point >= 0 && x_point < loaded_w && y_point < loaded_h;
  if (const std::optional<SizeFit> fit = SizeFitOf(settings))
    PrepareSize(working, *fit, limits);
  else
    PrepareSize(working, settings.O_gsize, limits);
  PreparePixelColor(std::move(working), p.image, settings.C_PixelColor);
  p.frame.trans = settings.C_Trans;
  p.frame.x = inside ? Scale(x_point, p.image.Width(), loaded_w) : -1;
  p.frame.y = inside ? Scale(y_point, p.image.Height(), loaded_h) : -1;
  if (settings.V_metadata && (!carried.exif.empty() || !carried.xmp.empty())) {
    FittedMetadata fitted = FitMetadata(carried, p.image.Width(), p.image.Height(), settings.strip_location);
    if (!fitted.exif.empty()) p.extras.exif = std::make_shared<const std::vector<uint8_t>>(std::move(fitted.exif));
    if (!fitted.xmp.empty()) p.extras.xmp = std::make_shared<const std::string>(std::move(fitted.xmp));
  }
  return p;
}

}  // namespace velmora
