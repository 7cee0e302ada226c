// PNG input: every PngSuite file, and alpha over white in stored values.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "formats/loader.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

Bitmap Load(const std::string& path) {
  Loader loader;
  Bitmap b;
  loader.LoadFile(path)->AssignTo(b);
  return b;
}

// A 1 x 1 PNG of one RGBA or grey+alpha pixel, written by libpng.
void WritePng(const std::string& path, int color_type, const std::vector<uint8_t>& pixel) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = image.height = 1;
  image.format = color_type == PNG_COLOR_TYPE_RGBA ? PNG_FORMAT_RGBA : PNG_FORMAT_GA;
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixel.data(), 0, nullptr)) << image.message;
}

TEST(PngSuiteTest, EveryValidFileLoadsAndCorruptOnesFail) {
  VELMORA_REQUIRE_TESTDATA(suite, "pngsuite/png");
  Loader loader;
  int loaded = 0;
  for (const auto& e : fs::directory_iterator(suite)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() != ".png") continue;
    if (name[0] == 'x') {
      EXPECT_THROW({
        Bitmap b;
        loader.LoadFile(e.path().string())->AssignTo(b);
      }, Error) << name;
      continue;
    }
    Bitmap b;
    ASSERT_NO_THROW(loader.LoadFile(e.path().string())->AssignTo(b)) << name;
    // Stored values, no gamma: libpng's own full reader gives the same pixels.
    EXPECT_EQ(test::MaxDifference(test::ToRgb(b), test::ReadPngStored(e.path().string())), 0) << name;
    ++loaded;
  }
  EXPECT_GT(loaded, 100);
}

TEST(PngAlphaTest, SemiTransparentPixelsCompositeOverWhiteInStoredValues) {
  test::TempDir dir;
  WritePng(dir / "blue.png", PNG_COLOR_TYPE_RGBA, {0, 0, 255, 128});
  EXPECT_EQ(Load(dir / "blue.png").GetPixel(0, 0), MakeColor(127, 127, 255));
  WritePng(dir / "grey.png", PNG_COLOR_TYPE_GRAY_ALPHA, {0, 128});
  EXPECT_EQ(Load(dir / "grey.png").GetPixel(0, 0), MakeColor(127, 127, 127));
  WritePng(dir / "clear.png", PNG_COLOR_TYPE_RGBA, {10, 20, 30, 0});
  EXPECT_EQ(Load(dir / "clear.png").GetPixel(0, 0), MakeColor(255, 255, 255));
}

}  // namespace
}  // namespace velmora
