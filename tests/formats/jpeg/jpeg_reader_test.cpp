// JPEG input: colour spaces, EXIF orientation (from byte-built segments and
// from ImageMagick), damaged EXIF blocks and truncated files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

#include "formats/jpeg/jpeg_writer.h"
#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;

// A 32 x 16 JPEG: the left half red, the right half blue, the top-left 8 x 8
// block white, so that every turn and flip ends somewhere else.
std::vector<uint8_t> TestJpeg() {
  Bitmap b(32, 16, Bitmap::Format::k24Bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x)
      b.SetPixel(x, y, x < 8 && y < 8 ? MakeColor(255, 255, 255) : x < 16 ? MakeColor(255, 0, 0) : MakeColor(0, 0, 255));
  std::ostringstream out;
  EncodeJpeg(b, 100, out);
  const std::string s = out.str();
  return std::vector<uint8_t>(s.begin(), s.end());
}

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

// A TIFF block with one IFD entry for the orientation at ifd_offset.
std::vector<uint8_t> ExifBlock(unsigned orientation, bool le, uint32_t ifd_offset = 8, unsigned entries = 1) {
  std::vector<uint8_t> t;
  t.push_back(le ? 'I' : 'M'), t.push_back(le ? 'I' : 'M');
  Put16(t, 42, le);
  Put32(t, ifd_offset, le);
  Put16(t, entries, le);
  Put16(t, 0x0112, le);  // Orientation
  Put16(t, 3, le);       // SHORT
  Put32(t, 1, le);
  Put16(t, orientation, le);
  Put16(t, 0, le);
  Put32(t, 8, le);  // the next IFD is this one again: a loop for a reader that follows it
  return t;
}

// The JPEG with an APP1 "Exif" segment inserted right after SOI.
std::vector<uint8_t> WithExif(const std::vector<uint8_t>& jpeg, const std::vector<uint8_t>& tiff) {
  std::vector<uint8_t> app1 = {0xFF, 0xE1};
  const size_t length = 2 + 6 + tiff.size();
  app1.push_back(static_cast<uint8_t>(length >> 8)), app1.push_back(static_cast<uint8_t>(length));
  for (char c : std::string("Exif\0\0", 6)) app1.push_back(static_cast<uint8_t>(c));
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  std::vector<uint8_t> out = app1;
  out.insert(out.begin(), {jpeg[0], jpeg[1]});
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

Bitmap Load(const std::string& path) {
  Loader loader;
  Bitmap b;
  loader.LoadFile(path)->AssignTo(b);
  return b;
}

bool Near(ColorValue c, ColorValue want) {
  return std::abs(ColorRed(c) - ColorRed(want)) < 40 && std::abs(ColorGreen(c) - ColorGreen(want)) < 40 &&
         std::abs(ColorBlue(c) - ColorBlue(want)) < 40;
}

constexpr ColorValue kWhite = MakeColor(255, 255, 255);

TEST_F(MagickFilesTest, JpegColourSpacesMatchAnIndependentDecoder) {
  const std::string rgb = Make("rgb.jpg", "-size 40x30 gradient:orange-navy -quality 95");
  const std::string grey = Make("grey.jpg", "-size 40x30 gradient:white-black -colorspace gray -quality 95");
  const std::string cmyk = Make("cmyk.jpg", "-size 40x30 gradient:yellow-teal -colorspace cmyk -quality 95");
  EXPECT_LE(test::MaxDifference(Decode(loader, rgb), test::ReadWithMagick(rgb)), 2);
  EXPECT_LE(test::MaxDifference(Decode(loader, grey), test::ReadWithMagick(grey)), 2);
  const auto ours = Decode(loader, cmyk);
  const auto theirs = test::ReadWithMagick(cmyk);
  EXPECT_LE(test::MaxDifference(ours, theirs), 8) << "CMYK must not come out inverted";
  Bitmap b;
  loader.LoadFile(grey)->AssignTo(b);
  EXPECT_EQ(b.PixelFormat(), Bitmap::Format::k8Bit);
}

TEST_F(MagickFilesTest, ExifOrientationTurnsPhotosUpright) {
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
    EXPECT_LE(test::MaxDifference(ours, upright), 40) << o;
  }
}

TEST(ExifOrientationTest, EveryOrientationInBothByteOrders) {
  test::TempDir dir;
  const auto jpeg = TestJpeg();
  // Where the white block (top-left of the stored picture) ends up, by orientation.
  struct Case {
    unsigned orientation;
    int width, height;
    int white_x, white_y;  // a pixel inside the white block after turning
  };
  const Case cases[] = {{1, 32, 16, 2, 2},  {2, 32, 16, 29, 2}, {3, 32, 16, 29, 13}, {4, 32, 16, 2, 13},
                        {5, 16, 32, 2, 2},  {6, 16, 32, 13, 2}, {7, 16, 32, 13, 29}, {8, 16, 32, 2, 29},
                        {0, 32, 16, 2, 2},  {9, 32, 16, 2, 2},  {65535, 32, 16, 2, 2}};
  for (bool le : {true, false}) {
    for (const Case& c : cases) {
      const std::string path = dir / ("o" + std::to_string(c.orientation) + (le ? "le" : "be") + ".jpg");
      test::WriteFile(path, WithExif(jpeg, ExifBlock(c.orientation, le)));
      const Bitmap b = Load(path);
      ASSERT_EQ(b.Width(), c.width) << c.orientation << (le ? " II" : " MM");
      ASSERT_EQ(b.Height(), c.height) << c.orientation;
      EXPECT_TRUE(Near(b.GetPixel(c.white_x, c.white_y), kWhite)) << "orientation " << c.orientation;
    }
  }
}

TEST(ExifOrientationTest, DamagedBlocksLeaveThePictureAsStored) {
  test::TempDir dir;
  const auto jpeg = TestJpeg();
  const std::vector<std::vector<uint8_t>> blocks = {
      ExifBlock(6, true, 0xFFFFFFF0),    // IFD offset far beyond the block
      ExifBlock(6, true, 8, 60000),      // more entries than the block holds (the real one is read)
      std::vector<uint8_t>{'I', 'I'},    // cut short
      std::vector<uint8_t>{'X', 'X', 42, 0, 8, 0, 0, 0},  // no byte order mark
  };
  int n = 0;
  for (const auto& block : blocks) {
    const std::string path = dir / ("bad" + std::to_string(n++) + ".jpg");
    test::WriteFile(path, WithExif(jpeg, block));
    Bitmap b;
    ASSERT_NO_THROW(b = Load(path)) << n;
    // The count beyond the block still reaches the real entry; the others are ignored.
    EXPECT_EQ(b.Width(), n == 2 ? 16 : 32) << n;
  }
}

TEST(TruncatedJpegTest, ConvertsWithAWarning) {
  test::TempDir dir;
  Bitmap b(200, 200, Bitmap::Format::k24Bit);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) b.SetPixel(x, y, MakeColor(x, y, (x * y) & 255));
  std::ostringstream encoded;
  EncodeJpeg(b, 90, encoded);
  const std::string bytes = encoded.str();
  const std::vector<uint8_t> jpeg(bytes.begin(), bytes.end());
  const std::string path = dir / "cut.jpg";
  test::WriteFile(path, std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() * 6 / 10)));
  Loader loader;
  auto graphic = loader.LoadFile(path);
  ASSERT_EQ(graphic->Warnings().size(), 1u);
  EXPECT_EQ(graphic->Warnings()[0],
            "JPEG warning: the picture is damaged; what could be read is converted (libjpeg: Premature end of JPEG file)");
  const std::string whole = dir / "whole.jpg";
  test::WriteFile(whole, jpeg);
  EXPECT_TRUE(loader.LoadFile(whole)->Warnings().empty());
}

}  // namespace
}  // namespace velmora
