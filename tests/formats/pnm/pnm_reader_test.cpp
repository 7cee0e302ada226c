// PBM, PGM and PPM input: plain and raw forms from netpbm's and ImageMagick's
// encoders, odd maxvals, 16-bit samples, comments, and broken headers.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

TEST_F(MagickFilesTest, NetpbmFormsMatchAnIndependentDecoder) {
  const std::string src = Make("src.ppm", "-size 31x17 gradient:orange-navy -depth 8");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"raw.ppm", "'" + src + "'"},
      {"plain.ppm", "'" + src + "' -compress none"},
      {"raw.pgm", "'" + src + "' -colorspace gray"},
      {"plain.pgm", "'" + src + "' -colorspace gray -compress none"},
      {"raw.pbm", "'" + src + "' -monochrome"},
      {"plain.pbm", "'" + src + "' -monochrome -compress none"},
      {"deep.ppm", "'" + src + "' -depth 16"},
  };
  for (const auto& [name, args] : cases) {
    const std::string path = Make(name, args);
    EXPECT_LE(MaxDifference(Decode(loader, path), test::ReadWithMagick(path)), 0) << name;
  }
  // Maxval 100 from netpbm: every sample scaled, rounded to the nearest.
  REQUIRE_TOOL("pnmdepth");
  ASSERT_EQ(test::Run("pnmdepth 100 '" + src + "' > '" + (dir / "m100.ppm") + "' 2>/dev/null"), 0);
  EXPECT_LE(MaxDifference(Decode(loader, dir / "m100.ppm"), test::ReadWithMagick(dir / "m100.ppm")), 1);
}

TEST(PnmReaderTest, CommentsScalingAndBitmaps) {
  test::TempDir dir;
  Loader loader;
  test::WriteText(dir / "a.pgm", "P2\n# made by hand\n3 # width\n1\n# maxval next\n4\n0 2 4\n");
  const auto grey = test::Decode(loader, dir / "a.pgm");
  EXPECT_EQ(grey.At(0, 0), 0x000000u);
  EXPECT_EQ(grey.At(1, 0), 0x808080u);  // 2 of 4 is 127.5: rounded up
  EXPECT_EQ(grey.At(2, 0), 0xFFFFFFu);
  // Plain bitmaps need no separators; 1 is black.
  test::WriteText(dir / "b.pbm", "P1 4 1 0110");
  const auto bits = test::Decode(loader, dir / "b.pbm");
  EXPECT_EQ(bits.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bits.At(1, 0), 0x000000u);
  // Raw 16-bit samples are big-endian.
  test::ByteBuilder deep;
  deep.Text("P6 1 1 65535\n").U16Be(65535).U16Be(0).U16Be(32768);
  test::WriteFile(dir / "c.ppm", deep.bytes);
  EXPECT_EQ(test::Decode(loader, dir / "c.ppm").At(0, 0), 0xFF0080u);
}

TEST(PnmReaderTest, BrokenHeadersAndShortData) {
  test::TempDir dir;
  Loader loader;
  auto error = [&](const std::string& name, const std::string& text) {
    test::WriteText(dir / name, text);
    return test::ErrorOf([&] { loader.LoadFile(dir / name); });
  };
  EXPECT_EQ(error("a.ppm", "P6 2 2 0\n"), "PNM image error: the maxval 0 is not 1 to 65535");
  EXPECT_EQ(error("b.ppm", "P6 2 2 70000\n"), "PNM image error: the maxval 70000 is not 1 to 65535");
  EXPECT_EQ(error("c.ppm", "P6 x 2 255\n"), "PNM image error: the width is not a number");
  EXPECT_EQ(error("d.ppm", "P6 2 2 255\nabcdefghijk"), "PNM image error: the file ends before the picture does");
  EXPECT_EQ(error("g.ppm", "P6 2 2 255\nabc"), "PNM image error: 2 x 2 pixels cannot be held in 4 bytes");
  EXPECT_EQ(error("e.pgm", "P2 2 1 10 5 11"), "PNM image error: a sample exceeds the maxval");
  EXPECT_EQ(error("f.pgm", "P5 100000 100000 255\n"),
            "PNM image error: 100000 x 100000 pixels cannot be held in 1 bytes");
}

}  // namespace
}  // namespace velmora
