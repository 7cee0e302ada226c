// Truevision Targa input (tga, icb, vda, vst, win): colour-mapped, true-colour
// and grey pictures, uncompressed or run-length encoded, 8 to 32 bits, in any
// of the four origins. Alpha is composited over white unless the file's
// extension area says its alpha bits mean nothing.
#include <array>
#include <cstring>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("Targa image error");
constexpr size_t kHeaderSize = 18;

struct Header {
  uint8_t id_length, map_type, image_type;
  uint16_t map_first, map_length;
  uint8_t map_entry_bits;
  uint16_t width, height;
  uint8_t depth, descriptor;
};

Header ReadHeader(ByteReader& in) {
  Header h{};
  h.id_length = in.U8();
  h.map_type = in.U8();
  h.image_type = in.U8();
  h.map_first = in.U16Le();
  h.map_length = in.U16Le();
  h.map_entry_bits = in.U8();
  in.Skip(4);  // origin on the screen: not the picture's business
  h.width = in.U16Le();
  h.height = in.U16Le();
  h.depth = in.U8();
  h.descriptor = in.U8();
  return h;
}

bool Mapped(const Header& h) { return h.image_type == 1 || h.image_type == 9; }
bool Grey(const Header& h) { return h.image_type == 3 || h.image_type == 11; }
bool Rle(const Header& h) { return h.image_type >= 9; }

// Whether the header describes a picture this reader can decode: the checks
// that make a Targa file, which has no signature, recognisable.
bool Consistent(const Header& h) {
  const int type = h.image_type;
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return false;
  if (h.map_type > 1 || (Mapped(h) && h.map_type != 1)) return false;
  if (h.map_type == 1) {
    const int e = h.map_entry_bits;
    if (e != 15 && e != 16 && e != 24 && e != 32) return false;
    if (h.map_length == 0) return false;
  }
  if (h.width == 0 || h.height == 0) return false;
  if ((h.descriptor & 0xC0) != 0) return false;  // interleaving: long obsolete
  if (Mapped(h)) return h.depth == 8 || h.depth == 16;
  if (Grey(h)) return h.depth == 8 || h.depth == 16;
  return h.depth == 15 || h.depth == 16 || h.depth == 24 || h.depth == 32;
}

// One pixel's colour in blue, green, red, alpha.
using Bgra = std::array<uint8_t, 4>;

Bgra From16(uint16_t v, bool alpha_bit) {
  auto five = [](int c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); };
  return {five(v & 31), five((v >> 5) & 31), five((v >> 10) & 31),
          static_cast<uint8_t>(alpha_bit ? ((v & 0x8000) ? 255 : 0) : 255)};
}

Bgra FromBytes(const uint8_t* p, int bits, bool use_alpha) {
  switch (bits) {
    case 15:
    case 16:
      return From16(static_cast<uint16_t>(p[0] | (p[1] << 8)), use_alpha && bits == 16);
    case 24:
      return {p[0], p[1], p[2], 255};
    default:
      return {p[0], p[1], p[2], use_alpha ? p[3] : uint8_t{255}};
  }
}

bool RecognisesTarga(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return false;
  ByteReader in(data, size, kWho);
  const Header h = ReadHeader(in);
  if (!Consistent(h)) return false;
  const uint64_t map_bytes = h.map_type ? uint64_t{h.map_length} * ((h.map_entry_bits + 7) / 8) : 0;
  const uint64_t start = kHeaderSize + h.id_length + map_bytes;
  if (start > size) return false;
  if (!Rle(h)) return start + uint64_t{h.width} * h.height * ((h.depth + 7) / 8) <= size;
  return start < size;
}

class TargaGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "TargaGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (size < kHeaderSize) in.Truncated();
    const Header h = ReadHeader(in);
    if (h.image_type == 32 || h.image_type == 33)
      in.Unsupported(Tr("Huffman-compressed Targa files are not supported"));
    if (!Consistent(h)) in.Invalid(Tr("not a Targa file this program can read"));
    in.Skip(h.id_length);

    const bool alpha = AlphaMeaningful(data, size, h);
    std::vector<Bgra> map;
    if (h.map_type == 1) {
      const int entry_bytes = (h.map_entry_bits + 7) / 8;
      const uint8_t* p = in.Take(uint64_t{h.map_length} * entry_bytes);
      map.resize(size_t{h.map_first} + h.map_length, Bgra{0, 0, 0, 255});
      for (int i = 0; i < h.map_length; ++i)
        map[size_t{h.map_first} + i] = FromBytes(p + i * entry_bytes, h.map_entry_bits, alpha);
    }

    const int pixel_bytes = (h.depth + 7) / 8;
    // Densest packing: a run packet of 128 pixels in 1 + pixel_bytes bytes.
    ClaimSize(h.width, h.height, in.Remaining(),
                     Rle(h) ? 128.0 / (1 + pixel_bytes) : 1.0 / pixel_bytes, kWho);
    const std::vector<uint8_t> raw = Rle(h) ? Unpack(in, h, pixel_bytes) : ReadPlain(in, h, pixel_bytes);

    const bool right_to_left = h.descriptor & 0x10;
    const bool top_down = h.descriptor & 0x20;
    const bool indexed_out = Mapped(h) && h.depth == 8 && map.size() <= 256 && !MapHasAlpha(map);
    if (indexed_out) {
      Bitmap out(h.width, h.height, Bitmap::Format::k8Bit);
      std::vector<RgbQuad> palette(std::max<size_t>(map.size(), 1));
      for (size_t i = 0; i < map.size(); ++i) palette[i] = {map[i][0], map[i][1], map[i][2], 0};
      out.SetPalette(palette);
      for (int y = 0; y < h.height; ++y) {
        const uint8_t* s = raw.data() + size_t{h.width} * (top_down ? y : h.height - 1 - y);
        uint8_t* d = out.Row(y);
        for (int x = 0; x < h.width; ++x) {
          const uint8_t index = s[right_to_left ? h.width - 1 - x : x];
          if (index >= map.size()) in.Invalid(Tr("a pixel refers to a colour the colour map does not have"));
          d[x] = index;
        }
      }
      bitmap_ = std::move(out);
      return;
    }
    Bitmap out(h.width, h.height, Bitmap::Format::k24Bit);
    if (alpha || MapHasAlpha(map)) StartAlpha(h.width, h.height);
    for (int y = 0; y < h.height; ++y) {
      const uint8_t* s = raw.data() + size_t{h.width} * pixel_bytes * (top_down ? y : h.height - 1 - y);
      uint8_t* d = out.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < h.width; ++x) {
        const uint8_t* p = s + static_cast<size_t>(pixel_bytes) * (right_to_left ? h.width - 1 - x : x);
        Bgra c;
        if (Mapped(h)) {
          const size_t index = h.depth == 8 ? p[0] : static_cast<size_t>(p[0] | (p[1] << 8));
          if (index >= map.size()) in.Invalid(Tr("a pixel refers to a colour the colour map does not have"));
          c = map[index];
        } else if (Grey(h)) {
          c = {p[0], p[0], p[0], static_cast<uint8_t>(h.depth == 16 && alpha ? p[1] : 255)};
        } else {
          c = FromBytes(p, h.depth, alpha);
        }
        if (premultiplied_) {
          for (int i = 0; i < 3; ++i) d[x * 3 + i] = static_cast<uint8_t>(std::min(255, c[i] + 255 - c[3]));
          // Kept straight: the colour divided by its coverage.
          for (int i = 0; kept && i < 3; ++i)
            kept[x * 4 + i] = c[3] ? static_cast<uint8_t>(std::min(255, (c[i] * 255 + c[3] / 2) / c[3])) : 0;
          if (kept) kept[x * 4 + 3] = c[3];
        } else {
          PutPixel(d + x * 3, kept ? kept + x * 4 : nullptr, c[0], c[1], c[2], c[3]);
        }
      }
    }
    bitmap_ = std::move(out);
  }

 private:
  static bool MapHasAlpha(const std::vector<Bgra>& map) {
    for (const Bgra& c : map)
      if (c[3] != 255) return true;
    return false;
  }

  // Alpha counts when the descriptor gives the pixels alpha bits, unless a
  // version 2 file's extension area says they hold nothing (attribute types
  // 0 to 2); type 4 marks premultiplied colours.
  bool AlphaMeaningful(const uint8_t* data, size_t size, const Header& h) {
    premultiplied_ = false;
    const bool attribute_bits = (h.descriptor & 0x0F) != 0 || (h.map_type == 1 && h.map_entry_bits == 32);
    if (size < 26 + kHeaderSize || std::memcmp(data + size - 18, "TRUEVISION-XFILE.\0", 18) != 0)
      return attribute_bits;
    const uint32_t extension = static_cast<uint32_t>(data[size - 26] | (data[size - 25] << 8) |
                                                     (data[size - 24] << 16) | (uint32_t{data[size - 23]} << 24));
    if (extension == 0 || extension > size - 26 || size - 26 - extension < 495) return attribute_bits;
    const uint8_t type = data[extension + 494];
    if (type <= 2) return false;
    premultiplied_ = type == 4;
    return true;
  }

  static std::vector<uint8_t> ReadPlain(ByteReader& in, const Header& h, int pixel_bytes) {
    const uint64_t bytes = uint64_t{h.width} * h.height * pixel_bytes;
    const uint8_t* p = in.Take(bytes);
    return std::vector<uint8_t>(p, p + bytes);
  }

  // Packets may run across rows, as many writers let them.
  std::vector<uint8_t> Unpack(ByteReader& in, const Header& h, int pixel_bytes) const {
    const size_t total = size_t{h.width} * h.height * pixel_bytes;
    CheckAllocation(Limits(), static_cast<int64_t>(total), kWho);
    std::vector<uint8_t> out(total);
    size_t filled = 0;
    while (filled < total) {
      const uint8_t packet = in.U8();
      const size_t count = std::min<size_t>((packet & 0x7F) + 1, (total - filled) / pixel_bytes);
      if (packet & 0x80) {
        const uint8_t* pixel = in.Take(pixel_bytes);
        for (size_t i = 0; i < count; ++i, filled += pixel_bytes) std::memcpy(&out[filled], pixel, pixel_bytes);
      } else {
        const uint8_t* pixels = in.Take(((packet & 0x7F) + 1) * static_cast<size_t>(pixel_bytes));
        std::memcpy(&out[filled], pixels, count * pixel_bytes);
        filled += count * pixel_bytes;
      }
    }
    return out;
  }

  bool premultiplied_ = false;
};

}  // namespace

const GraphicClass& TargaClass() {
  static const GraphicClass cls{"TargaGraphic", [] { return std::make_unique<TargaGraphic>(); }, RecognisesTarga};
  return cls;
}

const InputFormat& TargaFormat() {
  static const InputFormat format{
      "Targa",
      {{Registration::kSideFormat, TargaClass, "win", N_("Truevision images")},
        {Registration::kSideFormat, TargaClass, "vst", N_("Truevision images")},
        {Registration::kSideFormat, TargaClass, "vda", N_("Truevision images")},
        {Registration::kSideFormat, TargaClass, "tga", N_("Truevision images")},
        {Registration::kSideFormat, TargaClass, "icb", N_("Truevision images")}},
      nullptr,
      true,
      true,
      {"image/x-tga"}};
  return format;
}

}  // namespace velmora
