#include "image/palettes.h"

#include <cstddef>
#include <stdexcept>

namespace velmora {

const std::vector<RgbQuad>& SystemPalette16() {
  static const std::vector<RgbQuad> palette = [] {
    const uint8_t rgb[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
    std::vector<RgbQuad> p;
    for (const auto& c : rgb) p.push_back(RgbQuad{c[2], c[1], c[0], 0});
    return p;
  }();
  return palette;
}

const std::vector<RgbQuad>& HalftonePalette256() {
  static const std::vector<RgbQuad> palette = [] {
    std::vector<RgbQuad> p;
    auto add = [&](int r, int g, int b) {
      p.push_back(RgbQuad{static_cast<uint8_t>(b), static_cast<uint8_t>(g), static_cast<uint8_t>(r), 0});
    };
    const int first[10][3] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                              {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    for (const auto& c : first) add(c[0], c[1], c[2]);
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) add(r * 51, g * 51, b * 51);
    for (int k = 1; k <= 20; ++k) {
      const int v = k * 255 / 21;
      add(v, v, v);
    }
    const int last[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
                             {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
    for (const auto& c : last) add(c[0], c[1], c[2]);
    return p;
  }();
  return palette;
}

NearestColorMap::NearestColorMap(const std::vector<RgbQuad>& palette, int64_t expected_lookups) : palette_(palette) {
  if (expected_lookups >= (int64_t{1} << 20)) cache_.assign(size_t{1} << 24, -1);
}

uint8_t NearestColorMap::IndexOf(uint8_t red, uint8_t green, uint8_t blue) {
  if (cache_.empty()) return static_cast<uint8_t>(Search(red, green, blue));
  int16_t& slot = cache_[(static_cast<size_t>(red) << 16) | (green << 8) | blue];
  if (slot < 0) slot = static_cast<int16_t>(Search(red, green, blue));
  return static_cast<uint8_t>(slot);
}

int NearestColorMap::Search(uint8_t red, uint8_t green, uint8_t blue) const {
  return NearestIndex(palette_.data(), palette_.size(), red, green, blue, ColorDistance::kSquared);
}

Bitmap MapToPalette(const Bitmap& bitmap, const std::vector<RgbQuad>& palette, Bitmap::Format format) {
  Bitmap out(bitmap.Width(), bitmap.Height(), format);
  out.SetPalette(palette);
  NearestColorMap map(palette, int64_t{bitmap.Width()} * bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const ColorValue c = bitmap.GetPixel(x, y);
      out.SetIndex(x, y, map.IndexOf(ColorRed(c), ColorGreen(c), ColorBlue(c)));
    }
  return out;
}

Bitmap MapToPalette(const ImageRows& rows, const std::vector<RgbQuad>& palette, Bitmap::Format format) {
  if (rows.Bits() != 24) throw std::logic_error("MapToPalette needs 24-bit rows");
  Bitmap out(rows.Width(), rows.Height(), format);
  out.SetPalette(palette);
  NearestColorMap map(palette, int64_t{rows.Width()} * rows.Height());
  for (int y = 0; y < rows.Height(); ++y) {
    const uint8_t* s = rows.Row(y);
    for (int x = 0; x < rows.Width(); ++x, s += 3) out.SetIndex(x, y, map.IndexOf(s[2], s[1], s[0]));
  }
  return out;
}

}  // namespace velmora
