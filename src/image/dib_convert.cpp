// Pixel-format conversions of DibImage. Each builds complete new parts so that
// a failure leaves the image as it was.
#include <cstring>
#include <string>
#include <vector>

#include "image/bmp_core.h"
#include "base/messages.h"
#include "image/dib_image.h"
#include "base/error.h"
#include "image/quantizer.h"

namespace velmora {
namespace {

void Require(const DibParts& src, int bits, uint32_t compression, const char* name) {
  if (src.header.biBitCount != bits || src.header.biCompression != compression)
    throw Error(ErrorKind::kUnsupported, Tr("{1}: Invalid Bitcount & Compression Combination", {name}));
}

// A new uncompressed image of the same size with the source header and all
// 256 table entries, biClrUsed kept.
DibParts Widened(const DibParts& src, int bits, bool use_fmo) {
  DibParts out;
  out.header = src.header;
  out.table = src.table;
  out.header.biBitCount = static_cast<uint16_t>(bits);
  out.header.biCompression = 0;
  out.header.biSizeImage = 0;
  out.bits = PixelMemory(static_cast<size_t>(RowBytes(src.Width(), bits) * src.Height()), use_fmo);
  return out;
}

DibParts Widen(const DibParts& src, int to_bits, bool use_fmo) {
  DibParts out = Widened(src, to_bits, use_fmo);
  const int from_bits = src.header.biBitCount;
  const int64_t src_stride = RowBytes(src.Width(), from_bits);
  const int64_t dst_stride = RowBytes(src.Width(), to_bits);
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.bits.Data() + src_stride * y;
    uint8_t* d = out.bits.Data() + dst_stride * y;
    for (int x = 0; x < src.Width(); ++x) {
      const int index = IndexAt(s, x, from_bits);
      if (to_bits == 8)
        d[x] = static_cast<uint8_t>(index);
      else
        d[x >> 1] |= static_cast<uint8_t>((x & 1) ? index : index << 4);
    }
  }
  return out;
}

[[noreturn]] void BadRle(const char* name, int number) {
  throw Error(ErrorKind::kInvalidData, Tr("{1}: Bad RLE Data {2}", {name, std::to_string(number)}));
}

// Decodes RLE8 (bits 8) or RLE4 (bits 4); first_code is the number of the
// first of the four checks in the messages (1 for RLE8, 5 for RLE4).
DibParts DecodeRle(const DibParts& src, int bits, const char* name, int first_code, bool use_fmo) {
  DibParts out = Widened(src, bits, use_fmo);
  const int64_t stride = RowBytes(src.Width(), bits);
  uint8_t* pixels = out.bits.Data();
  bmp::DecodeRle(
      src.bits.Data(), src.ImageSize(), src.Width(), src.Height(), bits == 4, bmp::RleEnd::kStrict,
      [&](int x, int y, int value) {
        uint8_t* row = pixels + stride * y;
        if (bits == 8)
          row[x] = static_cast<uint8_t>(value);
        else
          row[x >> 1] = static_cast<uint8_t>((x & 1) ? (row[x >> 1] & 0xF0) | (value & 0x0F)
                                                     : (row[x >> 1] & 0x0F) | ((value & 0x0F) << 4));
      },
      [&](bmp::RleFault fault) {
        switch (fault) {
          case bmp::RleFault::kDataEndsEarly:
            throw Error(ErrorKind::kInvalidData, Tr("{1}: RLE data ends early", {name}));
          case bmp::RleFault::kRowsPastImage:
            BadRle(name, first_code);
          case bmp::RleFault::kDeltaPastImage:
            BadRle(name, first_code + 1);
          case bmp::RleFault::kLiteralPastImage:
            BadRle(name, first_code + 2);
          case bmp::RleFault::kRunPastImage:
            BadRle(name, first_code + 3);
        }
      });
  return out;
}

// Published RLE schemes: runs of equal pixels become encoded runs, the rest
// literal runs of at least three pixels; every row ends with 0,0 and the image
// with 0,1.
DibParts EncodeRle(const DibParts& src, int bits, bool use_fmo) {
  const int width = src.Width();
  const int height = src.Height();
  const int64_t stride = RowBytes(width, bits);
  std::vector<uint8_t> out_bytes;
  out_bytes.reserve(static_cast<size_t>(stride * height / 2 + 64));
  std::vector<int> px(static_cast<size_t>(width));
  // RLE data is always stored bottom-up; a top-down source is turned over.
  const bool top_down = src.header.biHeight < 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = src.bits.Data() + stride * (top_down ? height - 1 - y : y);
    for (int x = 0; x < width; ++x) px[x] = IndexAt(row, x, bits);
    int x = 0;
    while (x < width) {
      int run = 1;
      while (x + run < width && run < 255 && px[x + run] == px[x]) ++run;
      if (run >= 2) {
        out_bytes.push_back(static_cast<uint8_t>(run));
        out_bytes.push_back(static_cast<uint8_t>(bits == 8 ? px[x] : (px[x] << 4) | px[x]));
        x += run;
        continue;
      }
      // Literal: gather pixels until two equal neighbours start a run.
      int n = 1;
      while (x + n < width && n < 255 && !(x + n + 1 < width && px[x + n] == px[x + n + 1])) ++n;
      if (n < 3) {
        for (int k = 0; k < n; ++k) {
          out_bytes.push_back(1);
          out_bytes.push_back(static_cast<uint8_t>(bits == 8 ? px[x + k] : px[x + k] << 4));
        }
      } else {
        out_bytes.push_back(0);
        out_bytes.push_back(static_cast<uint8_t>(n));
        size_t bytes = 0;
        if (bits == 8) {
          for (int k = 0; k < n; ++k) out_bytes.push_back(static_cast<uint8_t>(px[x + k]));
          bytes = n;
        } else {
          for (int k = 0; k < n; k += 2) {
            const int hi = px[x + k], lo = k + 1 < n ? px[x + k + 1] : 0;
            out_bytes.push_back(static_cast<uint8_t>((hi << 4) | lo));
          }
          bytes = (n + 1) / 2;
        }
        if (bytes & 1) out_bytes.push_back(0);
      }
      x += n;
    }
    out_bytes.push_back(0);
    out_bytes.push_back(y + 1 == height ? 1 : 0);
  }
  DibParts out;
  out.header = src.header;
  out.table = src.table;
  out.header.biCompression = bits == 8 ? 1 : 2;
  if (top_down) out.header.biHeight = -out.header.biHeight;
  out.header.biSizeImage = static_cast<uint32_t>(out_bytes.size());
  out.bits = PixelMemory(out_bytes.size(), use_fmo);
  std::memcpy(out.bits.Data(), out_bytes.data(), out_bytes.size());
  return out;
}

}  // namespace

DibParts Convert1BitRGBTo4BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 1, 0, "Convert1BitRGBTo4BitRGB");
  return Widen(src, 4, use_fmo);
}

DibParts Convert1BitRGBTo8BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 1, 0, "Convert1BitRGBTo8BitRGB");
  return Widen(src, 8, use_fmo);
}

DibParts Convert4BitRGBTo8BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 4, 0, "Convert4BitRGBTo8BitRGB");
  return Widen(src, 8, use_fmo);
}

DibParts ConvertIndexedToTrueColor(const DibParts& src, bool use_fmo) {
  const int bits = src.header.biBitCount;
  const char* name = bits == 1   ? "Convert1BitRGBToTrueColor"
                     : bits == 4 ? "Convert4BitRGBToTrueColor"
                                 : "Convert8BitRGBToTrueColor";
  if ((bits != 1 && bits != 4 && bits != 8) || src.header.biCompression != 0)
    throw Error(ErrorKind::kUnsupported, Tr("{1}: Invalid Bitcount & Compression Combination", {name}));
  DibParts out = Widened(src, 24, use_fmo);
  const int64_t src_stride = RowBytes(src.Width(), bits);
  const int64_t dst_stride = RowBytes(src.Width(), 24);
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.bits.Data() + src_stride * y;
    uint8_t* d = out.bits.Data() + dst_stride * y;
    for (int x = 0; x < src.Width(); ++x) {
      const RgbQuad& q = src.table[IndexAt(s, x, bits)];
      d[x * 3] = q.blue;
      d[x * 3 + 1] = q.green;
      d[x * 3 + 2] = q.red;
    }
  }
  return out;
}

DibParts Convert8BitRGBTo4BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 8, 0, "Convert8BitRGBTo4BitRGB");
  // Re-quantizing goes through true colour so the 16 entries are chosen
  // from the colours actually used, weighted by their pixel counts.
  return ConvertTrueColorTo4BitRGBLow(ConvertIndexedToTrueColor(src, use_fmo), nullptr, use_fmo);
}

DibParts ConvertToMonochrome(const DibParts& src, ColorValue background, bool use_fmo) {
  const int bits = src.header.biBitCount;
  if ((bits != 4 && bits != 8 && bits != 24) || src.header.biCompression != 0)
    throw Error(ErrorKind::kUnsupported, Tr("ConvertToMonochrome: Invalid Bitcount & Compression Combination"));
  DibParts out = Widened(src, 1, use_fmo);
  out.table = ColorTable{};
  out.table[1] = RgbQuad{255, 255, 255, 0};
  out.header.biClrUsed = 2;
  const int64_t src_stride = RowBytes(src.Width(), bits);
  const int64_t dst_stride = RowBytes(src.Width(), 1);
  for (int y = 0; y < src.Height(); ++y) {
    const uint8_t* s = src.bits.Data() + src_stride * y;
    uint8_t* d = out.bits.Data() + dst_stride * y;
    for (int x = 0; x < src.Width(); ++x) {
      ColorValue c;
      if (bits == 24)
        c = MakeColor(s[x * 3 + 2], s[x * 3 + 1], s[x * 3]);
      else
        c = QuadColor(src.table[IndexAt(s, x, bits)]);
      if (c == background) d[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }
  return out;
}

DibParts Convert8BitRLETo8BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 8, 1, "Convert8BitRLETo8BitRGB");
  return DecodeRle(src, 8, "Convert8BitRLETo8BitRGB", 1, use_fmo);
}

DibParts Convert4BitRLETo4BitRGB(const DibParts& src, bool use_fmo) {
  Require(src, 4, 2, "Convert4BitRLETo4BitRGB");
  return DecodeRle(src, 4, "Convert4BitRLETo4BitRGB", 5, use_fmo);
}

DibParts Convert8BitRGBTo8BitRLE(const DibParts& src, bool use_fmo) {
  Require(src, 8, 0, "Convert8BitRGBTo8BitRLE");
  return EncodeRle(src, 8, use_fmo);
}

DibParts Convert4BitRGBTo4BitRLE(const DibParts& src, bool use_fmo) {
  Require(src, 4, 0, "Convert4BitRGBTo4BitRLE");
  return EncodeRle(src, 4, use_fmo);
}

}  // namespace velmora
