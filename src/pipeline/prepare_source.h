// A loaded picture made ready for the writers, the same way whether one job
// converts or several do: size, colour depth, and the picked point carried
// from the picture as loaded to the prepared one.
#pragma once

#include <optional>

#include "formats/graphic.h"
#include "formats/output_format.h"
#include "image/bitmap.h"
#include "image/color_profile.h"
#include "image/dib_image.h"
#include "image/limits.h"
#include "image/prepare.h"
#include "pipeline/writers.h"
#include "pipeline/settings.h"

namespace velmora {

struct PreparedPicture {
  DibImage image;
  FrameOptions frame;
  OutputExtras extras;  // the profile, EXIF and XMP the outputs carry
  int loaded_width = 0, loaded_height = 0;  // before sizing
};

// What a decoder handed over, in sRGB unless its profile is kept: the
// picture over white (what the picker shows), what the file carried, and
// when the alpha was asked for and some pixel is not opaque, the straight
// colours with their alpha (32 bits).
struct LoadedPicture {
  Bitmap working;
  Embedded carried;  // its profile only when it travels with the picture
  Bitmap alpha;
  std::vector<std::string> warnings;  // a profile passed over
};
LoadedPicture TakeLoaded(Graphic& graphic, const Settings& settings);

// The size a width x height picture will have once prepared.
void PreparedSizeOf(const Settings& settings, int64_t width, int64_t height, int64_t& out_width, int64_t& out_height);

// The loaded picture with what its file carried: sized and reduced; the
// kept profile, EXIF and XMP fitted to the result, and the alpha prepared
// the same way, when asked. x_point and y_point: the picked point on the
// picture as loaded; a point outside it stays outside (-1), so that the GIF
// frame step fails.
PreparedPicture PreparePicture(LoadedPicture loaded, const Settings& settings, int x_point, int y_point,
                               const DecodeLimits& limits);

}  // namespace velmora
