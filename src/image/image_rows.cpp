#include "image/image_rows.h"

namespace velmora {

ImageRows::ImageRows(const Bitmap& bitmap) {
  if (bitmap.Bits() == 32) {
    copy_ = bitmap.To24Bit();
    UseBitmap(copy_);
  } else {
    UseBitmap(bitmap);
  }
}

ImageRows::ImageRows(const DibImage& image) {
  const PixelFormat format = image.GetPixelFormat();
  if (format == PixelFormat::k4BitRLE || format == PixelFormat::k8BitRLE) {
    image.AssignTo(copy_);
    UseBitmap(copy_);
    return;
  }
  width_ = image.Width();
  height_ = image.Height();
  bits_ = image.BitCount();
  palette_ = image.Palette().value_or(std::vector<RgbQuad>{});
  image_ = &image;
}

void ImageRows::UseBitmap(const Bitmap& bitmap) {
  width_ = bitmap.Width();
  height_ = bitmap.Height();
  bits_ = bitmap.Bits();
  palette_ = bitmap.Palette();
  bitmap_ = &bitmap;
}

}  // namespace velmora
