// The bitmap class, the lenient BMP reader: every variant of the BMP Suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <tuple>
#include <vector>

#include "formats/loader.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

TEST(BitmapClassTest, BmpSuiteThroughThePlatformReader) {
  VELMORA_REQUIRE_TESTDATA(suite, "bmpsuite");
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
    EXPECT_EQ(test::MaxDifference(test::ToRgb(b), test::ReadPngRgb((suite / "reference" / (ref + ".png")).string())), 0)
        << e.path();
    ++compared;
  }
  EXPECT_GE(compared, 25);
  for (const auto& e : fs::directory_iterator(suite / "b")) {
    EXPECT_THROW({
      Bitmap b;
      loader.LoadFile(e.path().string())->AssignTo(b);
    }, Error) << e.path();
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

// ImageMagick and GraphicsMagick end a row whose width is not a multiple of
// four with a run past its end: a .bmp clips it there (a .dib refuses it).
TEST(BitmapClassTest, RleRunsPastTheRowAreClipped) {
  auto bmp = [](int bits, int colours, std::vector<uint8_t> rle) {
    std::vector<uint8_t> b = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0,
                              static_cast<uint8_t>(bits), 0, static_cast<uint8_t>(bits == 8 ? 1 : 2)};
    b.resize(54);
    b[46] = static_cast<uint8_t>(colours);
    for (int i = 0; i < colours; ++i) b.insert(b.end(), {static_cast<uint8_t>(i * 10), 0, 0, 0});
    b[10] = static_cast<uint8_t>(b.size());
    b.insert(b.end(), rle.begin(), rle.end());
    return b;
  };
  Loader loader;
  // Bottom row: a run of 4 (one past), then a literal of 4 on the top row.
  const auto rle8 = bmp(8, 8, {4, 1, 0, 0, 0, 4, 2, 3, 4, 5, 0, 1});
  const auto rle4 = bmp(4, 8, {4, 0x12, 0, 0, 0, 4, 0x34, 0x56, 0, 1});
  for (const auto& [name, data, top] : {std::tuple{"8.bmp", rle8, std::vector<int>{2, 3, 4}},
                                        std::tuple{"4.bmp", rle4, std::vector<int>{3, 4, 5}}}) {
    Bitmap b;
    loader.Load(name, data.data(), data.size())->AssignTo(b);
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(b.GetPixel(x, 1), MakeColor(0, 0, name[0] == '8' ? 10 : (x % 2 ? 20 : 10))) << name << x;
      EXPECT_EQ(b.GetPixel(x, 0), MakeColor(0, 0, static_cast<uint8_t>(top[x] * 10))) << name << x;
    }
    EXPECT_THROW(loader.Load(std::string(name) + ".dib", data.data(), data.size())->AssignTo(b), Error) << name;
  }
}

}  // namespace
}  // namespace velmora
