// The rows of a picture handed to an encoder, top row first, blue first for
// true colour, read where they are held: a Bitmap's memory, or a DIB's in
// place. Only what cannot be read in place is copied first: a 32-bit bitmap
// (to 24 bits) and a run-length compressed DIB.
#pragma once

#include <cstdint>
#include <vector>

#include "image/bitmap.h"
#include "image/dib_image.h"

namespace velmora {

class ImageRows {
 public:
  explicit ImageRows(const Bitmap& bitmap);
  explicit ImageRows(const DibImage& image);
  ImageRows(const ImageRows&) = delete;
  ImageRows& operator=(const ImageRows&) = delete;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // 1, 4, 8 or 24.
  int Bits() const { return bits_; }
  const std::vector<RgbQuad>& Palette() const { return palette_; }
  const uint8_t* Row(int y) const { return bitmap_ ? bitmap_->Row(y) : image_->TopRow(y); }

 private:
  void UseBitmap(const Bitmap& bitmap);

  int width_ = 0, height_ = 0, bits_ = 0;
  std::vector<RgbQuad> palette_;
  const Bitmap* bitmap_ = nullptr;
  const DibImage* image_ = nullptr;
  Bitmap copy_;  // what could not be read in place
};

}  // namespace velmora
