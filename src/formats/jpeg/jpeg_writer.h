// JPEG output on libjpeg-turbo, standing in for the desktop's image encoder.
#pragma once

#include <iosfwd>

#include "base/error.h"
#include "formats/output_format.h"
#include "image/bitmap.h"
#include "image/dib_image.h"

namespace velmora {

// A baseline JPEG of quality 0..100 (0 is taken as libjpeg's minimum, 1).
// Indexed images are expanded through their palette; an image whose palette
// holds only greys is written as a greyscale JPEG.
// extras: EXIF and XMP in APP1 markers, the profile in APP2 (colour only).
void EncodeJpeg(const Bitmap& bitmap, int quality, std::ostream& out, const OutputExtras& extras = {});
// The same from a DIB; a true-colour one is compressed from its own rows.
void EncodeJpeg(const DibImage& image, int quality, std::ostream& out, const OutputExtras& extras = {});

}  // namespace velmora
