// The public BMP Suite as the yardstick for the strict DIB reader: good files
// with 40- or 12-byte headers load with the reference pixels, other header
// versions are refused with the fixed message, and bad or questionable files
// either load or fail with an error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "image/dib_image.h"
#include "base/error.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

// The files of one of the suite's folders; a folder the suite lacks fails
// the test rather than letting it pass on nothing.
std::vector<fs::path> Files(const std::string& folder) {
  std::vector<fs::path> out;
  const fs::path dir = test::TestData("bmpsuite/" + folder);
  EXPECT_TRUE(fs::exists(dir)) << dir << " is missing from the suite";
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".bmp") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// Several good files are variants of one picture and share its rendering.
fs::path ReferenceFor(const std::string& stem) {
  static const std::map<std::string, std::string> kShared = {
      {"pal1wb", "pal1"},      {"pal4rle", "pal4"},           {"pal8-0", "pal8"},    {"pal8os2", "pal8"},
      {"pal8rle", "pal8"},     {"pal8topdown", "pal8"},       {"pal8v4", "pal8"},    {"pal8v5", "pal8"},
      {"rgb16bfdef", "rgb16"}, {"rgb16-565pal", "rgb16-565"}, {"rgb24pal", "rgb24"}, {"rgb32", "rgb24"},
      {"rgb32bf", "rgb24"},    {"rgb32bfdef", "rgb24"}};
  fs::path p = test::TestData("bmpsuite/reference/" + stem + ".png");
  if (fs::exists(p)) return p;
  auto it = kShared.find(stem);
  if (it == kShared.end()) return {};
  return test::TestData("bmpsuite/reference/" + it->second + ".png");
}

TEST(BmpSuiteTest, GoodFilesMatchTheirReference) {
  VELMORA_REQUIRE_TESTDATA(suite, "bmpsuite");
  const auto files = Files("g");
  int loaded = 0;
  for (const auto& path : files) {
    const auto bytes = test::ReadFile(path.string());
    const uint32_t header_size = test::Le32(bytes, 14);
    DibImage image;
    if (header_size != 40 && header_size != 12) {
      try {
        image.LoadFromFile(path.string());
        ADD_FAILURE() << path << " loaded although its header has " << header_size << " bytes";
      } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "DibStorage.LoadFromStream: Invalid Bitmap Header Size") << path;
      }
      continue;
    }
    ASSERT_NO_THROW(image.LoadFromFile(path.string())) << path;
    Bitmap bitmap;
    image.AssignTo(bitmap);
    const test::RgbImage got = test::ToRgb(bitmap);
    const fs::path reference = ReferenceFor(path.stem().string());
    if (reference.empty()) continue;  // no rendering of this variant in the suite
    const test::RgbImage want = test::ReadPngRgb(reference.string());
    ASSERT_EQ(got.width, want.width) << path;
    ASSERT_EQ(got.height, want.height) << path;
    // 16-bit channels are scaled by truncation here; the reference rounds.
    const int tolerance = test::Le16(bytes, 28) == 16 ? 1 : 0;
    int worst = 0;
    for (size_t i = 0; i < got.rgb.size(); ++i) worst = std::max(worst, std::abs(got.rgb[i] - want.rgb[i]));
    EXPECT_LE(worst, tolerance) << path;
    ++loaded;
  }
  EXPECT_GE(loaded, 20);
}

TEST(BmpSuiteTest, BadAndQuestionableFilesNeverCrash) {
  VELMORA_REQUIRE_TESTDATA(suite, "bmpsuite");
  for (const char* folder : {"b", "q"}) {
    for (const auto& path : Files(folder)) {
      DibImage image;
      try {
        image.LoadFromFile(path.string());
        Bitmap bitmap;
        image.AssignTo(bitmap);  // decodes RLE
        image.SetPixelFormat(PixelFormat::k24Bit);
      } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()), "") << path;
        // The image keeps a usable content after a failed load.
        EXPECT_GE(image.Width(), 1);
      }
    }
  }
}

TEST(BmpSuiteTest, TruncatedGoodFilesFailCleanly) {
  VELMORA_REQUIRE_TESTDATA(suite, "bmpsuite");
  for (const auto& path : Files("g")) {
    const auto bytes = test::ReadFile(path.string());
    for (size_t cut : {size_t{10}, size_t{30}, size_t{60}, bytes.size() / 2, bytes.size() - 1}) {
      if (cut >= bytes.size()) continue;
      std::istringstream in(std::string(bytes.begin(), bytes.begin() + cut));
      DibImage image;
      EXPECT_THROW({
        image.LoadFromStream(in);
        Bitmap b;
        image.AssignTo(b);
      }, Error) << path
         << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace velmora
