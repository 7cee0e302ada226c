// BMP output: the prepared picture as a DIB file, as it is.
#include <ostream>

#include "formats/output_format.h"

namespace velmora {

const OutputFormat& BmpOutput() {
  static const OutputFormat format{
      .extension = "bmp",
      .name = "BMP",
      .encode = [](const DibImage& image, const EncodeOptions&, std::ostream& out) { image.SaveToStream(out); },
  };
  return format;
}

}  // namespace velmora
