// The bitmap class: reads every BMP variant a user meets (all header versions,
// bit fields, 1 to 32 bits, RLE with deltas and cut-off data, top-down rows,
// oversized or short palettes) and refuses damaged files with a reason.
#include <algorithm>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

#include "image/bmp_core.h"
#include "base/messages.h"
#include "image/limits.h"
#include "formats/formats.h"
#include "formats/input_format.h"

namespace velmora {
namespace {

// "BM" and an info header of a known version: what the BMP reader takes.
bool RecognisesBmp(const uint8_t* data, size_t size) {
  return size >= 26 && data[0] == 'B' && data[1] == 'M' && bmp::IsInfoHeaderSize(GetLe32(data + 14));
}

[[noreturn]] void Refuse(const std::string& what) {
  throw Error(ErrorKind::kInvalidData, Tr("BMP image error: {1}", {what}));
}

class BmpGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "Bitmap"; }

  void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data) override {
    if (format != 2 && format != 8) Graphic::LoadFromClipboardFormat(format, data);
    // A packed DIB: give it a file header so one parser serves both.
    std::vector<uint8_t> file(14, 0);
    file[0] = 'B', file[1] = 'M';
    file.insert(file.end(), data.begin(), data.end());
    Parse(std::span<const uint8_t>(file), /*offset_from_palette=*/true);
  }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override { Parse(std::span<const uint8_t>(data, size), false); }

 private:
  enum class Kind { kRgb, kRle8, kRle4, kFields };
  // What the headers say, as the phases below read them.
  struct Layout {
    uint32_t header_size = 0;
    bmp::InfoHeader info;
    Kind kind = Kind::kRgb;
    bool top_down = false;
    int64_t width = 0, height = 0;  // height as stored, made positive
    size_t palette_at = 0;          // where the colour table (or the masks) start
    uint32_t off_bits = 0;
  };

  void Parse(std::span<const uint8_t> d, bool offset_from_palette) {
    Layout layout = ReadHeaders(d, offset_from_palette);
    uint32_t masks[4] = {0, 0, 0, 0};
    ReadMasks(d, layout, masks);
    const std::vector<RgbQuad> palette = ReadPalette(d, layout, offset_from_palette);
    DecodePixels(d, layout, masks, palette);
  }

  Layout ReadHeaders(std::span<const uint8_t> d, bool offset_from_palette) const {
    if (d.size() < 18 || d[0] != 'B' || d[1] != 'M') Refuse(Tr("not a BMP file"));
    const bmp::FileHeader file = bmp::ParseFileHeader(d.data());
    if (!offset_from_palette && file.size > d.size() && file.size != 0)
      Refuse(Tr("the file is shorter ({1} bytes) than its header claims ({2} bytes)",
                        {std::to_string(d.size()), std::to_string(file.size)}));
    Layout l;
    l.off_bits = file.off_bits;
    l.header_size = GetLe32(d.data() + 14);
    if (!bmp::IsInfoHeaderSize(l.header_size))
      Refuse(Tr("unknown header size {1}", {std::to_string(l.header_size)}));
    if (d.size() < 14 + l.header_size) Refuse(Tr("truncated header"));
    l.info = bmp::ParseInfoHeader(d.data() + 14, l.header_size);
    const bmp::InfoHeader& info = l.info;
    const int bits = info.bits;
    if (info.planes != 1) Refuse(Tr("the image has {1} planes", {std::to_string(info.planes)}));
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
      Refuse(Tr("unsupported bit count {1}", {std::to_string(bits)}));
    if (info.width <= 0 || info.height == 0)
      Refuse(Tr("invalid size {1} x {2}", {std::to_string(info.width), std::to_string(info.height)}));
    // Densities beyond 1,000,000 pixels per metre (25,400 dpi) only come from damage.
    const int32_t xres = info.x_pels_per_meter, yres = info.y_pels_per_meter;
    if (xres < 0 || yres < 0 || xres > 1000000 || yres > 1000000) Refuse(Tr("implausible resolution"));
    l.top_down = info.height < 0;
    l.width = info.width;
    l.height = l.top_down ? -info.height : info.height;
    ClaimSize(l.width, l.height, N_("BMP image"));
    l.kind = KindOf(info.compression, bits, l.header_size == 16 || l.header_size == 64);
    if ((l.kind == Kind::kRle8 || l.kind == Kind::kRle4) && l.top_down)
      Refuse(Tr("run-length data cannot be stored top-down"));
    l.palette_at = 14 + l.header_size;
    return l;
  }

  static Kind KindOf(uint32_t compression, int bits, bool os2) {
    Kind kind = Kind::kRgb;
    switch (compression) {
      case 0:
        kind = Kind::kRgb;
        break;
      case 1:
        kind = Kind::kRle8;
        break;
      case 2:
        kind = Kind::kRle4;
        break;
      case 3:
      case 6:
        if (os2) Refuse(Tr("OS/2 Huffman compression is not supported"));
        kind = Kind::kFields;
        break;
      case 4:
        if (os2) Refuse(Tr("OS/2 RLE24 compression is not supported"));
        Refuse(Tr("embedded JPEG data is not supported"));
      case 5:
        Refuse(Tr("embedded PNG data is not supported"));
      default:
        Refuse(Tr("unknown compression {1}", {std::to_string(compression)}));
    }
    if ((kind == Kind::kRle8 && bits != 8) || (kind == Kind::kRle4 && bits != 4) ||
        (kind == Kind::kFields && bits != 16 && bits != 32))
      Refuse(Tr("compression {1} does not fit {2} bits", {std::to_string(compression), std::to_string(bits)}));
    return kind;
  }

  // The channel masks of a 16 or 32-bit picture: its own, or the defaults.
  static void ReadMasks(std::span<const uint8_t> d, Layout& l, uint32_t masks[4]) {
    const int bits = l.info.bits;
    if (l.kind == Kind::kFields) {
      if (l.info.masks_in_header) {
        std::copy(l.info.masks, l.info.masks + l.info.masks_in_header, masks);
      } else {
        const size_t n = l.info.compression == 6 ? 16 : 12;
        if (d.size() < l.palette_at + n) Refuse(Tr("truncated bit fields"));
        for (size_t c = 0; c < n / 4; ++c) masks[c] = GetLe32(d.data() + l.palette_at + 4 * c);
        l.palette_at += n;
      }
      if (!masks[0] || !masks[1] || !masks[2]) Refuse(Tr("a colour mask is empty"));
    } else if (bits == 16 || bits == 32) {
      bmp::DefaultMasks(bits, masks);
      if (bits == 32 && l.info.masks_in_header == 4) masks[3] = l.info.masks[3];
    }
  }

  // Palette entries as declared, capped at 256, taken only as far as they
  // are present before the pixel data; settles where the pixels start.
  static std::vector<RgbQuad> ReadPalette(std::span<const uint8_t> d, Layout& l, bool offset_from_palette) {
    const int bits = l.info.bits;
    const uint32_t clr_used = l.info.clr_used;
    const size_t entry = l.header_size == 12 ? 3 : 4;
    std::vector<RgbQuad> palette;
    if (bits <= 8) {
      uint64_t declared = clr_used ? clr_used : (1u << bits);
      if (l.header_size == 12) declared = 1u << bits;
      // Compared by division: a huge count must not wrap the product.
      if (declared > d.size() / entry)
        Refuse(Tr("the palette of {1} entries exceeds the file", {std::to_string(declared)}));
      if (offset_from_palette) l.off_bits = static_cast<uint32_t>(l.palette_at + declared * entry);
      uint64_t available = declared;
      if (l.off_bits > l.palette_at) available = std::min<uint64_t>(declared, (l.off_bits - l.palette_at) / entry);
      available = std::min<uint64_t>({available, 256, (d.size() - std::min(d.size(), l.palette_at)) / entry});
      for (uint64_t i = 0; i < available; ++i) palette.push_back(bmp::TableEntry(d.data() + l.palette_at + i * entry));
      if (palette.empty()) Refuse(Tr("the image has no palette"));
      if (l.off_bits < l.palette_at) l.off_bits = static_cast<uint32_t>(l.palette_at + available * entry);
    } else if (offset_from_palette) {
      if (clr_used > (d.size() - std::min(d.size(), l.palette_at)) / 4)
        Refuse(Tr("the colour table of {1} entries exceeds the data", {std::to_string(clr_used)}));
      l.off_bits = static_cast<uint32_t>(l.palette_at + static_cast<size_t>(clr_used) * 4);
    }
    if (l.off_bits < l.palette_at || l.off_bits >= d.size())
      Refuse(Tr("the pixel data offset {1} lies outside the file", {std::to_string(l.off_bits)}));
    return palette;
  }

  void DecodePixels(std::span<const uint8_t> d, const Layout& l, const uint32_t masks[4],
                    const std::vector<RgbQuad>& palette) {
    const int bits = l.info.bits;
    const int64_t stride = ((l.width * bits + 31) / 32) * 4;
    const uint32_t size_image = l.info.size_image;
    const bool rle = l.kind == Kind::kRle8 || l.kind == Kind::kRle4;
    if (!rle && size_image != 0 && l.off_bits + static_cast<uint64_t>(size_image) > d.size() &&
        static_cast<uint64_t>(size_image) > static_cast<uint64_t>(stride * l.height))
      Refuse(Tr("the pixel data size {1} exceeds the file", {std::to_string(size_image)}));
    const uint8_t* pixels = d.data() + l.off_bits;
    const size_t available = d.size() - l.off_bits;
    const int w = static_cast<int>(l.width);
    const int h = static_cast<int>(l.height);
    if (rle) {
      if (!bmp::RlePlausible(w, h, available))
        Refuse(Tr("run-length data of {1} bytes cannot describe {2} x {3} pixels",
                          {std::to_string(available), std::to_string(w), std::to_string(h)}));
      bitmap_ = Bitmap(w, h, Bitmap::Format::k8Bit);
      DecodeRle(pixels, available, l.kind == Kind::kRle4);
      bitmap_.SetPalette(palette);
      CheckIndices(palette.size());
      return;
    }
    if (static_cast<uint64_t>(stride) * h > available)
      Refuse(Tr("the pixel data is cut short: {1} of {2} bytes",
                        {std::to_string(available), std::to_string(stride * h)}));
    auto src_row = [&](int y) { return pixels + stride * (l.top_down ? y : h - 1 - y); };
    if (bits == 1 || bits == 4 || bits == 8) {
      bitmap_ = Bitmap(w, h, static_cast<Bitmap::Format>(bits));
      for (int y = 0; y < h; ++y) std::memcpy(bitmap_.Row(y), src_row(y), static_cast<size_t>(bitmap_.Stride()));
    } else if (bits == 2) {
      bitmap_ = Bitmap(w, h, Bitmap::Format::k8Bit);
      for (int y = 0; y < h; ++y) {
        const uint8_t* s = src_row(y);
        for (int x = 0; x < w; ++x) bitmap_.Row(y)[x] = (s[x >> 2] >> (6 - 2 * (x & 3))) & 3;
      }
    } else if (bits == 24) {
      bitmap_ = Bitmap(w, h, Bitmap::Format::k24Bit);
      for (int y = 0; y < h; ++y) std::memcpy(bitmap_.Row(y), src_row(y), static_cast<size_t>(w) * 3);
      return;
    } else {
      DecodeMasked(w, h, bits, masks, src_row);
      return;
    }
    bitmap_.SetPalette(palette);
    CheckIndices(palette.size());
  }

  template <typename Rows>
  void DecodeMasked(int w, int h, int bits, const uint32_t masks[4], const Rows& src_row) {
    // The bitmap class keeps every bit of a channel and rounds.
    constexpr auto kRound = bmp::ChannelScaling::kRound;
    const bmp::ChannelScaler red(masks[0], kRound), green(masks[1], kRound), blue(masks[2], kRound),
        alpha(masks[3], kRound);
    auto pixel = [bits](const uint8_t* s, int x) { return bits == 16 ? GetLe16(s + x * 2) : GetLe32(s + x * 4); };
    bitmap_ = Bitmap(w, h, Bitmap::Format::k24Bit);
    // An alpha channel that is zero everywhere is padding, not transparency.
    bool use_alpha = false;
    for (int y = 0; y < h && alpha.Mask() && !use_alpha; ++y)
      for (int x = 0; x < w && !use_alpha; ++x) use_alpha = (pixel(src_row(y), x) & alpha.Mask()) != 0;
    if (use_alpha) StartAlpha(w, h);
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = src_row(y);
      uint8_t* o = bitmap_.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < w; ++x) {
        const uint32_t p = pixel(s, x);
        // Over white, as transparent areas of every input become white.
        PutPixel(o + x * 3, kept ? kept + x * 4 : nullptr, blue.Of(p), green.Of(p), red.Of(p),
                 use_alpha ? alpha.Of(p) : 255);
      }
    }
  }

  void CheckIndices(size_t palette_size) {
    const int bits = bitmap_.Bits();
    if (palette_size >= (1u << bits)) return;
    for (int y = 0; y < bitmap_.Height(); ++y)
      for (int x = 0; x < bitmap_.Width(); ++x)
        if (static_cast<size_t>(bitmap_.GetIndex(x, y)) >= palette_size)
          Refuse(Tr("pixel ({1}, {2}) uses colour {3} of a {4}-entry palette",
                            {std::to_string(x), std::to_string(y), std::to_string(bitmap_.GetIndex(x, y)),
                             std::to_string(palette_size)}));
  }

  // Rows are stored bottom-up; data that ends early leaves the rest at index 0.
  void DecodeRle(const uint8_t* data, size_t size, bool rle4) {
    const int h = bitmap_.Height();
    bmp::DecodeRle(
        data, size, bitmap_.Width(), h, rle4, bmp::RleEnd::kLenient,
        [&](int x, int y, int value) { bitmap_.Row(h - 1 - y)[x] = static_cast<uint8_t>(value); },
        [](bmp::RleFault fault) {
          switch (fault) {
            case bmp::RleFault::kDeltaPastImage:
              Refuse(Tr("a run-length delta moves past the image"));
            case bmp::RleFault::kRowsPastImage:
              Refuse(Tr("run-length data has more rows than the image"));
            default:
              Refuse(Tr("run-length data runs past the image"));
          }
        });
  }
};

}  // namespace

const GraphicClass& BitmapClass() {
  static const GraphicClass cls{"Bitmap", [] { return std::make_unique<BmpGraphic>(); }, nullptr};
  return cls;
}

const InputFormat& BmpFormat() {
  static const InputFormat format{
      "BMP",
      {{Registration::kEarly, BitmapClass, "bmp", N_("Windows bitmaps")},
        {Registration::kClipboard, BitmapClass, "", "", "", 2},
        {Registration::kSideFormat, BitmapClass, "bmp", N_("Windows bitmaps")},
        {Registration::kSideFormat, BitmapClass, "rle", N_("Windows bitmaps"), N_("Run length encoded Windows bitmaps")},
        {Registration::kSideFormat, BitmapClass, "dib", N_("Windows bitmaps"), N_("Device independant Windows bitmaps")},
        {Registration::kLate, DibImageClass, "dib", N_("Device Independent Bitmap")},
        {Registration::kClipboard, DibImageClass, "", "", "", 8}},
      RecognisesBmp,
      true,
      true,
      {"image/bmp", "image/x-bmp"}};
  return format;
}

}  // namespace velmora
