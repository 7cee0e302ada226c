// TIFF input on libtiff (the first page), recognised by its byte-order mark.
// libtiff's RGBA reader covers strips and tiles, every bit depth, palette,
// CMYK and YCbCr; alpha is composited over white.
#include <cstring>
#include <istream>
#include <iterator>
#include <memory>
#include <vector>

#include "base/messages.h"
#include "image/limits.h"
#include "formats/formats.h"
#include "formats/tiff/tiff_private.h"

namespace velmora {
namespace {

bool RecognisesTiff(const uint8_t* head, size_t size) {
  if (size < 4) return false;
  return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

class TiffGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "TiffGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    tiff::MemoryFile memory{data, size};
    tiff::Diagnostics diagnostics;
    tiff::Handle tif = tiff::Open("r", memory, diagnostics, CurrentLimits().max_allocation);
    if (!tif)
      throw DecodeError(DecodeKind::kInvalidData,
                        "TIFF image error: not a readable TIFF file" + diagnostics.Suffix());
    uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    CheckImageSize(width, height, N_("TIFF image"));
    CheckAllocation(static_cast<int64_t>(width) * height * 4, N_("TIFF image"));
    std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
    // Any error while decoding fails the file: libtiff would otherwise hand
    // back a picture with the undecodable parts left blank.
    if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1) ||
        diagnostics.failed)
      throw DecodeError(DecodeKind::kInvalidData,
                        "TIFF image error: the image data cannot be decoded" + diagnostics.Suffix());
    Bitmap out(static_cast<int>(width), static_cast<int>(height), Bitmap::Format::k24Bit);
    for (uint32_t y = 0; y < height; ++y) {
      const uint32_t* s = raster.data() + static_cast<size_t>(y) * width;
      uint8_t* d = out.Row(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x) {
        // libtiff hands out premultiplied alpha: over white adds the rest.
        const uint32_t p = s[x];
        const int a = TIFFGetA(p);
        d[x * 3] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetB(p)) + 255 - a));
        d[x * 3 + 1] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetG(p)) + 255 - a));
        d[x * 3 + 2] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetR(p)) + 255 - a));
      }
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& TiffClass() {
  static const GraphicClass cls{"TiffGraphic", [] { return std::make_unique<TiffGraphic>(); }, RecognisesTiff};
  return cls;
}

}  // namespace velmora
