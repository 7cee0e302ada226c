// TIFF input: the variants ImageMagick writes, and data that cannot be
// decoded failing the file instead of becoming a blank picture.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;

void Put16(std::vector<uint8_t>& v, unsigned x, bool le) {
  if (le) {
    v.push_back(static_cast<uint8_t>(x)), v.push_back(static_cast<uint8_t>(x >> 8));
  } else {
    v.push_back(static_cast<uint8_t>(x >> 8)), v.push_back(static_cast<uint8_t>(x));
  }
}
void Put32(std::vector<uint8_t>& v, uint32_t x, bool le) {
  if (le) {
    Put16(v, x & 0xFFFF, true), Put16(v, x >> 16, true);
  } else {
    Put16(v, x >> 16, false), Put16(v, x & 0xFFFF, false);
  }
}

// A minimal one-strip 8 x 8 greyscale TIFF with the given compression and data.
std::vector<uint8_t> Tiff(unsigned compression, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  const uint32_t data_at = 8 + 2 + 9 * 12 + 4;
  struct Entry {
    unsigned tag, type;
    uint32_t value;
  };
  const Entry entries[] = {{256, 3, 8},       {257, 3, 8}, {258, 3, 8}, {259, 3, compression},
                           {262, 3, 1},       {273, 4, data_at},        {277, 3, 1},
                           {278, 3, 8},       {279, 4, static_cast<uint32_t>(data.size())}};
  Put16(t, 9, true);
  for (const Entry& e : entries) {
    Put16(t, e.tag, true);
    Put16(t, e.type, true);
    Put32(t, 1, true);
    if (e.type == 3) {
      Put16(t, e.value, true);
      Put16(t, 0, true);
    } else {
      Put32(t, e.value, true);
    }
  }
  Put32(t, 0, true);
  t.insert(t.end(), data.begin(), data.end());
  return t;
}

TEST_F(MagickFilesTest, TiffVariantsMatchAnIndependentDecoder) {
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
    EXPECT_LE(test::MaxDifference(Decode(loader, path), test::ReadWithMagick(path)), 1) << name;
  }
  const std::string pages = Make("pages.tif", "-size 4x4 xc:yellow xc:black");
  EXPECT_EQ(Decode(loader, pages).At(0, 0), 0xFFFF00u);
}

TEST(DamagedTiffTest, UndecodableDataFailsTheFile) {
  test::TempDir dir;
  const std::vector<uint8_t> garbage = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x13, 0x37, 0xFF, 0xFE, 0xAB, 0xCD, 0xEF};
  Loader loader;
  const std::string good = dir / "good.tif";
  test::WriteFile(good, Tiff(1, std::vector<uint8_t>(64, 200)));
  Bitmap b;
  ASSERT_NO_THROW(loader.LoadFile(good)->AssignTo(b));
  EXPECT_EQ(b.GetPixel(7, 7), MakeColor(200, 200, 200));
  for (unsigned compression : {5u /* LZW */, 8u /* deflate */, 32946u /* old deflate */, 12345u /* unknown */}) {
    const std::string path = dir / ("c" + std::to_string(compression) + ".tif");
    test::WriteFile(path, Tiff(compression, garbage));
    try {
      loader.LoadFile(path)->AssignTo(b);
      ADD_FAILURE() << "compression " << compression << " decoded garbage without an error";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("TIFF image error"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace velmora
