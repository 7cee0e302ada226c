#include "pipeline/prepare_source.h"

#include <cstdint>
#include <utility>

#include "image/prepare.h"

namespace velmora {
namespace {

// The picked point scaled from the loaded bitmap to the prepared one.
int Scale(int v, int new_size, int old_size) {
  return old_size > 0 ? static_cast<int>(static_cast<int64_t>(v) * new_size / old_size) : v;
}

}  // namespace

PreparedPicture PreparePicture(Bitmap working, const Settings& settings, int x_point, int y_point,
                               const DecodeLimits& limits) {
  PreparedPicture p;
  const int loaded_w = working.Width(), loaded_h = working.Height();
  const bool inside = x_point >= 0 && y_point >= 0 && x_point < loaded_w && y_point < loaded_h;
  PrepareSize(working, settings.O_gsize, limits);
  PreparePixelColor(std::move(working), p.image, settings.C_PixelColor);
  p.frame.trans = settings.C_Trans;
  p.frame.x = inside ? Scale(x_point, p.image.Width(), loaded_w) : -1;
  p.frame.y = inside ? Scale(y_point, p.image.Height(), loaded_h) : -1;
  return p;
}

}  // namespace velmora
