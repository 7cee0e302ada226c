// ICO output: the directory and DIB layout, the mask from the bottom-left
// colour, and icons that ImageMagick opens.
#include "formats/ico/ico_writer.h"

#include <gtest/gtest.h>

#include <sstream>

#include "image/palettes.h"
#include "image/resample.h"
#include "test_util.h"

namespace velmora {
namespace {

DibImage Picture(int w, int h, const std::function<ColorValue(int, int)>& f) { return test::DibOf(test::RgbBitmap(w, h, f)); }

std::vector<uint8_t> Ico(const DibImage& image, int size, bool trans) {
  std::ostringstream out;
  EncodeIco(image, size, trans, out);
  return test::Bytes(out.str());
}

TEST(IcoWriterTest, OpaqueLayout) {
  const DibImage img = Picture(100, 50, [](int x, int y) { return MakeColor(x * 2, y * 4, 80); });
  const auto ico = Ico(img, 32, false);
  ASSERT_EQ(ico.size(), 2238u);
  EXPECT_EQ(std::vector<uint8_t>(ico.begin(), ico.begin() + 22),
            (std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 8, 0, 0xA8, 0x08, 0, 0, 22, 0, 0, 0}));
  EXPECT_EQ(test::Le32(ico, 22), 40u);
  EXPECT_EQ(test::Le32(ico, 22 + 8), 64u);
  EXPECT_EQ(test::Le32(ico, 22 + 32), 0u);
  for (size_t i = 2238 - 128; i < 2238; ++i) ASSERT_EQ(ico[i], 0);
  EXPECT_EQ(Ico(img, 256, false).size(), 74814u);
  EXPECT_EQ(Ico(img, 256, false)[6], 0);
  EXPECT_EQ(Ico(img, 16, false).size(), 22u + 40 + 1024 + 256 + 16 * 4);
}

TEST(IcoWriterTest, MaskFromTheBottomLeftColour) {
  // White background, a black square and a red square.
  const auto shape = [](int x, int y) {
    if (x >= 2 && x < 6 && y >= 2 && y < 6) return MakeColor(0, 0, 0);
    if (x >= 10 && y >= 10) return MakeColor(255, 0, 0);
    return MakeColor(255, 255, 255);
  };
  Bitmap b(16, 16, Bitmap::Format::k24Bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) b.SetPixel(x, y, shape(x, y));
  const MaskedIcon white = MakeMaskedIcon(b, 16);
  EXPECT_EQ(white.mask.GetIndex(0, 0), 1);
  EXPECT_EQ(white.mask.GetIndex(3, 3), 0) << "black stays opaque";
  EXPECT_EQ(white.color.GetPixel(3, 3), 0);
  EXPECT_EQ(white.mask.GetIndex(12, 12), 0);
  EXPECT_EQ(white.color.GetPixel(0, 0), 0) << "transparent pixels are black in the colour image";
  b.SetPixel(0, 15, 0);
  const MaskedIcon black = MakeMaskedIcon(b, 16);
  EXPECT_EQ(black.mask.GetIndex(3, 3), 1);
  EXPECT_EQ(black.mask.GetIndex(0, 0), 0);
  // The file: 22 + 1064 + 256 + 64 bytes, and ImageMagick sees the same mask.
  std::ostringstream out;
  WriteTransparentIconFile(white, out);
  const auto ico = test::Bytes(out.str());
  ASSERT_EQ(ico.size(), 22u + 1064 + 256 + 64);
  EXPECT_EQ(test::Le32(ico, 14), 1064u + 256 + 64);
  REQUIRE_TOOL("convert");
  test::TempDir dir;
  test::WriteFile(dir / "t.ico", ico);
  std::string alpha;
  test::Run("convert '" + (dir / "t.ico") +
                "' -format '%[fx:p{0,0}.a] %[fx:p{3,3}.a] %[fx:p{12,12}.a] %[pixel:p{12,12}]' info:",
            &alpha);
  EXPECT_EQ(alpha.substr(0, 6), "0 1 1 ");
  EXPECT_NE(alpha.find("(255,0,0"), std::string::npos) << alpha;
}

TEST(IcoWriterTest, OpaqueIconsOpenInImageMagick) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  const DibImage img = Picture(
      32, 32, [](int x, int y) { return (x / 8 + y / 8) % 2 ? MakeColor(250, 10, 10) : MakeColor(10, 10, 250); });
  test::WriteFile(dir / "a.ico", Ico(img, 32, false));
  const auto got = test::ReadWithMagick(dir / "a.ico");
  // What the icon must hold: the picture resampled to the icon size, then quantized.
  Bitmap source;
  img.AssignTo(source);
  DibImage quantized;
  quantized.Assign(ResampleBitmap(source, 32, 32));
  quantized.SetPixelFormat(PixelFormat::k8Bit);
  Bitmap expected;
  quantized.AssignTo(expected);
  EXPECT_EQ(got.rgb, test::ToRgb(expected).rgb);
}

}  // namespace
}  // namespace velmora
