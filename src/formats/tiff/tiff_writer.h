// TIFF output on libtiff, standing in for the desktop's image encoder.
#pragma once

#include <iosfwd>

#include "base/error.h"
#include "formats/output_format.h"
#include "image/bitmap.h"
#include "image/dib_image.h"

namespace velmora {

// A TIFF of the image as it is: 1, 4 or 8 bits with a colour map, or 24-bit
// RGB; LZW compression (with the horizontal predictor for RGB).
void EncodeTiff(const Bitmap& bitmap, std::ostream& out);
// The same file from a DIB, read in place.
// extras: the profile and XMP as tags, EXIF as its own directory.
void EncodeTiff(const DibImage& image, std::ostream& out, const OutputExtras& extras = {});

}  // namespace velmora
