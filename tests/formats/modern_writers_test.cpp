// WebP, AVIF and JPEG XL output, decoded by the libraries' own tools (dwebp,
// avifdec, djxl) and read back as RGBA by ImageMagick: lossless is exact,
// lossy is close, the transparent colour is alpha 0, quality orders the sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "image/prepare.h"
#include "pipeline/writers.h"
#include "test_util.h"

namespace velmora {
namespace {

const OutputFormat& Format(const std::string& extension) {
  for (const OutputRow& row : OutputTable())
    if (extension == row.format().extension) return row.format();
  throw std::runtime_error("no writer for " + extension);
}

// Smooth areas, hard edges and a run of the top-left colour elsewhere;
// noisy, a picture that only quality tells apart.
DibImage Prepared(int pixel_color, int w = 64, int h = 48, bool noisy = false) {
  const Bitmap b = test::RgbBitmap(w, h, [noisy](int x, int y) {
    if ((x < 8 && y < 6) || (x > 40 && y > 30)) return MakeColor(250, 240, 10);
    return MakeColor(x * 4, 60 + y * 3, noisy ? (x * y) % 200 : 120 + (x / 16 % 2) * 80);
  });
  DibImage image;
  PreparePixelColor(Bitmap(b), image, pixel_color);
  return image;
}

struct Rgba {
  int width = 0, height = 0;
  std::string bytes;  // 4 per pixel
  const uint8_t* At(int x, int y) const { return reinterpret_cast<const uint8_t*>(&bytes[(size_t(y) * width + x) * 4]); }
};

class ModernWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"convert", "dwebp", "djxl", "avifdec"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed; these tests decode with it";
  }
  std::string Write(const std::string& extension, const DibImage& image, const EncodeOptions& options,
                    const std::string& name = "out") {
    const std::string path = dir / (name + "." + extension);
    test::WriteWith(path, [&](std::ostream& out) { Format(extension).encode(image, options, out); });
    return path;
  }
  // The file through its library's decoder, then ImageMagick for the samples.
  Rgba Decode(const std::string& path) {
    const std::string ext = path.substr(path.rfind('.') + 1), png = path + ".png";
    const std::string tool = ext == "webp" ? "dwebp -quiet '" + path + "' -o '" + png + "'"
                             : ext == "jxl" ? "djxl '" + path + "' '" + png + "'"
                                            : "avifdec '" + path + "' '" + png + "'";
    EXPECT_EQ(test::Run(tool + " >/dev/null 2>&1"), 0) << tool;
    Rgba out;
    std::string size;
    test::Run("identify -format '%w %h' '" + png + "'", &size);
    std::istringstream(size) >> out.width >> out.height;
    test::Run("convert '" + png + "' -depth 8 rgba:-", &out.bytes);
    EXPECT_EQ(out.bytes.size(), size_t(out.width) * out.height * 4) << path;
    return out;
  }
  static double Psnr(const Rgba& a, const test::RgbImage& b) {
    double sum = 0;
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x)
        for (int c = 0; c < 3; ++c) {
          const double d = a.At(x, y)[c] - double((b.At(x, y) >> (16 - 8 * c)) & 0xFF);
          sum += d * d;
        }
    const double mse = sum / (3.0 * b.width * b.height);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  }
  static test::RgbImage Expected(const DibImage& image) {
    Bitmap b;
    image.AssignTo(b);
    return test::ToRgb(b);
  }
  test::TempDir dir;
};

TEST_F(ModernWritersTest, LosslessIsExactAndLossyIsCloseAtEveryColourDepth) {
  for (int pixel_color : {0, 1, 2}) {  // full colour, 256 colours, black and white
    const DibImage image = Prepared(pixel_color);
    const test::RgbImage expected = Expected(image);
    EncodeOptions options;
    options.quality = 7;
    for (const char* ext : {"webp", "avif", "jxl"}) {
      const Rgba lossy = Decode(Write(ext, image, options));
      ASSERT_EQ(lossy.width, 64) << ext;
      ASSERT_EQ(lossy.height, 48) << ext;
      EXPECT_GE(Psnr(lossy, expected), 26.0) << ext << " at colour depth " << pixel_color;
      EXPECT_EQ(lossy.At(0, 0)[3], 255) << ext << ": no transparency was asked for";
    }
    options.lossless = true;
    for (const char* ext : {"webp", "jxl"})
      EXPECT_EQ(Psnr(Decode(Write(ext, image, options, "lossless")), expected), 99) << ext << " at colour depth " << pixel_color;
  }
}

TEST_F(ModernWritersTest, TheTransparentColourBecomesAlphaZero) {
  for (int pixel_color : {0, 1}) {
    const DibImage image = Prepared(pixel_color);
    EncodeOptions options;
    options.transparent = true;
    options.lossless = true;
    for (const char* ext : {"webp", "jxl", "avif"}) {
      const Rgba out = Decode(Write(ext, image, options));
      // AVIF codes its alpha plane lossily too.
      const int slack = std::string(ext) == "avif" ? 24 : 0;
      for (auto [x, y] : {std::pair{0, 0}, {7, 5}, {63, 47}, {50, 40}}) EXPECT_LE(out.At(x, y)[3], slack) << ext << " " << x << "," << y;
      for (auto [x, y] : {std::pair{8, 0}, {20, 20}, {40, 47}}) EXPECT_GE(out.At(x, y)[3], 255 - slack) << ext << " " << x << "," << y;
    }
    // A picked colour instead of the top-left pixel's.
    options.picker = true;
    options.picked_color = image.GetPixel(20, 20);
    const Rgba picked = Decode(Write("webp", image, options, "picked"));
    EXPECT_EQ(picked.At(20, 20)[3], 0);
    EXPECT_EQ(picked.At(0, 0)[3], 255);
  }
}

TEST_F(ModernWritersTest, HigherQualityMakesLargerFiles) {
  const DibImage image = Prepared(0, 160, 120, true);
  for (const char* ext : {"webp", "avif", "jxl"}) {
    uintmax_t last = 0;
    for (int quality : {0, 4, 9}) {
      EncodeOptions options;
      options.quality = quality;
      const uintmax_t size = std::filesystem::file_size(Write(ext, image, options, "q" + std::to_string(quality)));
      EXPECT_GT(size, last) << ext << " at quality " << quality;
      last = size;
    }
  }
}

TEST(ModernWritersFailureTest, ThePictureTooLargeForAFormatIsRefusedWithTheLibrarysReason) {
  DibImage wide;
  wide.SetPixelFormat(PixelFormat::k1Bit);
  wide.SetWidth(16384);
  std::ostringstream out;
  EXPECT_EQ(test::ErrorOf<Error>([&] { Format("webp").encode(wide, EncodeOptions{}, out); }),
            "Cannot write the WebP image: the picture is larger than WebP allows (16383 x 16383 pixels) "
            "(libwebp: VP8_ENC_ERROR_BAD_DIMENSION)");
  EXPECT_TRUE(out.str().empty());
  wide.SetWidth(65537);
  EXPECT_EQ(test::ErrorOf<Error>([&] { Format("avif").encode(wide, EncodeOptions{}, out); }).rfind("Cannot write the AVIF image (libheif: ", 0), 0u);
}

}  // namespace
}  // namespace velmora
