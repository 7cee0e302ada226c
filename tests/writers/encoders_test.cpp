#include "formats/jpeg/jpeg_writer.h"
#include "formats/tiff/tiff_writer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "test_util.h"

namespace velmora {
namespace {

Bitmap Smooth(int w, int h) {
  Bitmap b(w, h, Bitmap::Format::k24Bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, MakeColor(x * 255 / w, y * 255 / h, 128));
  return b;
}

Bitmap Indexed(int w, int h, Bitmap::Format f) {
  Bitmap b(w, h, f);
  std::vector<RgbQuad> pal(size_t{1} << b.Bits());
  for (size_t i = 0; i < pal.size(); ++i) pal[i] = RgbQuad{uint8_t(i * 9), uint8_t(i * 5), uint8_t(255 - i), 0};
  b.SetPalette(pal);
  std::mt19937 rng(7);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetIndex(x, y, static_cast<int>(rng() % pal.size()));
  return b;
}

void Save(const std::string& path, const std::function<void(std::ostream&)>& f) {
  std::ofstream out(path, std::ios::binary);
  f(out);
}

TEST(JpegEncoderTest, QualityIsWhatReadersEstimate) {
  if (!test::HaveTool("identify")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  const Bitmap b = Smooth(64, 48);
  for (int q : {0, 50, 90}) {
    const std::string path = dir / ("q" + std::to_string(q) + ".jpg");
    Save(path, [&](std::ostream& out) { EncodeJpeg(b, q, out); });
    std::string estimate;
    ASSERT_EQ(test::Run("identify -format %Q '" + path + "'", &estimate), 0);
    EXPECT_EQ(std::stoi(estimate), q == 0 ? 1 : q);
    std::string kind;
    test::Run("identify -format '%[jpeg:sampling-factor] %[interlace]' '" + path + "'", &kind);
    EXPECT_NE(kind.find("None"), std::string::npos) << "baseline, not progressive: " << kind;
  }
  // Palette of greys: a greyscale JPEG.
  Bitmap grey(8, 8, Bitmap::Format::k8Bit);
  std::vector<RgbQuad> pal(256);
  for (int i = 0; i < 256; ++i) pal[i] = RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  grey.SetPalette(pal);
  const std::string path = dir / "grey.jpg";
  Save(path, [&](std::ostream& out) { EncodeJpeg(grey, 50, out); });
  std::string space;
  test::Run("identify -format %[colorspace] '" + path + "'", &space);
  EXPECT_EQ(space, "Gray");
}

TEST(TiffEncoderTest, EveryDepthReadsBackIdentically) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  std::vector<Bitmap> cases = {Indexed(19, 7, Bitmap::Format::k1Bit), Indexed(19, 7, Bitmap::Format::k4Bit),
                               Indexed(19, 7, Bitmap::Format::k8Bit), Smooth(19, 7)};
  for (const Bitmap& b : cases) {
    const std::string path = dir / ("t" + std::to_string(b.Bits()) + ".tif");
    Save(path, [&](std::ostream& out) { EncodeTiff(b, out); });
    EXPECT_EQ(test::ReadWithMagick(path).rgb, test::ToRgb(b).rgb) << b.Bits();
    std::string info;
    test::Run("identify -format '%[tiff:photometric] %C' '" + path + "'", &info);
    EXPECT_NE(info.find("LZW"), std::string::npos) << info;
  }
}

}  // namespace
}  // namespace velmora
