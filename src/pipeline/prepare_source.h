// A loaded picture made ready for the writers, the same way whether one job
// converts or several do: size, colour depth, and the picked point carried
// from the picture as loaded to the prepared one.
#pragma once

#include "image/bitmap.h"
#include "image/dib_image.h"
#include "image/limits.h"
#include "pipeline/combined.h"
#include "pipeline/settings.h"

namespace velmora {

struct PreparedPicture {
  DibImage image;
  FrameOptions frame;
};

// x_point and y_point: the picked point on the picture as loaded; a point
// outside it stays outside (-1), so that the GIF frame step fails.
PreparedPicture PreparePicture(Bitmap working, const Settings& settings, int x_point, int y_point,
                               const DecodeLimits& limits);

}  // namespace velmora
