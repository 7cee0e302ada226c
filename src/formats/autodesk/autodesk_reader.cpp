// Autodesk Animator cel and picture input (cel, pic): a 32-byte header marked
// 0x9119, a 256-colour palette of 6-bit VGA values and the 8-bit pixels, top
// row first, uncompressed.
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("Autodesk image error");
constexpr size_t kHeaderSize = 32;

bool RecognisesAutodesk(const uint8_t* data, size_t size) {
  if (size < kHeaderSize + 768 || data[0] != 0x19 || data[1] != 0x91) return false;
  const int width = data[2] | (data[3] << 8), height = data[4] | (data[5] << 8);
  return width > 0 && height > 0 && data[10] == 8 && data[11] == 0;
}

class AutodeskGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "AutodeskGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (in.U16Le() != 0x9119) in.Invalid(Tr("not an Autodesk Animator cel or picture"));
    const int width = in.U16Le();
    const int height = in.U16Le();
    in.Skip(4);  // where the cel sits on the screen
    const int depth = in.U8();
    const int compression = in.U8();
    in.Seek(kHeaderSize);
    if (depth != 8) in.Unsupported(Tr("{1}-bit cels are not supported", {std::to_string(depth)}));
    if (compression != 0) in.Unsupported(Tr("compressed cels are not supported"));
    const uint8_t* vga = in.Take(768);
    ClaimSize(width, height, in.Remaining(), 1.0, kWho);
    std::vector<RgbQuad> palette(256);
    for (int i = 0; i < 256; ++i) {
      auto six = [&](int c) {
        const int v = vga[i * 3 + c] & 63;
        return static_cast<uint8_t>((v << 2) | (v >> 4));
      };
      palette[i] = {six(2), six(1), six(0), 0};
    }
    Bitmap out(width, height, Bitmap::Format::k8Bit);
    out.SetPalette(palette);
    for (int y = 0; y < height; ++y) {
      const uint8_t* s = in.Take(width);
      std::copy(s, s + width, out.Row(y));
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& AutodeskClass() {
  static const GraphicClass cls{"AutodeskGraphic", [] { return std::make_unique<AutodeskGraphic>(); },
                                RecognisesAutodesk};
  return cls;
}

const InputFormat& AutodeskFormat() {
  static const InputFormat format{
      "Autodesk",
      {{Registration::kSideFormat, AutodeskClass, "cel", N_("Autodesk images")},
        {Registration::kSideFormat, AutodeskClass, "pic", N_("Autodesk images")}},
      nullptr,
      true,
      true,
      {"image/x-autodesk-cel"}};
  return format;
}

}  // namespace velmora
