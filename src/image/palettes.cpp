#include "image/palettes.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
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
  if (expected_lookups >= 4096 && !palette.empty() && palette.size() <= 256) cells_.resize(size_t{1} << 15);
}

int NearestColorMap::Search(uint8_t red, uint8_t green, uint8_t blue) const {
  return NearestIndex(palette_.data(), palette_.size(), red, green, blue, ColorDistance::kSquared);
}

void NearestColorMap::Fill(Cell& cell, int red, int green, int blue) {
  // Per channel, the distance from an entry to the cell's nearest and
  // farthest value of the 8 it spans.
  auto nearest = [](int v, int lo) { return v < lo ? lo - v : v > lo + 7 ? v - lo - 7 : 0; };
  auto farthest = [](int v, int lo) { return std::max(std::abs(v - lo), std::abs(v - lo - 7)); };
  auto sq = [](int d) { return d * d; };
  int bound = 1 << 30;
  for (const RgbQuad& q : palette_)
    bound = std::min(bound, sq(farthest(q.red, red)) + sq(farthest(q.green, green)) + sq(farthest(q.blue, blue)));
  cell.start = static_cast<uint32_t>(candidates_.size());
  for (size_t i = 0; i < palette_.size(); ++i) {
    const RgbQuad& q = palette_[i];
    if (sq(nearest(q.red, red)) + sq(nearest(q.green, green)) + sq(nearest(q.blue, blue)) <= bound)
      candidates_.push_back(static_cast<uint8_t>(i));
  }
  cell.count = static_cast<uint16_t>(candidates_.size() - cell.start);
}

uint8_t NearestColorMap::Among(const Cell& cell, uint8_t red, uint8_t green, uint8_t blue) const {
  // In index order with a strict comparison: the lowest index wins a tie.
  const uint8_t* c = candidates_.data() + cell.start;
  uint8_t best = c[0];
  int best_distance = 1 << 30;
  for (int k = 0; k < cell.count; ++k) {
    const RgbQuad& q = palette_[c[k]];
    const int dr = q.red - red, dg = q.green - green, db = q.blue - blue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < best_distance) best_distance = d, best = c[k];
  }
  return best;
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
