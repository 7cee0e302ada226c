#include "formats/ico/ico_writer.h"
#include "formats/output_format.h"

#include <cstring>
#include <ostream>
#include <vector>

#include "image/byte_order.h"
#include "image/palettes.h"
#include "image/image_rows.h"
#include "image/resample.h"

namespace velmora {
namespace {

void Directory(std::vector<uint8_t>& v, int w, int h, int color_count, int bits, uint32_t bytes) {
  AppendLe16(v, 0);
  AppendLe16(v, 1);
  AppendLe16(v, 1);
  v.push_back(static_cast<uint8_t>(w & 0xFF));
  v.push_back(static_cast<uint8_t>(h & 0xFF));
  v.push_back(static_cast<uint8_t>(color_count));
  v.push_back(0);
  AppendLe16(v, 1);
  AppendLe16(v, static_cast<uint32_t>(bits));
  AppendLe32(v, bytes);
  AppendLe32(v, 22);
}

void Write(std::ostream& out, const std::vector<uint8_t>& v) {
  out.write(reinterpret_cast<const char*>(v.data()), static_cast<std::streamsize>(v.size()));
}

constexpr ColorValue kBlack = 0;
constexpr ColorValue kStandIn = MakeColor(250, 249, 248);

}  // namespace

void WriteIconFile(DibImage image, std::ostream& out) {
  switch (image.GetPixelFormat()) {
    case PixelFormat::k4BitRLE:
      image.SetPixelFormat(PixelFormat::k4Bit);
      break;
    case PixelFormat::k8BitRLE:
    case PixelFormat::k24Bit:
      image.SetPixelFormat(PixelFormat::k8Bit);
      break;
    default:
      break;
  }
  const int bits = image.BitCount();
  const int palette_size = bits == 24 ? 0 : 1 << bits;
  const int color_count = bits == 1 ? 2 : bits == 4 ? 16 : 0;
  if (image.PaletteSize() < palette_size) {
    // Entries beyond the colours the quantizer produced are black.
    const int used = image.PaletteSize();
    std::vector<RgbQuad> table(image.Table().begin(), image.Table().begin() + palette_size);
    for (int i = used; i < palette_size; ++i) table[static_cast<size_t>(i)] = RgbQuad{};
    image.SetPalette(&table);
  }
  if (palette_size > 0) image.SetPaletteSize(palette_size);
  const int w = image.Width(), h = image.Height();
  const uint32_t xor_bytes = static_cast<uint32_t>(RowBytes(w, bits) * h);
  const uint32_t and_bytes = static_cast<uint32_t>(RowBytes(w, 1) * h);
  std::vector<uint8_t> head;
  Directory(head, w, h, color_count, bits, xor_bytes + 40 + 4 * static_cast<uint32_t>(palette_size) + and_bytes);
  // The image's own BMP serialisation without the file header, patched.
  const std::vector<uint8_t> dib = image.SaveToClipboardFormat();
  std::vector<uint8_t> info(dib.begin(), dib.begin() + 40);
  const uint32_t doubled = static_cast<uint32_t>(2 * h);
  for (int i = 0; i < 4; ++i) info[8 + static_cast<size_t>(i)] = static_cast<uint8_t>(doubled >> (8 * i));
  std::memset(info.data() + 32, 0, 4);
  Write(out, head);
  Write(out, info);
  const size_t table_bytes = 4 * static_cast<size_t>(palette_size);
  out.write(reinterpret_cast<const char*>(dib.data() + 40), static_cast<std::streamsize>(table_bytes));
  const uint8_t* rows = dib.data() + 40 + table_bytes;
  const size_t stride = static_cast<size_t>(RowBytes(w, bits));
  // Icons store rows bottom first; a top-down image is turned over.
  const bool top_down = image.Header().biHeight < 0;
  for (int y = 0; y < h; ++y)
    out.write(reinterpret_cast<const char*>(rows + stride * static_cast<size_t>(top_down ? h - 1 - y : y)),
              static_cast<std::streamsize>(stride));
  const std::vector<uint8_t> mask(and_bytes, 0);
  Write(out, mask);
}

MaskedIcon MakeMaskedIcon(const Bitmap& bitmap, int size) {
  Bitmap c = bitmap.Width() == size && bitmap.Height() == size ? bitmap.To24Bit() : ResampleBitmap(bitmap, size, size);
  c = c.To24Bit();
  const ColorValue t = c.GetPixel(0, size - 1);
  auto replace = [&](ColorValue from, ColorValue to) {
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x)
        if (c.GetPixel(x, y) == from) c.SetPixel(x, y, to);
  };
  // Black pixels of the picture hide behind a stand-in while the transparent
  // colour becomes black, then come back.
  if (t != kBlack) replace(kBlack, kStandIn);
  replace(t, kBlack);
  Bitmap mask(size, size, Bitmap::Format::k1Bit);
  mask.SetPalette({RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}});
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) mask.SetIndex(x, y, c.GetPixel(x, y) == kBlack ? 1 : 0);
  replace(kStandIn, kBlack);
  return MaskedIcon{std::move(c), std::move(mask)};
}

void WriteTransparentIconFile(const MaskedIcon& icon, std::ostream& out) {
  const int w = icon.color.Width(), h = icon.color.Height();
  const Bitmap color = MapToPalette(icon.color, HalftonePalette256(), Bitmap::Format::k8Bit);
  const uint32_t color_size = static_cast<uint32_t>(((w * 8 + 31) & ~31) / 8 * h);
  const uint32_t mask_size = static_cast<uint32_t>(((w + 31) & ~31) / 8 * h);
  std::vector<uint8_t> v;
  Directory(v, w, h, 0, 8, 1064 + color_size + mask_size);
  AppendLe32(v, 40);
  AppendLe32(v, static_cast<uint32_t>(w));
  AppendLe32(v, static_cast<uint32_t>(2 * h));
  AppendLe16(v, 1);
  AppendLe16(v, 8);
  AppendLe32(v, 0);
  AppendLe32(v, color_size);
  for (int i = 0; i < 4; ++i) AppendLe32(v, 0);
  for (const RgbQuad& q : color.Palette()) {
    v.push_back(q.blue);
    v.push_back(q.green);
    v.push_back(q.red);
    v.push_back(0);
  }
  // Rows bottom first, as DIBs store them.
  for (int y = h - 1; y >= 0; --y) v.insert(v.end(), color.Row(y), color.Row(y) + color_size / h);
  for (int y = h - 1; y >= 0; --y) v.insert(v.end(), icon.mask.Row(y), icon.mask.Row(y) + mask_size / h);
  Write(out, v);
}

void EncodeIco(const DibImage& image, int size, bool trans, std::ostream& out) {
  // A full-colour picture is shrunk from its own rows: a copy of a big
  // photo would double it for an icon of a few pixels.
  Bitmap square;
  if (const ImageRows rows(image); rows.Bits() == 24) {
    square = ResampleRows(rows, size, size);
  } else {
    Bitmap source;
    image.AssignTo(source);
    square = ResampleBitmap(source, size, size);
  }
  DibImage quantized;
  quantized.Assign(square);
  quantized.SetPixelFormat(PixelFormat::k8Bit);
  quantized.AssignTo(square);
  if (trans)
    WriteTransparentIconFile(MakeMaskedIcon(square, size), out);
  else
    WriteIconFile(quantized, out);
}

const OutputFormat& IcoOutput() {
  static const OutputFormat format{
      .extension = "ico",
      .name = "ICO",
      .takes_transparency = true,
      .takes_icon_size = true,
      .encode = [](const DibImage& image, const EncodeOptions& options,
                   std::ostream& out) { EncodeIco(image, options.icon_size, options.transparent, out); },
  };
  return format;
}

}  // namespace velmora
