// Dr. Halo pictures and their palette files, built in code and checked
// against ImageMagick's decoder, which also reads the palette beside them.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;
using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

// Rows of indices, each run-length encoded behind its byte count.
std::vector<uint8_t> Cut(const std::vector<std::vector<uint8_t>>& rows) {
  ByteBuilder b;
  b.U16Le(static_cast<uint32_t>(rows[0].size())).U16Le(static_cast<uint32_t>(rows.size())).U16Le(0);
  for (const auto& row : rows) {
    ByteBuilder line;
    size_t i = 0;
    while (i < row.size()) {
      size_t run = 1;
      while (i + run < row.size() && row[i + run] == row[i] && run < 127) ++run;
      if (run >= 2) {
        line.U8(0x80 | static_cast<uint32_t>(run)).U8(row[i]);
      } else {
        line.U8(1).U8(row[i]);
      }
      i += run;
    }
    line.U8(0);
    b.U16Le(static_cast<uint32_t>(line.Size())).Raw(line.bytes);
  }
  return b.bytes;
}

// A Dr. Halo palette: 40-byte header, then red, green and blue words that
// never straddle a 512-byte block.
std::vector<uint8_t> Pal(int entries, int max) {
  ByteBuilder b;
  b.Text("AH").U16Le(0xE3).U16Le(0).U8(0).U8(0).U16Le(0).U16Le(0).U16Le(entries - 1);
  b.U16Le(max).U16Le(max).U16Le(max).Text("Dr. Halo").PadTo(40);
  for (int i = 0; i < entries; ++i) {
    if (b.Size() % 512 > 506) b.PadTo((b.Size() / 512 + 1) * 512);
    b.U16Le(i % (max + 1)).U16Le((i * 7) % (max + 1)).U16Le(max - i % (max + 1));
  }
  return b.bytes;
}

std::vector<std::vector<uint8_t>> Rows(int w, int h) {
  std::vector<std::vector<uint8_t>> rows(h, std::vector<uint8_t>(w));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) rows[y][x] = static_cast<uint8_t>(y % 3 == 0 ? 200 : (x * 13 + y * 5) % 256);
  return rows;
}

TEST_F(MagickFilesTest, CutWithItsPaletteMatchesAnIndependentDecoder) {
  test::WriteFile(dir / "pic.cut", Cut(Rows(37, 9)));
  test::WriteFile(dir / "pic.pal", Pal(256, 255));
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "pic.cut"), test::ReadWithMagick(dir / "pic.cut")), 0);
  // Entry 90 lies in the second block of the palette file, past the padding.
  Bitmap picture;
  loader.LoadFile(dir / "pic.cut")->AssignTo(picture);
  EXPECT_EQ(picture.Palette()[90].red, 90);
  EXPECT_EQ(picture.Palette()[90].green, (90 * 7) % 256);
}

TEST(CutReaderTest, WithoutAPaletteTheIndicesAreGrey) {
  test::TempDir dir;
  Loader loader;
  test::WriteFile(dir / "a.cut", Cut({{0, 5, 15, 15}}));
  const auto sixteen = Decode(loader, dir / "a.cut");
  EXPECT_EQ(sixteen.At(1, 0), 0x555555u);  // 5 of 15 steps
  EXPECT_EQ(sixteen.At(3, 0), 0xFFFFFFu);
  test::WriteFile(dir / "b.cut", Cut({{0, 1, 1}}));
  EXPECT_EQ(Decode(loader, dir / "b.cut").At(1, 0), 0xFFFFFFu);
  // A palette with a smaller range scales to 0..255; an index beyond it fails.
  test::WriteFile(dir / "c.cut", Cut({{0, 1, 2, 3}}));
  test::WriteFile(dir / "c.pal", Pal(4, 63));
  EXPECT_EQ(Decode(loader, dir / "c.cut").At(3, 0), 0x0C55F3u);  // 3, 21, 60 of 63
  test::WriteFile(dir / "c.pal", Pal(2, 63));
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "c.cut"); }),
            "CUT image error: a pixel refers to a colour the palette file does not have");
}

TEST(CutReaderTest, DamagedRows) {
  test::TempDir dir;
  Loader loader;
  std::vector<uint8_t> cut = Cut({{1, 2, 3, 4}, {4, 3, 2, 1}});
  cut[8] = 0x85;  // the first row's run now claims five pixels
  test::WriteFile(dir / "a.cut", cut);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "a.cut"); }), "CUT image error: row 0 does not fill the width");
  cut = Cut({{1, 2, 3, 4}, {4, 3, 2, 1}});
  cut.resize(cut.size() - 4);
  test::WriteFile(dir / "b.cut", cut);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "b.cut"); }), "CUT image error: the file ends before the picture does");
}

}  // namespace
}  // namespace velmora
