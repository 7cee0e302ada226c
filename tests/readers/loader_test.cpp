#include "formats/loader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>

#include "formats/formats.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing raised)";
}

test::RgbImage Decode(const Loader& loader, const std::string& path) {
  Bitmap b;
  loader.LoadFile(path)->AssignTo(b);
  return test::ToRgb(b);
}

int MaxDifference(const test::RgbImage& a, const test::RgbImage& b) {
  if (a.width != b.width || a.height != b.height) return 1000;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

TEST(RegistryTest, ResultingClassPerExtension) {
  Loader loader;
  const std::map<std::string, std::string> expected = {
      {"bmp", "Bitmap"},      {"rle", "Bitmap"},       {"dib", "DibImage"},    {"ico", "Icon"},
      {"wmf", "Metafile"},    {"emf", "Metafile"},     {"jpg", "JPEGImage"},   {"jpeg", "JPEGImage"},
      {"jpe", "JPEGImage"},   {"jfif", "JPEGImage"},   {"gif", "GifImage"},    {"png", "PngEncoder"},
      {"tif", "TiffGraphic"}, {"tiff", "TiffGraphic"}, {"fax", "TiffGraphic"}, {"PNG", "PngEncoder"},
      {"Jpg", "JPEGImage"},   {"mag", "MagImage"}};
  for (const auto& [ext, name] : expected) {
    const GraphicClass* cls = loader.Registry().FindExtension(ext);
    ASSERT_NE(cls, nullptr) << ext;
    EXPECT_EQ(cls->name, name) << ext;
  }
  EXPECT_EQ(loader.Registry().FindExtension("dat"), nullptr);
  EXPECT_EQ(loader.Registry().FindClipboardFormat(8)->name, "DibImage");
  EXPECT_EQ(loader.Registry().FindClipboardFormat(2)->name, "Bitmap");
  EXPECT_EQ(loader.Registry().FindClipboardFormat(14)->name, "Metafile");
  std::vector<std::string> order;
  for (const GraphicClass* cls : loader.Formats().ContentDetectionOrder()) order.push_back(cls->name);
  EXPECT_EQ(order, (std::vector<std::string>{"TiffGraphic", "PNGGraphic"}));
}

TEST(RegistryTest, RegisteringTwice) {
  GraphicRegistry registry;
  FileFormatList list(registry);
  list.Register("abc", "Common", "", &BitmapClass());
  EXPECT_EQ(ErrorText([&] { list.Register("ABC", "Common", "", &IconClass()); }), "Attempt to register abc twice.");
  list.Register("abc", "Common", "Individual", &IconClass(), true);
  EXPECT_EQ(registry.FindExtension("abc"), &IconClass());
  EXPECT_EQ(registry.FileFormats().front().description, "Common");
  EXPECT_EQ(registry.FileFormats().back().description, "Individual");
  EXPECT_EQ(list.Classes().size(), 2u);
}

class LoaderFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  }
  std::string Make(const std::string& name, const std::string& args, const std::string& coder = "") {
    const std::string path = dir / name;
    EXPECT_EQ(test::Run("convert " + args + " '" + coder + path + "' 2>&1"), 0) << args;
    return path;
  }
  test::TempDir dir;
  Loader loader;
};

TEST_F(LoaderFilesTest, ContentFirstThenExtension) {
  const std::string png = Make("p.png", "-size 7x5 gradient:red-blue");
  fs::copy(png, dir / "picture.dat");
  EXPECT_EQ(loader.ClassFromContent(dir / "picture.dat")->name, "PNGGraphic");
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "picture.dat"), test::ReadPngRgb(png)), 0);
  const std::string bmp = Make("b.bmp", "-size 4x4 xc:green");
  fs::copy(bmp, dir / "bitmap.dat");
  EXPECT_EQ(ErrorText([&] { loader.LoadFile(dir / "bitmap.dat"); }), "拡張子 .dat の画像形式は処理できません");
  fs::copy(bmp, dir / "UPPER.BMP");
  EXPECT_EQ(Decode(loader, dir / "UPPER.BMP").At(0, 0), 0x008000u);
  const std::string ico = Make("i.ico", "-size 16x16 xc:red");
  Bitmap b;
  auto graphic = loader.LoadFile(ico);
  EXPECT_EQ(ErrorText([&] { graphic->AssignTo(b); }), "Icon を Bitmap に代入することはできません");
  EXPECT_EQ(ErrorText([&] { loader.LoadFile(dir / "none.png"); }), "Cannot open file \"" + (dir / "none.png") + "\": No such file or directory");
}

TEST_F(LoaderFilesTest, DibGoesThroughTheStrictReader) {
  const std::string v5 = Make("v5.bmp", "-size 3x3 xc:blue");  // ImageMagick writes a 124-byte header
  fs::copy(v5, dir / "v5.dib");
  EXPECT_EQ(Decode(loader, v5).At(1, 1), 0x0000FFu);
  EXPECT_EQ(ErrorText([&] { loader.LoadFile(dir / "v5.dib"); }),
            "DibStorage.LoadFromStream: Invalid Bitmap Header Size");
  const std::string v3 = Make("v3.bmp", "-size 3x3 xc:blue", "BMP3:");
  fs::copy(v3, dir / "v3.dib");
  EXPECT_EQ(Decode(loader, dir / "v3.dib").At(2, 2), 0x0000FFu);
}

TEST_F(LoaderFilesTest, JpegColourSpacesMatchAnIndependentDecoder) {
  const std::string rgb = Make("rgb.jpg", "-size 40x30 gradient:orange-navy -quality 95");
  const std::string grey = Make("grey.jpg", "-size 40x30 gradient:white-black -colorspace gray -quality 95");
  const std::string cmyk = Make("cmyk.jpg", "-size 40x30 gradient:yellow-teal -colorspace cmyk -quality 95");
  EXPECT_LE(MaxDifference(Decode(loader, rgb), test::ReadWithMagick(rgb)), 2);
  EXPECT_LE(MaxDifference(Decode(loader, grey), test::ReadWithMagick(grey)), 2);
  const auto ours = Decode(loader, cmyk);
  const auto theirs = test::ReadWithMagick(cmyk);
  EXPECT_LE(MaxDifference(ours, theirs), 8) << "CMYK must not come out inverted";
  Bitmap b;
  loader.LoadFile(grey)->AssignTo(b);
  EXPECT_EQ(b.PixelFormat(), Bitmap::Format::k8Bit);
}

TEST_F(LoaderFilesTest, ExifOrientationTurnsPhotosUpright) {
  // A 6 x 4 picture with a red top-left corner, stored with each orientation.
  const std::string base =
      Make("base.png", "-size 6x4 xc:white -fill red -draw 'point 0,0' -fill blue -draw 'point 5,0'");
  const char* names[] = {"",        "TopLeft",  "TopRight",    "BottomRight", "BottomLeft",
                         "LeftTop", "RightTop", "RightBottom", "LeftBottom"};
  for (int o = 1; o <= 8; ++o) {
    const std::string path = Make("o" + std::to_string(o) + ".jpg", "'" + base + "' -quality 100 -orient " + names[o]);
    const auto upright = test::ReadWithMagick(Make("u" + std::to_string(o) + ".png", "'" + path + "' -auto-orient"));
    const auto ours = Decode(loader, path);
    EXPECT_EQ(ours.width, upright.width) << o;
    EXPECT_LE(MaxDifference(ours, upright), 40) << o;
  }
}

TEST_F(LoaderFilesTest, GifFirstFrameWithTransparencyAsWhite) {
  const std::string gif = Make("t.gif", "-size 8x8 xc:none -fill '#ff0000' -draw 'rectangle 0,0 3,7'");
  const auto img = Decode(loader, gif);
  EXPECT_EQ(img.At(0, 0), 0xFF0000u);
  EXPECT_EQ(img.At(7, 7), 0xFFFFFFu);
  const std::string anim = Make("a.gif", "-delay 10 -size 5x5 xc:green xc:blue -loop 0");
  EXPECT_EQ(Decode(loader, anim).At(2, 2), 0x008000u);
  const std::string interlaced = Make("i.gif", "-size 9x13 gradient:black-white -colors 8 -interlace GIF");
  EXPECT_EQ(MaxDifference(Decode(loader, interlaced), test::ReadWithMagick(interlaced)), 0);
}

TEST_F(LoaderFilesTest, TiffVariantsMatchAnIndependentDecoder) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"rgb.tif", "-size 20x10 gradient:red-blue -compress lzw"},
      {"bw.tif", "-size 20x10 pattern:checkerboard -monochrome -compress group4"},
      {"pal.tif", "-size 20x10 gradient:red-blue -colors 7 -type Palette"},
      {"deep.tif", "-size 20x10 gradient:red-blue -depth 16"},
      {"cmyk.tif", "-size 20x10 gradient:red-blue -colorspace cmyk -depth 8"},
      {"tiled.tif", "-size 70x70 gradient:green-white -define tiff:tile-geometry=16x16"},
      {"grey4.tif", "-size 20x10 gradient:black-white -colorspace gray -depth 4"},
  };
  for (const auto& [name, args] : cases) {
    const std::string path = Make(name, args);
    EXPECT_EQ(loader.ClassFromContent(path)->name, "TiffGraphic") << name;
    EXPECT_LE(MaxDifference(Decode(loader, path), test::ReadWithMagick(path)), 1) << name;
  }
  const std::string pages = Make("pages.tif", "-size 4x4 xc:yellow xc:black");
  EXPECT_EQ(Decode(loader, pages).At(0, 0), 0xFFFF00u);
}

TEST_F(LoaderFilesTest, TruncatedAndCorruptFilesFailCleanly) {
  const std::vector<std::string> files = {
      Make("t.jpg", "-size 32x32 gradient:red-blue"), Make("t.png", "-size 32x32 gradient:red-blue"),
      Make("t.gif", "-size 32x32 gradient:red-blue"), Make("t.tif", "-size 32x32 gradient:red-blue"),
      Make("t.bmp", "-size 32x32 gradient:red-blue")};
  for (const auto& path : files) {
    const auto bytes = test::ReadFile(path);
    for (size_t cut : {size_t{0}, size_t{3}, size_t{20}, bytes.size() / 3}) {
      const std::string broken = dir / ("cut_" + std::to_string(cut) + "_" + fs::path(path).filename().string());
      test::WriteFile(broken, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
      EXPECT_ANY_THROW({
        Bitmap b;
        loader.LoadFile(broken)->AssignTo(b);
      }) << broken;
    }
  }
}

TEST(BitmapClassTest, BmpSuiteThroughThePlatformReader) {
  const fs::path suite = test::TestData("bmpsuite");
  if (!fs::exists(suite)) GTEST_SKIP() << "BMP Suite not found";
  Loader loader;
  const std::map<std::string, std::string> shared = {
      {"pal1wb", "pal1"},      {"pal4rle", "pal4"},           {"pal8-0", "pal8"},    {"pal8os2", "pal8"},
      {"pal8rle", "pal8"},     {"pal8topdown", "pal8"},       {"pal8v4", "pal8"},    {"pal8v5", "pal8"},
      {"rgb16bfdef", "rgb16"}, {"rgb16-565pal", "rgb16-565"}, {"rgb24pal", "rgb24"}, {"rgb32", "rgb24"},
      {"rgb32bf", "rgb24"},    {"rgb32bfdef", "rgb24"},       {"pal8nonsquare", ""}};
  int compared = 0;
  for (const auto& e : fs::directory_iterator(suite / "g")) {
    const std::string stem = e.path().stem().string();
    std::string ref = stem;
    if (auto it = shared.find(stem); it != shared.end()) ref = it->second;
    Bitmap b;
    ASSERT_NO_THROW(loader.LoadFile(e.path().string())->AssignTo(b)) << e.path();
    if (ref.empty()) continue;
    EXPECT_EQ(MaxDifference(test::ToRgb(b), test::ReadPngRgb((suite / "reference" / (ref + ".png")).string())), 0)
        << e.path();
    ++compared;
  }
  EXPECT_GE(compared, 25);
  for (const auto& e : fs::directory_iterator(suite / "b")) {
    EXPECT_ANY_THROW({
      Bitmap b;
      loader.LoadFile(e.path().string())->AssignTo(b);
    }) << e.path();
  }
  for (const auto& e : fs::directory_iterator(suite / "q")) {
    try {
      Bitmap b;
      loader.LoadFile(e.path().string())->AssignTo(b);
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()), "") << e.path();
    }
  }
}

TEST(PngSuiteTest, EveryValidFileLoadsAndCorruptOnesFail) {
  const fs::path suite = test::TestData("pngsuite/png");
  if (!fs::exists(suite)) GTEST_SKIP() << "PngSuite not found";
  Loader loader;
  int loaded = 0;
  for (const auto& e : fs::directory_iterator(suite)) {
    const std::string name = e.path().filename().string();
    if (e.path().extension() != ".png") continue;
    if (name[0] == 'x') {
      EXPECT_ANY_THROW({
        Bitmap b;
        loader.LoadFile(e.path().string())->AssignTo(b);
      }) << name;
      continue;
    }
    Bitmap b;
    ASSERT_NO_THROW(loader.LoadFile(e.path().string())->AssignTo(b)) << name;
    // Stored values, no gamma: libpng's own full reader gives the same pixels.
    EXPECT_EQ(MaxDifference(test::ToRgb(b), test::ReadPngStored(e.path().string())), 0) << name;
    ++loaded;
  }
  EXPECT_GT(loaded, 100);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(HostileFilesTest, HugeDimensionsAreRefusedBeforeAllocating) {
  test::TempDir dir;
  Loader loader;
  // A GIF whose logical screen claims 65535 x 65535 pixels.
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B};
  test::WriteFile(dir / "huge_screen.gif", gif);
  EXPECT_NE(ErrorText([&] { loader.LoadFile(dir / "huge_screen.gif"); }).find("outside the supported size"),
            std::string::npos);
  // A PNG whose header claims 60000 x 60000 pixels, with a valid CRC.
  std::vector<uint8_t> png = {137, 80, 78, 71,   13,   10, 26, 10,   0,    0, 0, 13, 'I', 'H', 'D',
                              'R', 0,  0,  0xEA, 0x60, 0,  0,  0xEA, 0x60, 8, 2, 0,  0,   0};
  const uLong crc = crc32(0, png.data() + 12, 17);
  for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(crc >> s));
  for (const char* type : {"IDAT", "IEND"}) {
    const std::vector<uint8_t> chunk = {
        0, 0, 0, 0, uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
    png.insert(png.end(), chunk.begin(), chunk.end());
    const uLong c = crc32(0, chunk.data() + 4, 4);
    for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(c >> s));
  }
  test::WriteFile(dir / "huge_header.png", png);
  const std::string png_error = ErrorText([&] { loader.LoadFile(dir / "huge_header.png"); });
  EXPECT_NE(png_error.find("outside the supported size"), std::string::npos) << png_error;
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST(HostileFilesTest, GifErrorWithoutAGiflibText) {
  // Found by fuzzing: giflib fails with an error code it has no text for.
  Loader loader;
  const std::string path = std::string(VELMORA_SOURCE_DIR) + "/tests/readers/fixtures/gif_error_giflib_cannot_name.gif";
  EXPECT_EQ(ErrorText([&] { loader.LoadFile(path); }).rfind("GIF image error: ", 0), 0u);
}

}  // namespace
}  // namespace velmora
