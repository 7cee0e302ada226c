#pragma once

#include <iosfwd>

#include "image/dib_image.h"

namespace velmora {

// A BMP file is exactly the image's own serialisation: nothing is added.
inline void EncodeBmp(const DibImage& image, std::ostream& out) { image.SaveToStream(out); }

}  // namespace velmora
