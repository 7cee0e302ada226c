// PngEncoder: our own PNG writer. Streams the image's rows through zlib into
// IDAT chunks of IdatSize bytes; writes tIME, the Software text, the private
// "tpNG" chunk, gAMA, PLTE and tRNS in a fixed order.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <iosfwd>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/error.h"
#include "formats/output_format.h"
#include "image/bitmap.h"
#include "image/color.h"
#include "image/dib_image.h"

namespace velmora {

class ImageRows;

// Palette colour values with bit 24 set carry a palette index in bits 0-7.
inline constexpr ColorValue kPaletteIndexFlag = 0x01000000;

class PngEncoder {
 public:
  void Assign(const Bitmap& bitmap) {
    bitmap_ = bitmap;
    image_ = DibImage();
    from_image_ = false;
  }
  // Shares the image's pixels: the encoder reads its rows where they are.
  void Assign(const DibImage& image);

  // zlib level 0..9; any other value means zlib's default.
  int CompressionLevel = -1;
  // The graphic's transparency flag; does not change the file.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool on) { transparent_ = on; }
  ColorValue TransparentColor() const { return transparent_color_; }
  // -1 switches the transparent mode off.
  void SetTransparentColor(ColorValue color);
  uint8_t FilterMode = 1;
  int IdatSize() const { return idat_size_; }
  // 256 to 100000, else PngEncoderError.
  void SetIdatSize(int size);
  double Gamma = 0.45455;
  std::string Comment;
  // The time for tIME; the current UTC time when not set.
  std::optional<std::tm> Time;
  // The profile (iCCP), EXIF (eXIf) and XMP (iTXt) to carry; none by default.
  OutputExtras Extras;

  // Writes the whole PNG data stream. Raises PngEncoderError
  // "Write Image (PNG): Write Error" when the compressor fails.
  void SaveToStream(std::ostream& out) const;

 private:
  void WriteHeader(std::ostream& out, const ImageRows& src, bool alpha) const;
  void WriteInformation(std::ostream& out) const;
  void WritePalette(std::ostream& out, const ImageRows& src) const;
  void WriteExtras(std::ostream& out) const;
  void WriteRows(std::ostream& out, const ImageRows& src) const;
  // One zlib stream over height rows of row_bytes, each filled by fill.
  void WriteRows(std::ostream& out, int height, size_t row_bytes, const std::function<void(int, uint8_t*)>& fill) const;
  Bitmap bitmap_;
  DibImage image_;
  bool from_image_ = false;
  bool transparent_ = false;
  ColorValue transparent_color_ = kNoColor;
  int idat_size_ = 32768;
};

}  // namespace velmora
