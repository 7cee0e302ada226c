// Dr. Halo input (cut): 8-bit colour indices, each row run-length encoded
// behind its byte count. The colours live in a Dr. Halo palette file of the
// same name (.pal) beside the picture; without one the indices become a grey
// ramp of 2, 16 or 256 steps, whichever the largest index needs.
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("CUT image error");
constexpr const char* kPaletteWho = "CUT palette error";
constexpr size_t kHeaderSize = 6;

// One row: a count byte with the top bit set repeats the next byte, without
// it copies that many bytes; a zero count ends the row. Returns false where
// the data is not a row of exactly width pixels.
bool UnpackRow(ByteReader& in, uint8_t* out, int width) {
  int x = 0;
  for (;;) {
    if (x == width && in.AtEnd()) break;  // a full row whose end mark is missing
    const uint8_t code = in.U8();
    const int count = code & 0x7F;
    if (count == 0) break;
    if (count > width - x) return false;
    if (code & 0x80) {
      const uint8_t value = in.U8();
      for (int i = 0; i < count; ++i) out[x++] = value;
    } else {
      const uint8_t* p = in.Take(count);
      for (int i = 0; i < count; ++i) out[x++] = p[i];
    }
  }
  return x == width;
}

// The format has no signature: the first rows must decode to exactly the
// width and end where their byte counts say.
bool RecognisesCut(const uint8_t* data, size_t size) {
  if (size < kHeaderSize + 3) return false;
  ByteReader in(data, size, kWho);
  const int width = in.U16Le(), height = in.U16Le();
  if (width == 0 || height == 0 || in.U16Le() != 0) return false;
  std::vector<uint8_t> row(width);
  try {
    for (int y = 0; y < std::min(height, 4); ++y) {
      const size_t length = in.U16Le();
      const size_t start = in.Position();
      ByteReader line(in.Take(length), length, kWho);
      if (!UnpackRow(line, row.data(), width) || line.Position() != length) return false;
      in.Seek(start + length);
    }
  } catch (const Error&) {
    return false;
  }
  return true;
}

std::vector<RgbQuad> ReadPalette(const std::vector<uint8_t>& file) {
  ByteReader in(file.data(), file.size(), kPaletteWho);
  if (in.U8() != 'A' || in.U8() != 'H') in.Invalid(Tr("not a Dr. Halo palette file"));
  in.Skip(4);  // version, size
  const uint8_t type = in.U8();
  const uint8_t subtype = in.U8();
  if (type != 0 || subtype != 0) in.Unsupported(Tr("only RGB palettes are supported"));
  in.Skip(4);  // board, graphics mode
  const int max_index = in.U16Le();
  const uint32_t max[3] = {in.U16Le(), in.U16Le(), in.U16Le()};
  in.Skip(20);  // "Dr. Halo"
  if (max[0] == 0 || max[1] == 0 || max[2] == 0) in.Invalid(Tr("the palette's colour range is empty"));
  std::vector<RgbQuad> palette(std::min(max_index + 1, 256));
  for (auto& entry : palette) {
    // Entries never straddle the file's 512-byte blocks.
    if (in.Position() % 512 > 512 - 6) in.Seek((in.Position() / 512 + 1) * 512);
    uint8_t rgb[3];
    for (int c = 0; c < 3; ++c) rgb[c] = ScaleSample(in.U16Le(), max[c]);
    entry = {rgb[2], rgb[1], rgb[0], 0};
  }
  return palette;
}

class CutGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "CutGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    const int width = in.U16Le();
    const int height = in.U16Le();
    in.Skip(2);
    // A run of 127 pixels takes two bytes; each row adds its count and end.
    ClaimSize(width, height, in.Remaining(), 127.0 / 2.0, kWho);
    Bitmap out(width, height, Bitmap::Format::k8Bit);
    int largest = 0;
    for (int y = 0; y < height; ++y) {
      const size_t length = in.U16Le();
      const size_t start = in.Position();
      ByteReader line(in.Take(length), length, kWho);
      if (!UnpackRow(line, out.Row(y), width)) in.Invalid(Tr("row {1} does not fill the width", {std::to_string(y)}));
      in.Seek(start + length);
      for (int x = 0; x < width; ++x) largest = std::max<int>(largest, out.Row(y)[x]);
    }
    std::vector<RgbQuad> palette;
    std::optional<std::vector<uint8_t>> file = CompanionFile("pal");
    if (!file) file = CompanionFile("PAL");
    if (file) {
      palette = ReadPalette(*file);
      if (largest >= static_cast<int>(palette.size()))
        in.Invalid(Tr("a pixel refers to a colour the palette file does not have"));
    } else {
      palette = GreyRamp(largest <= 1 ? 2 : largest <= 15 ? 16 : 256);
    }
    out.SetPalette(palette);
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& CutClass() {
  static const GraphicClass cls{"CutGraphic", [] { return std::make_unique<CutGraphic>(); }, RecognisesCut};
  return cls;
}

const InputFormat& CutFormat() {
  static const InputFormat format{
      "Dr. Halo",
      {{Registration::kSideFormat, CutClass, "cut", N_("Dr. Halo images")}},
      nullptr,
      true,
      true,
      {"image/x-dr-halo"}};
  return format;
}

}  // namespace velmora
