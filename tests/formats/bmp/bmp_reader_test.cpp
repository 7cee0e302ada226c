// The bitmap class, the lenient BMP reader: every variant of the BMP Suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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

}  // namespace
}  // namespace velmora
