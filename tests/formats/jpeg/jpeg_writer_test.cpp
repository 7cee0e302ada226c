// JPEG output: the quality ImageMagick estimates, baseline coding and
// greyscale files for grey palettes.
#include "formats/jpeg/jpeg_writer.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace velmora {
namespace {

Bitmap Smooth(int w, int h) {
  return test::RgbBitmap(w, h, [&](int x, int y) { return MakeColor(x * 255 / w, y * 255 / h, 128); });
}

TEST(JpegEncoderTest, QualityIsWhatReadersEstimate) {
  if (!test::HaveTool("identify")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  const Bitmap b = Smooth(64, 48);
  for (int q : {0, 50, 90}) {
    const std::string path = dir / ("q" + std::to_string(q) + ".jpg");
    test::WriteWith(path, [&](std::ostream& out) { EncodeJpeg(b, q, out); });
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
  test::WriteWith(path, [&](std::ostream& out) { EncodeJpeg(grey, 50, out); });
  std::string space;
  test::Run("identify -format %[colorspace] '" + path + "'", &space);
  EXPECT_EQ(space, "Gray");
}

}  // namespace
}  // namespace velmora
