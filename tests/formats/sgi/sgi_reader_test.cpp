// SGI input: ImageMagick's verbatim and run-length files in grey, RGB and
// RGBA, 8 and 16 bits; a row table pointing outside the file.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

TEST_F(MagickFilesTest, SgiVariantsMatchAnIndependentDecoder) {
  const std::string src = Make("src.png", "-size 33x21 gradient:yellow-purple -depth 8 \\( +clone -fx 'j%3?u:0.2' \\) -compose multiply -composite");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"raw.sgi", "'" + src + "' -compress none"},
      {"rle.sgi", "'" + src + "' -compress RLE"},
      {"grey.sgi", "'" + src + "' -colorspace gray -compress RLE"},
      {"alpha.sgi", "'" + src + "' -alpha set -channel A -fx 'i/w' +channel -compress RLE"},
      {"deep.sgi", "'" + src + "' -depth 16 -compress none"},
      {"deeprle.sgi", "'" + src + "' -depth 16 -compress RLE"},
  };
  for (const auto& [name, args] : cases) {
    const std::string path = Make(name, args);
    EXPECT_LE(MaxDifference(Decode(loader, path), test::ReadWithMagick(path)), 1) << name;
  }
  const std::string rle = dir / "rle.sgi";
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(test::TruncatedCopy(rle, 700, dir / "short.sgi")); }),
            "SGI image error: the file ends before the picture does");
}

TEST(SgiReaderTest, RowTableOutsideTheFileAndColourMaps) {
  test::TempDir dir;
  Loader loader;
  test::ByteBuilder b;
  b.U16Be(474).U8(1).U8(1).U16Be(2).U16Be(4).U16Be(1).U16Be(1).PadTo(512);
  b.U32Be(0x7FFFFFF0).U32Be(16);  // the only row starts far past the end
  test::WriteFile(dir / "a.sgi", b.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "a.sgi"); }), "SGI image error: the file ends before the picture does");
  test::ByteBuilder c;
  c.U16Be(474).U8(0).U8(1).U16Be(2).U16Be(2).U16Be(2).U16Be(1).PadTo(104).U32Be(3).PadTo(512).Zeros(4);
  test::WriteFile(dir / "c.sgi", c.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "c.sgi"); }), "SGI image error: colour-mapped SGI files are not supported");
}

}  // namespace
}  // namespace velmora
