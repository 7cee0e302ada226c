#include "image/resample.h"

#include <gtest/gtest.h>

#include <cmath>

#include <cstring>
#include <random>

#include "image/prepare.h"
#include "test_util.h"

namespace velmora {
namespace {

Bitmap Solid(int w, int h, ColorValue c) {
  return test::RgbBitmap(w, h, [c](int, int) { return c; });
}

TEST(ResampleTest, OneRedPixelDoubled) {
  Bitmap out = ResampleBitmap(Solid(1, 1, MakeColor(255, 0, 0)), 2, 2);
  ASSERT_EQ(out.Width(), 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(out.GetPixel(x, y), MakeColor(255, 0, 0));
}

TEST(ResampleTest, HalfOfOneWhitePixelIsSixtyFour) {
  Bitmap b = Solid(2, 2, 0);
  b.SetPixel(0, 0, MakeColor(255, 255, 255));
  Bitmap out = ResampleBitmap(b, 1, 1);
  EXPECT_EQ(out.GetPixel(0, 0), MakeColor(64, 64, 64));
}

TEST(ResampleTest, ThirdOfRampIsFifty) {
  Bitmap b(3, 3, Bitmap::Format::k24Bit);
  for (int i = 0; i < 9; ++i) {
    const int v = 10 * (i + 1);
    b.SetPixel(i % 3, i / 3, MakeColor(v, v, v));
  }
  EXPECT_EQ(ResampleBitmap(b, 1, 1).GetPixel(0, 0), MakeColor(50, 50, 50));
}

TEST(ResampleTest, ScaleOneSoftensWithFixedWeights) {
  // Centre 160, everything else 0: the centre keeps 9/16 of it, side
  // neighbours 3/32 and diagonal neighbours 1/64.
  Bitmap b = Solid(5, 5, 0);
  b.SetPixel(2, 2, MakeColor(160, 64, 128));
  Bitmap out = ResampleBitmap(b, 5, 5);
  EXPECT_EQ(out.GetPixel(2, 2), MakeColor(90, 36, 72));
  EXPECT_EQ(out.GetPixel(1, 2), MakeColor(15, 6, 12));
  EXPECT_EQ(out.GetPixel(2, 3), MakeColor(15, 6, 12));
  EXPECT_EQ(out.GetPixel(1, 1), MakeColor(2, 1, 2));
  EXPECT_EQ(out.GetPixel(0, 0), 0);
}

TEST(ResampleTest, ConstantImageStaysConstantForEveryFactor) {
  const ColorValue c = MakeColor(201, 7, 255);
  for (int index = 1; index <= 8; ++index) {
    for (auto [w, h] : {std::pair{7, 5}, std::pair{31, 17}, std::pair{12, 12}}) {
      Bitmap b = Solid(w, h, c);
      PrepareSize(b, index == 8 ? -1 : index);
      for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) ASSERT_EQ(b.GetPixel(x, y), c) << index << " " << x << "," << y;
    }
  }
}

// Source rows kept as doubles or read as bytes: the same bits, for up- and
// downscaling, odd sizes and a footprint of many rows.
TEST(ResampleTest, RowsAsDoublesOrAsBytesGiveTheSameBits) {
  const Bitmap source = test::NoiseBitmap(37, 53, Bitmap::Format::k24Bit, 11);
  // The same picture as a DIB, its rows bottom first, read in place.
  DibImage dib;
  dib.Assign(source);
  const ImageRows in_place(dib);
  for (const auto& [w, h] : std::vector<std::pair<int, int>>{{18, 26}, {12, 17}, {74, 106}, {7, 10}, {1, 1}, {111, 159}, {28, 40}}) {
    const Bitmap doubles = ResampleBitmap(source, w, h);
    const Bitmap bytes = ResampleBitmap(source, w, h, 0);
    const Bitmap rows = ResampleRows(in_place, w, h);
    ASSERT_EQ(doubles.Width(), w);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(doubles.GetPixel(x, y), bytes.GetPixel(x, y)) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(doubles.GetPixel(x, y), rows.GetPixel(x, y)) << w << "x" << h << " at " << x << "," << y;
      }
  }
}

// The vector kernels against the scalar one on random sizes, up and down,
// and random pixels: every byte the same.
TEST(ResampleTest, VectorKernelsGiveTheScalarBits) {
  std::mt19937 random(20261208);
  std::vector<ResampleKernel> kernels{ResampleKernel::kSse2};
  if (BestResampleKernel() == ResampleKernel::kAvx2) kernels.push_back(ResampleKernel::kAvx2);
  for (int round = 0; round < 40; ++round) {
    const int sw = 1 + static_cast<int>(random() % 90), sh = 1 + static_cast<int>(random() % 90);
    const int w = 1 + static_cast<int>(random() % 120), h = 1 + static_cast<int>(random() % 120);
    const Bitmap source = test::NoiseBitmap(sw, sh, Bitmap::Format::k24Bit, static_cast<uint32_t>(random()));
    const Bitmap scalar = ResampleBitmapWith(ResampleKernel::kScalar, source, w, h);
    for (ResampleKernel kernel : kernels) {
      const Bitmap lanes = ResampleBitmapWith(kernel, source, w, h);
      for (int y = 0; y < h; ++y)
        ASSERT_EQ(0, std::memcmp(scalar.Row(y), lanes.Row(y), static_cast<size_t>(w) * 3))
            << sw << "x" << sh << " -> " << w << "x" << h << " row " << y << " kernel " << static_cast<int>(kernel);
    }
  }
}

TEST(ResampleTest, RefusesZeroSizes) {
  EXPECT_THROW(ResampleBitmap(Solid(2, 2, 0), 0, 1), std::domain_error);
  EXPECT_THROW(ResampleBitmap(Bitmap(), 1, 1), std::logic_error);
}

TEST(PrepareSizeTest, FactorsDivideBeforeMultiplying) {
  const struct {
    int index, w, h, ew, eh;
  } cases[] = {{1, 101, 103, 50, 51}, {2, 101, 103, 33, 34}, {3, 101, 103, 20, 20},
               {4, 101, 103, 66, 68}, {5, 101, 103, 75, 75}, {6, 5, 3, 10, 6},
               {7, 5, 3, 15, 9},      {-1, 5, 3, 5, 3},      {1, 1, 9, 1, 4}};
  for (const auto& c : cases) {
    Bitmap b = Solid(c.w, c.h, 0);
    PrepareSize(b, c.index);
    EXPECT_EQ(b.Width(), c.ew) << c.index;
    EXPECT_EQ(b.Height(), c.eh) << c.index;
    EXPECT_EQ(b.PixelFormat(), Bitmap::Format::k24Bit);
  }
}

TEST(PrepareSizeTest, OneToOneLeavesBitmapUntouched) {
  Bitmap b(3, 2, Bitmap::Format::k8Bit);
  b.SetPalette({RgbQuad{1, 2, 3, 0}});
  PrepareSize(b, 0);
  EXPECT_EQ(b.PixelFormat(), Bitmap::Format::k8Bit);
  EXPECT_EQ(b.Palette().size(), 1u);
}

TEST(GreyLevelTest, WeightsSumToPointNineEightNine) {
  Bitmap b(4, 1, Bitmap::Format::k24Bit);
  b.SetPixel(0, 0, MakeColor(255, 255, 255));
  b.SetPixel(1, 0, MakeColor(255, 0, 0));
  b.SetPixel(2, 0, MakeColor(0, 255, 0));
  b.SetPixel(3, 0, MakeColor(0, 0, 255));
  GreyLevel(b);
  EXPECT_EQ(b.GetPixel(0, 0), MakeColor(252, 252, 252));
  EXPECT_EQ(b.GetPixel(1, 0), MakeColor(74, 74, 74));
  EXPECT_EQ(b.GetPixel(2, 0), MakeColor(149, 149, 149));
  EXPECT_EQ(b.GetPixel(3, 0), MakeColor(29, 29, 29));
  // Every red and green beside a few blues: the grey of the formula worked
  // out in full for each pixel.
  for (int blue : {0, 1, 127, 128, 254, 255}) {
    Bitmap all(256, 256, Bitmap::Format::k24Bit);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) all.SetPixel(x, y, MakeColor(x, y, blue));
    GreyLevel(all);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        const long double g = std::nearbyintl(x * 0.289L + y * 0.586L + blue * 0.114L);
        ASSERT_EQ(all.Row(y)[3 * x], static_cast<uint8_t>(g)) << x << "," << y << "," << blue;
      }
  }
}

TEST(PreparePixelColorTest, EachChoiceGivesItsFormat) {
  Bitmap rgb(3, 1, Bitmap::Format::k24Bit);
  rgb.SetPixel(0, 0, MakeColor(255, 0, 0));
  rgb.SetPixel(1, 0, MakeColor(0, 255, 0));
  rgb.SetPixel(2, 0, MakeColor(0, 0, 255));
  DibImage image;
  PreparePixelColor(rgb, image, 0);
  EXPECT_EQ(image.BitCount(), 24);
  PreparePixelColor(rgb, image, 1);
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.PaletteSize(), 3);
  PreparePixelColor(rgb, image, 2);
  EXPECT_EQ(image.BitCount(), 24);
  Bitmap out;
  image.AssignTo(out);
  EXPECT_EQ(out.GetPixel(0, 0), MakeColor(74, 74, 74));
  Bitmap indexed(2, 1, Bitmap::Format::k4Bit);
  indexed.SetPalette({RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}});
  PreparePixelColor(indexed, image, 1);
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.PaletteSize(), 16);
  PreparePixelColor(indexed, image, 0);
  EXPECT_EQ(image.BitCount(), 24);
  EXPECT_EQ(image.PaletteSize(), 16);
  PreparePixelColor(indexed, image, -1);
  EXPECT_EQ(image.BitCount(), 4);
}

}  // namespace
}  // namespace velmora
