// Photoshop input (psd, pdd): the merged (composite) picture that follows the
// layers, raw, PackBits or ZIP, in Bitmap, grey, duotone, indexed, RGB, CMYK,
// Lab and multichannel modes, 1, 8 or 16 bits a channel. A document with
// transparency keeps it in the first extra channel, which is composited over
// white.
#include <zlib.h>

#include <cmath>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/exif.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("PSD image error");

enum Mode { kBitmap = 0, kGrey = 1, kIndexed = 2, kRgb = 3, kCmyk = 4, kMultichannel = 7, kDuotone = 8, kLab = 9 };

bool RecognisesPsd(const uint8_t* data, size_t size) {
  return size >= 26 && data[0] == '8' && data[1] == 'B' && data[2] == 'P' && data[3] == 'S' && data[4] == 0 &&
         data[5] == 1;
}

int ColourChannels(int mode) {
  switch (mode) {
    case kRgb:
    case kLab:
      return 3;
    case kCmyk:
      return 4;
    default:
      return 1;
  }
}

uint8_t Srgb(double linear) {
  linear = std::clamp(linear, 0.0, 1.0);
  const double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return static_cast<uint8_t>(std::lround(v * 255));
}

// CIE Lab (D50, as Photoshop keeps it) to sRGB through Bradford adaptation.
void LabToRgb(double l, double a, double b, uint8_t rgb[3]) {
  const double fy = (l + 16) / 116, fx = fy + a / 500, fz = fy - b / 200;
  auto f = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  const double x = 0.9642 * f(fx), y = f(fy), z = 0.8249 * f(fz);
  const double r = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
  const double g = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
  const double bl = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
  rgb[0] = Srgb(r);
  rgb[1] = Srgb(g);
  rgb[2] = Srgb(bl);
}

class PsdGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "PsdGraphic"; }

 protected:
  // Photoshop's resources with EXIF (TIFF-structured) and XMP.
  static constexpr uint16_t kExifData = 0x0422, kXmpData = 0x0424;

  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (size < 6 || data[0] != '8' || data[1] != 'B' || data[2] != 'P' || data[3] != 'S') in.Invalid(Tr("not a Photoshop file"));
    in.Skip(4);
    const uint16_t version = in.U16Be();
    if (version == 2) in.Unsupported(Tr("Photoshop large documents (PSB) are not supported"));
    if (version != 1) in.Invalid(Tr("unknown version {1}", {std::to_string(version)}));
    in.Skip(6);
    const int channels = in.U16Be();
    const uint32_t height = in.U32Be();
    const uint32_t width = in.U32Be();
    const int depth = in.U16Be();
    const int mode = in.U16Be();
    if (channels < 1 || channels > 56) in.Invalid(Tr("the channel count {1} is not 1 to 56", {std::to_string(channels)}));
    if (depth == 32) in.Unsupported(Tr("32-bit floating-point documents are not supported"));
    if (depth != 1 && depth != 8 && depth != 16) in.Invalid(Tr("the depth {1} is not 1, 8 or 16", {std::to_string(depth)}));
    if ((depth == 1) != (mode == kBitmap) || (mode == kIndexed && depth != 8))
      in.Invalid(Tr("the depth does not fit the colour mode"));
    if (mode != kBitmap && mode != kGrey && mode != kIndexed && mode != kRgb && mode != kCmyk &&
        mode != kMultichannel && mode != kDuotone && mode != kLab)
      in.Invalid(Tr("unknown colour mode {1}", {std::to_string(mode)}));
    const int colour = mode == kMultichannel ? 1 : ColourChannels(mode);
    if (channels < colour) in.Invalid(Tr("the document has fewer channels than its colour mode needs"));

    const uint32_t mode_data_length = in.U32Be();
    const uint8_t* mode_data = in.Take(mode_data_length);
    if (mode == kIndexed && mode_data_length < 768) in.Invalid(Tr("the indexed document has no colour table"));
    const uint32_t resources_length = in.U32Be();
    const uint8_t* resources = in.Take(resources_length);
    ForEachPhotoshopResource(resources, resources_length, [this](uint16_t id, const uint8_t* bytes, size_t n) {
      if (id == kPhotoshopIptc) Carry(Packet::kIptc, bytes, n);
      if (id == kExifData) Carry(Packet::kExif, bytes, n);
      if (id == kXmpData) Carry(Packet::kXmp, bytes, n);
    });
    const uint32_t layers_length = in.U32Be();
    const size_t layers_end = in.Position() + layers_length;
    int layer_count = 0;
    if (layers_length >= 6) {
      const uint32_t info_length = in.U32Be();
      if (info_length >= 2) layer_count = in.S16Be();
    }
    in.Seek(layers_end);
    // A negative layer count says the first extra channel is the merged
    // picture's transparency.
    const bool alpha = layer_count < 0 && channels > colour;
    const int used = colour + (alpha ? 1 : 0);

    const int compression = in.U16Be();
    if (compression > 3) in.Invalid(Tr("unknown compression {1}", {std::to_string(compression)}));
    const size_t row_bytes = depth == 1 ? (size_t{width} + 7) / 8 : size_t{width} * (depth / 8);
    const double bits = static_cast<double>(depth) * used;
    const double ratio = compression == 0 ? 1.0 : compression == 1 ? 64.0 : 1032.0;
    ClaimSize(width, height, in.Remaining(), ratio * 8.0 / bits, kWho);
    const size_t plane = row_bytes * height;
    CheckAllocation(Limits(), static_cast<int64_t>(plane) * used, kWho);
    std::vector<uint8_t> planes(plane * used);
    switch (compression) {
      case 0:
        for (int c = 0; c < used; ++c) {
          const uint8_t* p = in.Take(plane);
          std::copy(p, p + plane, planes.begin() + plane * c);
        }
        break;
      case 1: {
        const uint8_t* counts = in.Take(uint64_t{height} * channels * 2);
        for (int c = 0; c < used; ++c)
          for (uint32_t y = 0; y < height; ++y) {
            const size_t entry = size_t{height} * c + y;
            const uint32_t length = (counts[entry * 2] << 8) | counts[entry * 2 + 1];
            ByteReader row(in.Take(length), length, kWho);
            UnpackBits(row, planes.data() + plane * c + row_bytes * y, row_bytes);
          }
        break;
      }
      default:
        Inflate(in, planes.data(), plane * used);
        if (compression == 3) Undelta(planes.data(), row_bytes, height * used, depth);
        break;
    }
    Compose(planes, plane, row_bytes, width, height, depth, mode, alpha, colour, mode_data);
  }

 private:
  static void UnpackBits(ByteReader& in, uint8_t* out, size_t length) {
    size_t x = 0;
    while (x < length && !in.AtEnd()) {
      const int n = in.S8();
      if (n >= 0) {
        if (static_cast<size_t>(n) + 1 > length - x) in.Invalid(Tr("a run goes past the end of its row"));
        const uint8_t* p = in.Take(n + 1);
        std::copy(p, p + n + 1, out + x);
        x += n + 1;
      } else if (n != -128) {
        const size_t count = 1 - n;
        if (count > length - x) in.Invalid(Tr("a run goes past the end of its row"));
        std::fill(out + x, out + x + count, in.U8());
        x += count;
      }
    }
    if (x < length) in.Truncated();
  }

  static void Inflate(ByteReader& in, uint8_t* out, size_t length) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) in.Invalid(Tr("cannot start decompressing"));
    z.next_in = const_cast<Bytef*>(in.Data() + in.Position());
    z.avail_in = static_cast<uInt>(std::min<size_t>(in.Remaining(), UINT32_MAX));
    size_t done = 0;
    int status = Z_OK;
    while (done < length && status == Z_OK) {
      z.next_out = out + done;
      const size_t chunk = std::min<size_t>(length - done, UINT32_MAX);
      z.avail_out = static_cast<uInt>(chunk);
      status = inflate(&z, Z_NO_FLUSH);
      done += chunk - z.avail_out;
    }
    inflateEnd(&z);
    if (done < length) {
      if (status == Z_DATA_ERROR || status == Z_NEED_DICT) in.Invalid(Tr("the compressed data is damaged"));
      in.Truncated();
    }
  }

  // ZIP with prediction stores each sample as the difference to its left
  // neighbour, row by row.
  static void Undelta(uint8_t* data, size_t row_bytes, size_t rows, int depth) {
    for (size_t y = 0; y < rows; ++y) {
      uint8_t* row = data + row_bytes * y;
      if (depth == 16) {
        for (size_t x = 2; x + 1 < row_bytes; x += 2) {
          const unsigned prev = (row[x - 2] << 8) | row[x - 1];
          const unsigned cur = ((row[x] << 8) | row[x + 1]) + prev;
          row[x] = static_cast<uint8_t>(cur >> 8);
          row[x + 1] = static_cast<uint8_t>(cur);
        }
      } else if (depth == 8) {
        for (size_t x = 1; x < row_bytes; ++x) row[x] = static_cast<uint8_t>(row[x] + row[x - 1]);
      }
    }
  }

  void Compose(const std::vector<uint8_t>& planes, size_t plane, size_t row_bytes, uint32_t width, uint32_t height,
               int depth, int mode, bool alpha, int colour, const uint8_t* mode_data) {
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    auto sample = [&](int c, int x, int y) -> uint8_t {
      const uint8_t* row = planes.data() + plane * c + row_bytes * y;
      if (depth == 16) return ScaleSample((row[x * 2] << 8) | row[x * 2 + 1], 65535);
      return row[x];
    };
    if (mode == kBitmap) {
      Bitmap out(w, h, Bitmap::Format::k1Bit);
      out.SetPalette({{255, 255, 255, 0}, {0, 0, 0, 0}});  // 1 is black
      for (int y = 0; y < h; ++y) {
        std::copy(planes.data() + row_bytes * y, planes.data() + row_bytes * (y + 1), out.Row(y));
        if (width % 8) out.Row(y)[row_bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - width % 8));
      }
      bitmap_ = std::move(out);
      return;
    }
    if (mode == kIndexed && !alpha) {
      Bitmap out(w, h, Bitmap::Format::k8Bit);
      std::vector<RgbQuad> palette(256);
      for (int i = 0; i < 256; ++i) palette[i] = {mode_data[512 + i], mode_data[256 + i], mode_data[i], 0};
      out.SetPalette(palette);
      for (int y = 0; y < h; ++y) std::copy(planes.data() + row_bytes * y, planes.data() + row_bytes * (y + 1), out.Row(y));
      bitmap_ = std::move(out);
      return;
    }
    Bitmap out(w, h, Bitmap::Format::k24Bit);
    if (alpha) StartAlpha(w, h);
    for (int y = 0; y < h; ++y) {
      uint8_t* d = out.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < w; ++x) {
        uint8_t rgb[3];
        switch (mode) {
          case kRgb:
            rgb[0] = sample(0, x, y), rgb[1] = sample(1, x, y), rgb[2] = sample(2, x, y);
            break;
          case kCmyk: {
            // Stored inverted: 255 is no ink.
            const int k = sample(3, x, y);
            for (int i = 0; i < 3; ++i) rgb[i] = static_cast<uint8_t>((sample(i, x, y) * k + 127) / 255);
            break;
          }
          case kLab:
            LabToRgb(sample(0, x, y) * 100.0 / 255, sample(1, x, y) - 128.0, sample(2, x, y) - 128.0, rgb);
            break;
          case kIndexed: {
            const int i = planes[row_bytes * y + x];
            rgb[0] = mode_data[i], rgb[1] = mode_data[256 + i], rgb[2] = mode_data[512 + i];
            break;
          }
          default:
            rgb[0] = rgb[1] = rgb[2] = sample(0, x, y);
            break;
        }
        PutPixel(d + x * 3, kept ? kept + x * 4 : nullptr, rgb[2], rgb[1], rgb[0], alpha ? sample(colour, x, y) : 255);
      }
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& PsdClass() {
  static const GraphicClass cls{"PsdGraphic", [] { return std::make_unique<PsdGraphic>(); }, RecognisesPsd};
  return cls;
}

const InputFormat& PsdFormat() {
  static const InputFormat format{
      "Photoshop",
      {{Registration::kSideFormat, PsdClass, "psd", N_("Photoshop images")},
        {Registration::kSideFormat, PsdClass, "pdd", N_("Photoshop images")}},
      nullptr,
      true,
      true,
      {"image/vnd.adobe.photoshop"}};
  return format;
}

}  // namespace velmora
