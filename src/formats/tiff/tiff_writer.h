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
// extras: the profile, XMP and IPTC as tags, EXIF as its own directory.
// Written onto out as it is made when out can seek, else made in a scratch
// file of the context's (in memory without one) and copied.
void EncodeTiff(const DibImage& image, std::ostream& out, const OutputExtras& extras = {},
                const ConversionContext* context = nullptr);

}  // namespace velmora
