#include "image/quantizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>

#include "base/error.h"
#include "image/palettes.h"
#include "test_util.h"

namespace velmora {
namespace {

DibImage FromColors(const std::vector<ColorValue>& colors) {
  return test::DibOf(test::RgbBitmap(static_cast<int>(colors.size()), 1, [&](int x, int) { return colors[x]; }));
}

std::vector<ColorValue> TableOf(const DibImage& image) {
  std::vector<ColorValue> out;
  for (int i = 0; i < image.PaletteSize(); ++i) out.push_back(QuadColor(image.Table()[i]));
  return out;
}

const ColorValue kRed = MakeColor(255, 0, 0), kGreen = MakeColor(0, 255, 0), kBlue = MakeColor(0, 0, 255);

TEST(QuantizerTest, RedGreenBlueSplitsOnGreenFirst) {
  DibImage image = FromColors({kRed, kGreen, kBlue});
  image.SetPixelFormat(PixelFormat::k8Bit);
  EXPECT_EQ(TableOf(image), (std::vector<ColorValue>{kGreen, kRed, kBlue}));
  EXPECT_EQ(image.Bits()[0], 1);
  EXPECT_EQ(image.Bits()[1], 0);
  EXPECT_EQ(image.Bits()[2], 2);
}

TEST(QuantizerTest, TenRedsAndOneGreenAndBlue) {
  std::vector<ColorValue> colors(10, kRed);
  colors.push_back(kGreen);
  colors.push_back(kBlue);
  DibImage image = FromColors(colors);
  image.SetPixelFormat(PixelFormat::k8Bit);
  EXPECT_EQ(TableOf(image), (std::vector<ColorValue>{kRed, kGreen, kBlue}));
}

TEST(QuantizerTest, OneColourGivesOneEntry) {
  DibImage image = FromColors({MakeColor(10, 20, 30), MakeColor(10, 20, 30)});
  image.SetPixelFormat(PixelFormat::k8Bit);
  ASSERT_EQ(image.PaletteSize(), 1);
  EXPECT_EQ(TableOf(image)[0], MakeColor(10, 20, 30));
  const auto bytes = image.SaveToClipboardFormat();
  EXPECT_EQ(test::Le32(bytes, 32), 1u);
}

TEST(QuantizerTest, ColoursOfOneCellShareItsRepresentative) {
  DibImage image = FromColors({MakeColor(200, 100, 50), MakeColor(201, 101, 51)});
  image.SetPixelFormat(PixelFormat::k8Bit);
  ASSERT_EQ(image.PaletteSize(), 1);
  // Representative: cell base plus the mean of the low bits, integer division.
  // red 200 = 25*8 + 0, 201 -> +1: (0+1) div 2 = 0 -> 200; green 100 = 25*4+0,
  // 101 -> +1: 0 -> 100; blue 50 = 6*8+2, 51 -> 3: (2+3) div 2 = 2 -> 50.
  EXPECT_EQ(TableOf(image)[0], MakeColor(200, 100, 50));
}

TEST(QuantizerTest, NeverMoreEntriesThanCellsAndEveryPixelTakesItsCell) {
  Bitmap b(64, 64, Bitmap::Format::k24Bit);
  std::set<int> cells;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const int r = (x * 37 + y * 11) & 255, g = (x * 5 + y * 71) & 255, bl = (x * y) & 255;
      b.SetPixel(x, y, MakeColor(r, g, bl));
      cells.insert((r >> 3) * 2048 + (g >> 2) * 32 + (bl >> 3));
    }
  DibImage image;
  image.Assign(b);
  image.SetPixelFormat(PixelFormat::k8Bit);
  EXPECT_LE(image.PaletteSize(), 256);
  EXPECT_LE(static_cast<size_t>(image.PaletteSize()), cells.size());
  // Every pixel of one cell maps to one entry.
  Bitmap out;
  image.AssignTo(out);
  std::map<int, int> index_of_cell;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const ColorValue c = b.GetPixel(x, y);
      const int cell = (ColorRed(c) >> 3) * 2048 + (ColorGreen(c) >> 2) * 32 + (ColorBlue(c) >> 3);
      const int index = out.GetIndex(x, y);
      auto [it, inserted] = index_of_cell.emplace(cell, index);
      EXPECT_EQ(it->second, index);
    }
}

TEST(QuantizerTest, SixteenColoursPackTwoPixelsPerByte) {
  DibImage image = FromColors({kRed, kGreen, kBlue});
  image.SetPixelFormat(PixelFormat::k4Bit);
  EXPECT_EQ(image.BitCount(), 4);
  EXPECT_EQ(TableOf(image), (std::vector<ColorValue>{kGreen, kRed, kBlue}));
  EXPECT_EQ(image.Bits()[0], 0x10);
  EXPECT_EQ(image.Bits()[1], 0x20);
}

TEST(QuantizerTest, RefusesNonTrueColourSource) {
  DibImage image;
  try {
    ConvertTrueColorTo8BitRGBLow(DibParts{}, nullptr, false);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "ConvertTrueColorTo8BitRGBLow: Invalid Bitcount");
  }
  try {
    ConvertTrueColorTo4BitRGBLow(DibParts{}, nullptr, false);
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "ConvertTrueColorTo4BitRGBLow: Invalid Bitcount");
  }
}

// Quantized over its own rows (as SetPixelFormat does to a picture of its
// own), a picture comes out as the conversion beside it makes it: both
// depths, a width whose rows are padded, memory big enough to be mapped (and
// given back in part).
TEST(QuantizerTest, InPlaceMatchesTheConversionBesideIt) {
  for (int bits : {8, 4}) {
    DibImage image = test::DibOf(test::RgbBitmap(1001, 1500, [](int x, int y) {
      return MakeColor(x * 5 % 256, y * 7 % 256, x * y % 256);
    }));
    DibParts copy;
    copy.header = image.Header();
    copy.table = image.Table();
    copy.bits = PixelMemory(image.ImageSize(), false);
    std::memcpy(copy.bits.Data(), image.Bits(), image.ImageSize());
    const DibParts beside = bits == 8 ? ConvertTrueColorTo8BitRGBLow(copy, nullptr, false)
                                      : ConvertTrueColorTo4BitRGBLow(copy, nullptr, false);
    image.SetPixelFormat(bits == 8 ? PixelFormat::k8Bit : PixelFormat::k4Bit);
    ASSERT_EQ(image.ImageSize(), beside.ImageSize()) << bits;
    EXPECT_EQ(0, std::memcmp(image.Bits(), beside.bits.Data(), beside.ImageSize())) << bits;
    EXPECT_EQ(static_cast<uint32_t>(image.PaletteSize()), beside.header.biClrUsed);
    EXPECT_EQ(0, std::memcmp(image.Table().data(), beside.table.data(), sizeof(RgbQuad) * 256));
  }
}

// The cell lists must give what the full search gives, ties to the lowest
// index included: the fixed palettes, a random one with repeated entries, and
// colours drawn at random plus every cell's corners.
TEST(NearestColorMapTest, AgreesWithTheFullSearch) {
  std::mt19937 random(7);
  std::vector<RgbQuad> repeated;
  for (int i = 0; i < 200; ++i) {
    const auto v = random();
    repeated.push_back(RgbQuad{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), 0});
  }
  repeated.push_back(repeated[5]);
  for (const std::vector<RgbQuad>* palette : std::initializer_list<const std::vector<RgbQuad>*>{&HalftonePalette256(), &SystemPalette16(), &repeated}) {
    NearestColorMap map(*palette, int64_t{1} << 24);
    auto check = [&](int r, int g, int b) {
      ASSERT_EQ(map.IndexOf(r, g, b), NearestIndex(palette->data(), palette->size(), r, g, b, ColorDistance::kSquared))
          << r << "," << g << "," << b;
    };
    for (int i = 0; i < 200000; ++i) {
      const auto v = random();
      check(v & 255, (v >> 8) & 255, (v >> 16) & 255);
    }
    // 0, 7, 8, 15, 16, ...: both ends of every cell on each channel.
    const auto next = [](int v) { return v + ((v & 7) ? 1 : 7); };
    for (int r = 0; r < 256; r = next(r))
      for (int g = 0; g < 256; g = next(g))
        for (int b = 0; b < 256; b = next(b)) check(r, g, b);
  }
}

}  // namespace
}  // namespace velmora
