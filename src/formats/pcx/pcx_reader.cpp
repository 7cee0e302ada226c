// ZSoft Paintbrush input (pcx, pcc, and Word 5 screen captures, scr): 1, 2, 4
// and 8 bits packed or in up to four bit planes, and 24-bit colour in three
// 8-bit planes (a fourth plane is alpha). Runs may cross rows and planes.
#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("PCX image error");
constexpr size_t kHeaderSize = 128;

struct Header {
  uint8_t version, encoding, bits;
  int width, height;
  uint8_t planes;
  uint16_t bytes_per_line;
  const uint8_t* ega_palette;
};

Header ReadHeader(ByteReader& in) {
  Header h{};
  in.Skip(1);
  h.version = in.U8();
  h.encoding = in.U8();
  h.bits = in.U8();
  const int xmin = in.U16Le(), ymin = in.U16Le(), xmax = in.U16Le(), ymax = in.U16Le();
  h.width = xmax - xmin + 1;
  h.height = ymax - ymin + 1;
  in.Skip(4);  // resolution
  h.ega_palette = in.Take(48);
  in.Skip(1);
  h.planes = in.U8();
  h.bytes_per_line = in.U16Le();
  in.Seek(kHeaderSize);
  return h;
}

bool Supported(const Header& h) {
  switch (h.bits) {
    case 1:
      return h.planes >= 1 && h.planes <= 4;
    case 2:
    case 4:
      return h.planes == 1;
    case 8:
      return h.planes == 1 || h.planes == 3 || h.planes == 4;
    default:
      return false;
  }
}

bool Plausible(const Header& h) {
  if (h.version > 5 || h.version == 1 || h.encoding > 1) return false;
  if (h.width <= 0 || h.height <= 0) return false;
  if (!Supported(h)) return false;
  return uint64_t{h.bytes_per_line} * 8 >= uint64_t(h.width) * h.bits && h.bytes_per_line > 0;
}

bool RecognisesPcx(const uint8_t* data, size_t size) {
  if (size <= kHeaderSize || data[0] != 0x0A) return false;
  ByteReader in(data, size, kWho);
  return Plausible(ReadHeader(in));
}

class PcxGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "PcxGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (size < kHeaderSize) in.Truncated();
    if (data[0] != 0x0A) in.Invalid(Tr("not a PCX file"));
    const Header h = ReadHeader(in);
    if (!Plausible(h)) {
      if (h.width > 0 && h.height > 0 && !Supported(h))
        in.Unsupported(Tr("{1} bits in {2} planes is not a PCX layout this program reads",
                          {std::to_string(h.bits), std::to_string(h.planes)}));
      in.Invalid(Tr("the header describes no picture"));
    }
    const size_t line = size_t{h.bytes_per_line} * h.planes;
    // A run codes at most 63 bytes in two.
    ClaimSize(h.width, h.height, in.Remaining(),
                     (h.encoding ? 31.5 : 1.0) * h.width / static_cast<double>(line), kWho);
    CheckAllocation(Limits(), static_cast<int64_t>(line) * h.height, kWho);
    std::vector<uint8_t> raw(line * h.height);
    if (h.encoding == 0) {
      std::memcpy(raw.data(), in.Take(raw.size()), raw.size());
    } else {
      size_t filled = 0;
      while (filled < raw.size()) {
        uint8_t c = in.U8();
        size_t count = 1;
        if ((c & 0xC0) == 0xC0) {
          count = c & 0x3F;
          c = in.U8();
        }
        count = std::min(count, raw.size() - filled);
        std::memset(&raw[filled], c, count);
        filled += count;
      }
    }
    if (h.bits == 8 && h.planes >= 3) {
      Bitmap out(h.width, h.height, Bitmap::Format::k24Bit);
      for (int y = 0; y < h.height; ++y) {
        const uint8_t* s = raw.data() + line * y;
        const uint8_t* r = s;
        const uint8_t* g = s + h.bytes_per_line;
        const uint8_t* b = s + 2 * size_t{h.bytes_per_line};
        const uint8_t* a = h.planes == 4 ? s + 3 * size_t{h.bytes_per_line} : nullptr;
        uint8_t* d = out.Row(y);
        for (int x = 0; x < h.width; ++x) {
          const int alpha = a ? a[x] : 255;
          d[x * 3] = OverWhite(b[x], alpha);
          d[x * 3 + 1] = OverWhite(g[x], alpha);
          d[x * 3 + 2] = OverWhite(r[x], alpha);
        }
      }
      bitmap_ = std::move(out);
      return;
    }
    const int depth = h.bits * h.planes;  // 1, 2, 3, 4 or 8 bits per pixel
    Bitmap out(h.width, h.height, depth == 1 ? Bitmap::Format::k1Bit
                                  : depth <= 4 ? Bitmap::Format::k4Bit
                                               : Bitmap::Format::k8Bit);
    out.SetPalette(Palette(h, depth, data, size));
    for (int y = 0; y < h.height; ++y) {
      const uint8_t* s = raw.data() + line * y;
      for (int x = 0; x < h.width; ++x) {
        int index = 0;
        if (h.planes == 1) {
          const int bit = x * h.bits;
          index = (s[bit >> 3] >> (8 - h.bits - (bit & 7))) & ((1 << h.bits) - 1);
        } else {
          for (int p = 0; p < h.planes; ++p)
            index |= ((s[size_t{h.bytes_per_line} * p + (x >> 3)] >> (7 - (x & 7))) & 1) << p;
        }
        out.SetIndex(x, y, index);
      }
    }
    bitmap_ = std::move(out);
  }

 private:
  static std::vector<RgbQuad> Palette(const Header& h, int depth, const uint8_t* data, size_t size) {
    std::vector<RgbQuad> palette;
    if (depth == 8) {
      // Version 5 keeps 256 colours after a 0x0C marker at the end; without
      // them the picture is grey.
      if (size >= kHeaderSize + 769 && data[size - 769] == 0x0C) {
        const uint8_t* p = data + size - 768;
        for (int i = 0; i < 256; ++i) palette.push_back({p[i * 3 + 2], p[i * 3 + 1], p[i * 3], 0});
      } else {
        for (int i = 0; i < 256; ++i) palette.push_back({uint8_t(i), uint8_t(i), uint8_t(i), 0});
      }
      return palette;
    }
    // Monochrome files of old leave the header palette black: black and
    // white then; newer writers put the two colours there.
    const uint8_t* p = h.ega_palette;
    if (depth == 1 && std::all_of(p, p + 6, [](uint8_t v) { return v == 0; })) return {{0, 0, 0, 0}, {255, 255, 255, 0}};
    const int colours = 1 << depth;
    for (int i = 0; i < colours; ++i) {
      const uint8_t* p = h.ega_palette + i * 3;
      palette.push_back({p[2], p[1], p[0], 0});
    }
    return palette;
  }
};

}  // namespace

const GraphicClass& PcxClass() {
  static const GraphicClass cls{"PcxGraphic", [] { return std::make_unique<PcxGraphic>(); }, RecognisesPcx};
  return cls;
}

const InputFormat& PcxFormat() {
  static const InputFormat format{
      "PCX",
      {{Registration::kSideFormat, PcxClass, "pcx", N_("ZSoft Paintbrush images")},
        {Registration::kSideFormat, PcxClass, "pcc", N_("ZSoft Paintbrush images")},
        {Registration::kSideFormat, PcxClass, "scr", N_("ZSoft Paintbrush images"), N_("Word 5.x screen capture images")}},
      nullptr,
      true,
      true,
      {"image/vnd.zbrush.pcx", "image/x-pcx"}};
  return format;
}

}  // namespace velmora
