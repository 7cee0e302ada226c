#include "image/prepare.h"

#include <cmath>

#include "image/resample.h"

namespace velmora {

void PrepareSize(Bitmap& bitmap, int gsize_index, const DecodeLimits& limits) {
  if (gsize_index == 0) return;
  const int w0 = bitmap.Width();
  const int h0 = bitmap.Height();
  int w = w0, h = h0;
  // Division before multiplication: 101 at 2/3 is 66, not 67.
  switch (gsize_index) {
    case 1:
      w = w0 / 2, h = h0 / 2;
      break;
    case 2:
      w = w0 / 3, h = h0 / 3;
      break;
    case 3:
      w = w0 / 5, h = h0 / 5;
      break;
    case 4:
      w = (w0 / 3) * 2, h = (h0 / 3) * 2;
      break;
    case 5:
      w = (w0 / 4) * 3, h = (h0 / 4) * 3;
      break;
    case 6:
      w = w0 * 2, h = h0 * 2;
      break;
    case 7:
      w = w0 * 3, h = h0 * 3;
      break;
    default:
      break;
  }
  // An image smaller than the divisor keeps one pixel in that direction
  // instead of failing on a zero size.
  if (w < 1) w = 1;
  if (h < 1) h = 1;
  CheckImageSize(limits, w, h, "Bitmap");
  bitmap = ResampleBitmap(bitmap, w, h);
}

void GreyLevel(Bitmap& bitmap) {
  Bitmap copy = bitmap.To24Bit();
  Bitmap grey(copy.Width(), copy.Height(), Bitmap::Format::k24Bit);
  for (int y = 0; y < copy.Height(); ++y) {
    const uint8_t* s = copy.Row(y);
    uint8_t* d = grey.Row(y);
    for (int x = 0; x < copy.Width(); ++x) {
      const long double g = s[x * 3 + 2] * 0.289L + s[x * 3 + 1] * 0.586L + s[x * 3] * 0.114L;
      long double r = std::nearbyintl(g);
      r = r < 0 ? 0 : r > 255 ? 255 : r;
      d[x * 3] = d[x * 3 + 1] = d[x * 3 + 2] = static_cast<uint8_t>(r);
    }
  }
  bitmap = std::move(grey);
}

void PreparePixelColor(const Bitmap& bitmap, DibImage& image, int pixel_color_index) {
  DibImage capture;
  switch (pixel_color_index) {
    case 0:
      capture.Assign(bitmap);
      capture.SetPixelFormat(PixelFormat::k24Bit);
      break;
    case 1:
      capture.Assign(bitmap);
      capture.SetPixelFormat(PixelFormat::k8Bit);
      break;
    case 2: {
      Bitmap grey = bitmap.To24Bit();
      GreyLevel(grey);
      capture.Assign(grey);
      break;
    }
    default:
      capture.Assign(bitmap);
      break;
  }
  image.Assign(capture);
}

void PreparePixelColor(Bitmap&& bitmap, DibImage& image, int pixel_color_index) {
  if (pixel_color_index == 2) {  // grey works on a copy anyway
    PreparePixelColor(static_cast<const Bitmap&>(bitmap), image, pixel_color_index);
    bitmap = Bitmap();
    return;
  }
  DibImage capture;
  capture.Assign(std::move(bitmap));
  if (pixel_color_index == 0) capture.SetPixelFormat(PixelFormat::k24Bit);
  if (pixel_color_index == 1) capture.SetPixelFormat(PixelFormat::k8Bit);
  image.Assign(capture);
}

}  // namespace velmora
