// HEIC and AVIF input: files from libheif's heif-enc and ImageMagick, decoded
// independently by ImageMagick, whose colour conversion rounds differently.
#include <gtest/gtest.h>

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
  if (test::HaveTool("heif-enc")) {
    ASSERT_EQ(test::Run("heif-enc -q 90 '" + png + "' -o '" + (dir / "a.heic") + "' >/dev/null 2>&1"), 0);
    const auto ours = Decode(loader, dir / "a.heic");
    EXPECT_EQ(ours.width, 64);
    EXPECT_LE(MaxDifference(ours, test::ReadWithMagick(dir / "a.heic")), 3);
    EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(test::TruncatedCopy(dir / "a.heic", 400, dir / "short.heic")); })
                  .rfind("HEIF image error: ", 0),
              0u);
  }
  const std::string avif = Make("a.avif", "'" + png + "'");
  EXPECT_LE(MaxDifference(Decode(loader, avif), test::ReadWithMagick(avif)), 8);
}

}  // namespace
}  // namespace velmora
