#include "formats/png/png_encoder.h"
#include "base/messages.h"
#include "formats/output_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#include "formats/deflate.h"
#include "formats/rgba_rows.h"
#include "image/image_rows.h"
#include "image/byte_order.h"
#include "platform/platform.h"

namespace velmora {
namespace {

void Chunk(std::ostream& out, const char type[4], const uint8_t* data, size_t size) {
  std::vector<uint8_t> head;
  AppendBe32(head, static_cast<uint32_t>(size));
  head.insert(head.end(), type, type + 4);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(type), 4);
  if (size) crc = crc32(crc, data, static_cast<uInt>(size));
  out.write(reinterpret_cast<const char*>(head.data()), 8);
  if (size) out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  std::vector<uint8_t> tail;
  AppendBe32(tail, static_cast<uint32_t>(crc));
  out.write(reinterpret_cast<const char*>(tail.data()), 4);
}

void Chunk(std::ostream& out, const char type[4], const std::vector<uint8_t>& data) {
  Chunk(out, type, data.data(), data.size());
}

void TextChunk(std::ostream& out, const std::string& keyword, const std::string& text) {
  if (keyword.size() >= 80) return;
  std::vector<uint8_t> data(keyword.begin(), keyword.end());
  data.push_back(0);
  data.insert(data.end(), text.begin(), text.end());
  Chunk(out, "tEXt", data);
}

}  // namespace

void PngEncoder::SetTransparentColor(ColorValue color) {
  transparent_color_ = color;
  if (color == kNoColor) transparent_ = false;
}

void PngEncoder::SetIdatSize(int size) {
  if (size < 256 || size > 100000) throw Error(ErrorKind::kInternal, Tr("Write PNG Param: Err IDAT Size(min:256  max:100000)"));
  idat_size_ = size;
}

void PngEncoder::Assign(const DibImage& image) {
  bitmap_ = Bitmap();
  image_.Assign(image);
  from_image_ = true;
}

void PngEncoder::SaveToStream(std::ostream& out) const {
  // The rows come from the bitmap, or from the DIB in place.
  const ImageRows src = from_image_ ? ImageRows(image_) : ImageRows(bitmap_);
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  out.write(reinterpret_cast<const char*>(kSignature), 8);
  if (Extras.alpha) {
    // A kept alpha: 8-bit RGBA of the straight colours, the transparent
    // colour's pixels clear too.
    EncodeOptions options;
    options.transparent = transparent_color_ != kNoColor;
    options.picker = true;
    options.picked_color = transparent_color_;
    options.extras.alpha = Extras.alpha;
    const RgbaRows rgba(image_, options);
    WriteHeader(out, src, true);
    WriteInformation(out);
    WriteExtras(out);
    WriteRows(out, rgba.Height(), rgba.Stride(), [&](int y, uint8_t* row) { rgba.Row(y, row); });
  } else {
    WriteHeader(out, src, false);
    WriteInformation(out);
    WriteExtras(out);
    WritePalette(out, src);
    WriteRows(out, src);
  }
  Chunk(out, "IEND", nullptr, 0);
}

void PngEncoder::WriteHeader(std::ostream& out, const ImageRows& src, bool alpha) const {
  const int bits = src.Bits();
  const bool indexed = bits <= 8 && !alpha;
  std::vector<uint8_t> ihdr;
  AppendBe32(ihdr, static_cast<uint32_t>(src.Width()));
  AppendBe32(ihdr, static_cast<uint32_t>(src.Height()));
  ihdr.push_back(static_cast<uint8_t>(indexed ? bits : 8));
  ihdr.push_back(indexed ? 3 : alpha ? 6 : 2);
  ihdr.push_back(0);
  ihdr.push_back(0);
  ihdr.push_back(0);
  Chunk(out, "IHDR", ihdr);
}

// The time, the comment, the writer's own chunks and the gamma.
void PngEncoder::WriteInformation(std::ostream& out) const {
  std::tm t;
  if (Time) {
    t = *Time;
  } else {
    const std::time_t now = platform::FileTimeNow().when;
    gmtime_r(&now, &t);
  }
  const int year = t.tm_year + 1900, month = t.tm_mon + 1;
  if (year != 0 && month >= 1 && month <= 12 && t.tm_mday >= 1 && t.tm_mday <= 31 && t.tm_hour <= 23 &&
      t.tm_min <= 59 && t.tm_sec <= 60) {
    const std::vector<uint8_t> time{static_cast<uint8_t>(year >> 8), static_cast<uint8_t>(year),
                                    static_cast<uint8_t>(month),     static_cast<uint8_t>(t.tm_mday),
                                    static_cast<uint8_t>(t.tm_hour), static_cast<uint8_t>(t.tm_min),
                                    static_cast<uint8_t>(t.tm_sec)};
    Chunk(out, "tIME", time);
  }
  if (!Comment.empty()) TextChunk(out, "Comment", Comment);
  TextChunk(out, "Software", "RAVEZA ver 3.4");
  Chunk(out, "tpNG", std::vector<uint8_t>{'Z', 'O', 'R', '3', 0, 0, 0, 0});
  const auto gamma = static_cast<uint32_t>(Gamma * 100000);
  if (gamma > 0) {
    std::vector<uint8_t> g;
    AppendBe32(g, gamma);
    Chunk(out, "gAMA", g);
  }
}

void PngEncoder::WriteExtras(std::ostream& out) const {
  if (Extras.icc) {
    // A name, its end, the method (zlib), then the compressed profile.
    std::vector<uint8_t> data = {'I', 'C', 'C', ' ', 'P', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
    uLongf size = compressBound(static_cast<uLong>(Extras.icc->size()));
    std::vector<uint8_t> packed(size);
    if (compress2(packed.data(), &size, Extras.icc->data(), static_cast<uLong>(Extras.icc->size()), 9) != Z_OK)
      throw Error(ErrorKind::kInternal, Tr("Write Image (PNG): Write Error"));
    data.insert(data.end(), packed.begin(), packed.begin() + static_cast<long>(size));
    Chunk(out, "iCCP", data);
  }
  if (Extras.exif) Chunk(out, "eXIf", *Extras.exif);
  if (Extras.xmp) {
    // Uncompressed international text under Adobe's keyword, no language.
    static const char kKeyword[] = "XML:com.adobe.xmp";
    std::vector<uint8_t> data(kKeyword, kKeyword + sizeof kKeyword);
    data.insert(data.end(), {0, 0, 0, 0});
    data.insert(data.end(), Extras.xmp->begin(), Extras.xmp->end());
    Chunk(out, "iTXt", data);
  }
}

// PLTE for an indexed picture, and tRNS for the transparent colour.
void PngEncoder::WritePalette(std::ostream& out, const ImageRows& src) const {
  const bool indexed = src.Bits() <= 8;
  const auto& palette = src.Palette();
  if (indexed && !palette.empty()) {
    std::vector<uint8_t> plte;
    for (size_t i = 0; i < palette.size() && i < 256; ++i) {
      plte.push_back(palette[i].red);
      plte.push_back(palette[i].green);
      plte.push_back(palette[i].blue);
    }
    Chunk(out, "PLTE", plte);
  }
  if (transparent_color_ == kNoColor) return;
  const ColorValue c = transparent_color_;
  if (!indexed) {
    Chunk(out, "tRNS", std::vector<uint8_t>{0, ColorRed(c), 0, ColorGreen(c), 0, ColorBlue(c)});
    return;
  }
  const size_t index = TransparentIndex(palette, c);
  if (index < palette.size() && index < 256) {
    std::vector<uint8_t> trns(index + 1, 255);
    trns[index] = 0;
    Chunk(out, "tRNS", trns);
  }
}

// One zlib stream over the filtered rows, cut into IDAT chunks of
// idat_size_ bytes (the last one shorter).
void PngEncoder::WriteRows(std::ostream& out, const ImageRows& src) const {
  const int bits = src.Bits();
  const size_t row_bytes = (static_cast<size_t>(src.Width()) * bits + 7) / 8;
  WriteRows(out, src.Height(), row_bytes, [&](int y, uint8_t* row) {
    const uint8_t* in = src.Row(y);
    if (bits == 24) {
      for (int x = 0; x < src.Width(); ++x) {
        row[x * 3] = in[x * 3 + 2];
        row[1 + x * 3] = in[x * 3 + 1];
        row[2 + x * 3] = in[x * 3];
      }
    } else {
      std::memcpy(row, in, row_bytes);
    }
  });
}

void PngEncoder::WriteRows(std::ostream& out, int height, size_t row_bytes,
                           const std::function<void(int, uint8_t*)>& fill) const {
  const int level = CompressionLevel >= 0 && CompressionLevel <= 9 ? CompressionLevel : Z_DEFAULT_COMPRESSION;
  try {
    ZlibRows stream((row_bytes + 1) * static_cast<size_t>(height), level, static_cast<size_t>(idat_size_),
                    [&](const uint8_t* data, size_t size) { Chunk(out, "IDAT", data, size); });
    for (int y = 0; y < height; ++y) {
      uint8_t* row = stream.NextRow(row_bytes + 1);
      row[0] = 0;  // filter type None on every row
      fill(y, row + 1);
    }
    stream.Finish();
  } catch (const Error&) {
    throw Error(ErrorKind::kInternal, Tr("Write Image (PNG): Write Error"));
  }
}

namespace {

void EncodePng(const DibImage& image, const EncodeOptions& options, std::ostream& out) {
  // The track bar runs from the strongest compression to the fastest.
  static const int kLevel[10] = {9, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  PngEncoder encoder;
  encoder.Assign(image);
  encoder.CompressionLevel = kLevel[std::clamp(options.quality, 0, 9)];
  encoder.Extras = options.extras;
  encoder.SetTransparent(options.transparent);
  // The picked colour, or the top-left pixel's.
  const DibImage& colours = options.extras.alpha ? options.extras.alpha->straight : image;
  if (options.transparent) encoder.SetTransparentColor(options.picker ? options.picked_color : colours.GetPixel(0, 0));
  encoder.SaveToStream(out);
}

}  // namespace

const OutputFormat& PngOutput() {
  static const OutputFormat format{
      .extension = "png",
      .name = "PNG",
      .takes_quality = true,
      .takes_transparency = true,
      .picks_colour = true,
      .holds_icc = true,
      .holds_exif = true,
      .holds_alpha = true,
      .encode = EncodePng,
      .memory = [](int64_t width, int64_t height, int bits, const EncodeOptions& options) -> uint64_t {
        // Rows of up to kOneGoBytes are gathered and compressed in one go:
        // the rows and, for a picture that does not compress, as much again.
        const int out_bits = options.extras.alpha ? 32 : bits;
        const uint64_t rows = static_cast<uint64_t>(height) * (1 + (width * out_bits + 7) / 8);
        return kEncoderBuffers + (rows <= kOneGoBytes ? 2 * rows : 0);
      },
  };
  return format;
}

}  // namespace velmora
