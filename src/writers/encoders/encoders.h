// JPEG and TIFF output on libjpeg-turbo and libtiff, standing in for the
// desktop's image encoders.
#pragma once

#include <iosfwd>
#include <stdexcept>

#include "image/bitmap.h"

namespace velmora {

class EncoderError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A baseline JPEG of quality 0..100 (0 is taken as libjpeg's minimum, 1).
// Indexed images are expanded through their palette; an image whose palette
// holds only greys is written as a greyscale JPEG.
void EncodeJpeg(const Bitmap& bitmap, int quality, std::ostream& out);

// A TIFF of the image as it is: 1, 4 or 8 bits with a colour map, or 24-bit
// RGB; LZW compression (with the horizontal predictor for RGB).
void EncodeTiff(const Bitmap& bitmap, std::ostream& out);

}  // namespace velmora
