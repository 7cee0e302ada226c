// TIFF output: every depth reads back identically in ImageMagick, LZW.
#include "formats/tiff/tiff_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "test_util.h"

namespace velmora {
namespace {

Bitmap Smooth(int w, int h) {
  return test::RgbBitmap(w, h, [&](int x, int y) { return MakeColor(x * 255 / w, y * 255 / h, 128); });
}

Bitmap Indexed(int w, int h, Bitmap::Format f) {
  std::vector<RgbQuad> pal(size_t{1} << static_cast<int>(f));
  for (size_t i = 0; i < pal.size(); ++i) pal[i] = RgbQuad{uint8_t(i * 9), uint8_t(i * 5), uint8_t(255 - i), 0};
  std::mt19937 rng(7);
  return test::IndexedBitmap(w, h, f, pal, [&](int, int) { return static_cast<int>(rng() % pal.size()); });
}

TEST(TiffEncoderTest, EveryDepthReadsBackIdentically) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  std::vector<Bitmap> cases = {Indexed(19, 7, Bitmap::Format::k1Bit), Indexed(19, 7, Bitmap::Format::k4Bit),
                               Indexed(19, 7, Bitmap::Format::k8Bit), Smooth(19, 7)};
  for (const Bitmap& b : cases) {
    const std::string path = dir / ("t" + std::to_string(b.Bits()) + ".tif");
    test::WriteWith(path, [&](std::ostream& out) { EncodeTiff(b, out); });
    EXPECT_EQ(test::ReadWithMagick(path).rgb, test::ToRgb(b).rgb) << b.Bits();
    std::string info;
    test::Run("identify -format '%[tiff:photometric] %C' '" + path + "'", &info);
    EXPECT_NE(info.find("LZW"), std::string::npos) << info;
  }
}

}  // namespace
}  // namespace velmora
