// HEIC and AVIF input: files from libheif's heif-enc and ImageMagick, decoded
// independently by ImageMagick, whose colour conversion rounds differently.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "formats/heif/heif_boxes.h"
#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

TEST_F(MagickFilesTest, HeicAndAvifMatchAnIndependentDecoder) {
  const std::string png = Make("src.png", "-size 64x48 gradient:crimson-skyblue -depth 8");
  const std::string avif = Make("a.avif", "'" + png + "'");
  EXPECT_LE(MaxDifference(Decode(loader, avif), test::ReadWithMagick(avif)), 8);
  REQUIRE_TOOL("heif-enc");
  ASSERT_EQ(test::Run("heif-enc -q 90 '" + png + "' -o '" + (dir / "a.heic") + "' >/dev/null 2>&1"), 0);
  const auto ours = Decode(loader, dir / "a.heic");
  EXPECT_EQ(ours.width, 64);
  EXPECT_LE(MaxDifference(ours, test::ReadWithMagick(dir / "a.heic")), 3);
  EXPECT_EQ(test::ErrorOf<Error>([&] {
              loader.LoadFile(test::TruncatedCopy(dir / "a.heic", 400, dir / "short.heic"));
            }).rfind("HEIF image error: ", 0),
            0u);
}

// The sizes read ahead of libheif: the coded size in the HEVC configuration
// (rounded up to whole coding blocks), the canvas of heif-enc's one-tile
// grid, and the canvases of the hostile files that taught us to read them.
TEST_F(MagickFilesTest, SizesAreReadAheadOfTheDecoder) {
  if (!test::HaveTool("heif-enc")) GTEST_SKIP() << "heif-enc is not installed";
  const std::string png = Make("odd.png", "-size 100x60 gradient:crimson-skyblue -depth 8");
  ASSERT_EQ(test::Run("heif-enc -q 90 '" + png + "' -o '" + (dir / "odd.heic") + "' >/dev/null 2>&1"), 0);
  const auto heic = test::ReadFile(dir / "odd.heic");
  const auto coded = HevcConfigSizes(heic.data(), heic.size());
  ASSERT_FALSE(coded.empty());
  for (const CodedSize& s : coded) {
    EXPECT_GE(s.width, 100u);
    EXPECT_LT(s.width, 100u + 64);
    EXPECT_GE(s.height, 60u);
    EXPECT_LT(s.height, 60u + 64);
  }
  // Coded larger than declared, within a coding block: decoded, and cropped.
  EXPECT_LE(MaxDifference(Decode(loader, dir / "odd.heic"), test::ReadWithMagick(dir / "odd.heic")), 3);
  Make("tiny.png", "-size 12x7 gradient:crimson-skyblue -depth 8");
  ASSERT_EQ(test::Run("heif-enc -q 90 '" + (dir / "tiny.png") + "' -o '" + (dir / "tiny.heic") + "' >/dev/null 2>&1"), 0);
  EXPECT_EQ(Decode(loader, dir / "tiny.heic").width, 12);
  // heif-enc writes the picture as a grid of one tile: its canvas is the picture.
  const auto grid = DerivedCanvasSizes(heic.data(), heic.size());
  ASSERT_EQ(grid.size(), 1u);
  EXPECT_EQ(grid[0].width, 100u);
  EXPECT_EQ(grid[0].height, 60u);
  for (const auto& [file, width, height] : std::vector<std::tuple<std::string, uint32_t, uint32_t>>{
           {"heic_grid_canvas_beyond_its_declared_size.heic", 24950, 26995},
           {"heic_overlay_canvas_beyond_its_declared_size.heic", 37696, 59176}}) {
    const auto bytes = test::ReadFile(std::string(VELMORA_SOURCE_DIR) + "/tests/fixtures/hostile/" + file);
    const auto canvases = DerivedCanvasSizes(bytes.data(), bytes.size());
    bool found = false;
    for (const CodedSize& c : canvases) found |= c.width == width && c.height == height;
    EXPECT_TRUE(found) << file;
    // Cut anywhere, the reading stays inside the file.
    for (size_t n = 0; n < bytes.size(); n += 7) {
      DerivedCanvasSizes(bytes.data(), n);
      HevcConfigSizes(bytes.data(), n);
    }
  }
}

}  // namespace
}  // namespace velmora
