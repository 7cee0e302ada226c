// A picture of the image model as the toolkit draws it.
#pragma once

#include <QImage>

#include "image/bitmap.h"

namespace velmora::gui {

// Any depth, as 24-bit RGB (the model keeps its colours in BGR order).
inline QImage ToQImage(const Bitmap& picture) {
  const Bitmap rgb = picture.To24Bit();
  QImage image(rgb.Width(), rgb.Height(), QImage::Format_RGB888);
  for (int y = 0; y < rgb.Height(); ++y) {
    const uint8_t* s = rgb.Row(y);
    uchar* d = image.scanLine(y);
    for (int x = 0; x < rgb.Width(); ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
  }
  return image;
}

}  // namespace velmora::gui
