// WebP input: libwebp's own encoders (cwebp, img2webp, webpmux) make the
// files; ImageMagick decodes them independently.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MaxDifference;

class WebpReaderTest : public test::MagickFilesTest {
 protected:
  void SetUp() override {
    MagickFilesTest::SetUp();
    for (const char* tool : {"cwebp", "img2webp", "webpmux"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " (package webp) is not installed";
  }
  std::string Cwebp(const std::string& png, const std::string& options, const std::string& name) {
    if (test::Run("cwebp -quiet " + options + " '" + png + "' -o '" + (dir / name) + "' 2>&1") != 0)
      throw std::runtime_error("cwebp failed");
    return dir / name;
  }
};

TEST_F(WebpReaderTest, LosslessLossyAndAlpha) {
  const std::string png = Make("src.png", "-size 27x15 gradient:gold-navy -depth 8");
  EXPECT_EQ(MaxDifference(Decode(loader, Cwebp(png, "-lossless", "a.webp")), test::ReadWithMagick(png)), 0);
  const std::string lossy = Cwebp(png, "-q 80", "b.webp");
  EXPECT_EQ(MaxDifference(Decode(loader, lossy), test::ReadWithMagick(lossy)), 0);
  const std::string alpha = Make("alpha.png", "'" + png + "' -alpha set -channel A -fx 'i/w' +channel");
  EXPECT_LE(MaxDifference(Decode(loader, Cwebp(alpha, "-lossless -exact", "c.webp")), test::ReadWithMagick(alpha)), 1);
}

TEST_F(WebpReaderTest, TheFirstFrameOfAnAnimation) {
  const std::string red = Make("red.png", "-size 8x6 xc:red");
  const std::string blue = Make("blue.png", "-size 8x6 xc:blue");
  ASSERT_EQ(test::Run("img2webp -lossless '" + red + "' '" + blue + "' -o '" + (dir / "anim.webp") + "' >/dev/null 2>&1"), 0);
  const auto first = Decode(loader, dir / "anim.webp");
  ASSERT_EQ(first.width, 8);
  EXPECT_EQ(first.At(3, 3), 0xFF0000u);
}

TEST_F(WebpReaderTest, ExifOrientationTurnsThePicture) {
  // 3 x 2 with a red top-left pixel; orientation 6 shows it turned a quarter
  // clockwise, the red pixel at the top right.
  const std::string png = Make("src.png", "-size 3x2 xc:white -fill red -draw 'point 0,0'");
  const std::string plain = Cwebp(png, "-lossless", "plain.webp");
  test::ByteBuilder exif;
  exif.Text("II").U16Le(42).U32Le(8).U16Le(1).U16Le(0x0112).U16Le(3).U32Le(1).U16Le(6).U16Le(0).U32Le(0);
  test::WriteFile(dir / "exif.bin", exif.bytes);
  ASSERT_EQ(test::Run("webpmux -set exif '" + (dir / "exif.bin") + "' '" + plain + "' -o '" + (dir / "turned.webp") + "' >/dev/null 2>&1"), 0);
  const auto turned = Decode(loader, dir / "turned.webp");
  ASSERT_EQ(turned.width, 2);
  ASSERT_EQ(turned.height, 3);
  EXPECT_EQ(turned.At(1, 0), 0xFF0000u);
  EXPECT_EQ(turned.At(0, 0), 0xFFFFFFu);
}

TEST_F(WebpReaderTest, DamagedFiles) {
  const std::string png = Make("src.png", "-size 40x30 gradient:red-blue");
  const std::string webp = Cwebp(png, "-q 70", "a.webp");
  const std::string error = test::ErrorOf([&] { loader.LoadFile(test::TruncatedCopy(webp, 60, dir / "short.webp")); });
  EXPECT_EQ(error, "WebP image error: the picture data is damaged or incomplete");
  test::WriteText(dir / "b.webp", "RIFF\x10\0\0\0WEBPVP8 garbage!!");
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "b.webp"); }).rfind("WebP image error: ", 0), 0u);
}

}  // namespace
}  // namespace velmora
