// Targa input: files from netpbm's encoder, which follows the format's
// bottom-left origin, compared with the picture they were made from; the
// variants netpbm does not write (alpha, 16 bits, the other origins, the
// extension area) built in code.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;
using test::Decode;
using test::MaxDifference;

// Flat stripes for the runs, noise for the literal packets.
Bitmap Stripes(int w, int h) {
  return test::RgbBitmap(w, h, [](int x, int y) {
    if (y % 5 < 2) return MakeColor(static_cast<uint8_t>(40 * (y % 7)), 200, 30);
    return MakeColor(static_cast<uint8_t>(x * 37 + y * 11), static_cast<uint8_t>(x * x + y), static_cast<uint8_t>(y * 53));
  });
}

class NetpbmTargaTest : public test::MagickFilesTest {
 protected:
  void SetUp() override {
    MagickFilesTest::SetUp();
    if (!test::HaveTool("ppmtotga")) GTEST_SKIP() << "netpbm (ppmtotga) is not installed";
  }
};

TEST_F(NetpbmTargaTest, EveryVariantNetpbmWritesMatchesItsSource) {
  const Bitmap source = Stripes(37, 23);
  const std::string bmp = test::SaveBmp(dir / "src.bmp", source);
  Make("src.ppm", "'" + bmp + "'");
  const test::RgbImage expected = test::ToRgb(source);
  for (const char* options : {"-rgb", "-rgb -norle"}) {
    const std::string tga = dir / "out.tga";
    ASSERT_EQ(test::Run(std::string("ppmtotga ") + options + " '" + (dir / "src.ppm") + "' > '" + tga + "' 2>/dev/null"), 0);
    EXPECT_EQ(MaxDifference(Decode(loader, tga), expected), 0) << options;
  }
  // A colour-mapped file: few colours, stored as indices.
  const Bitmap few = test::RgbBitmap(19, 11, [](int x, int y) { return ((x / 3 + y) % 3 == 0) ? MakeColor(250, 10, 10) : MakeColor(5, 5, 200 - x); });
  Make("few.ppm", "'" + test::SaveBmp(dir / "few.bmp", few) + "'");
  for (const char* options : {"-cmap", "-cmap -norle"}) {
    const std::string tga = dir / "few.tga";
    ASSERT_EQ(test::Run(std::string("ppmtotga ") + options + " '" + (dir / "few.ppm") + "' > '" + tga + "' 2>/dev/null"), 0);
    Bitmap decoded;
    loader.LoadFile(tga)->AssignTo(decoded);
    EXPECT_EQ(decoded.Bits(), 8) << "a colour map stays a palette";
    EXPECT_EQ(MaxDifference(test::ToRgb(decoded), test::ToRgb(few)), 0) << options;
  }
  // Grey.
  Make("grey.pgm", "'" + bmp + "' -colorspace gray -depth 8");
  ASSERT_EQ(test::Run("ppmtotga -mono '" + (dir / "grey.pgm") + "' > '" + (dir / "grey.tga") + "' 2>/dev/null"), 0);
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "grey.tga"), test::ReadWithMagick(dir / "grey.pgm")), 0);
}

// An 18-byte header for a w x h picture.
ByteBuilder Header(int type, int depth, int w, int h, int descriptor, int map_length = 0, int map_bits = 0) {
  ByteBuilder b;
  b.U8(0).U8(map_length ? 1 : 0).U8(type).U16Le(0).U16Le(map_length).U8(map_bits).U16Le(0).U16Le(0);
  b.U16Le(w).U16Le(h).U8(depth).U8(descriptor);
  return b;
}

TEST(TargaReaderTest, OriginsAlphaAndSixteenBits) {
  test::TempDir dir;
  Loader loader;
  // 2 x 2, 32 bits with 8 alpha bits, origin top-right: the first stored
  // pixel is the top-right one.
  ByteBuilder b = Header(2, 32, 2, 2, 0x28 | 0x10);
  b.U8(0).U8(0).U8(255).U8(255);    // top right: opaque red
  b.U8(255).U8(0).U8(0).U8(0);      // top left: fully transparent blue
  b.U8(0).U8(255).U8(0).U8(128);    // bottom right: half green
  b.U8(10).U8(20).U8(30).U8(255);   // bottom left
  test::WriteFile(dir / "a.tga", b.bytes);
  const auto picture = Decode(loader, dir / "a.tga");
  EXPECT_EQ(picture.At(0, 0), 0xFFFFFFu);  // transparent over white
  EXPECT_EQ(picture.At(1, 0), 0xFF0000u);
  EXPECT_EQ(picture.At(0, 1), 0x1E140Au);
  EXPECT_EQ(picture.At(1, 1), 0x7FFF7Fu);  // (0*128 + 255*127 + 127) / 255 = 127
  // The same pixels with the extension area saying the alpha bits hold
  // nothing (attribute type 0): alpha is ignored.
  ByteBuilder v2 = b;
  const size_t extension = v2.Size();
  v2.U16Le(495).PadTo(extension + 494).U8(0);
  v2.U32Le(static_cast<uint32_t>(extension)).U32Le(0).Text("TRUEVISION-XFILE.").U8(0);
  test::WriteFile(dir / "b.tga", v2.bytes);
  EXPECT_EQ(Decode(loader, dir / "b.tga").At(0, 0), 0x0000FFu);
  // 16 bits, 5-5-5 with the attribute bit as alpha, bottom-left origin and RLE.
  ByteBuilder c = Header(10, 16, 3, 1, 0x01);
  c.U8(0x82).U16Le(0x8000 | (31 << 10));  // three opaque reds in one run
  test::WriteFile(dir / "c.tga", c.bytes);
  const auto reds = Decode(loader, dir / "c.tga");
  EXPECT_EQ(reds.At(0, 0), 0xFF0000u);
  EXPECT_EQ(reds.At(2, 0), 0xFF0000u);
  // A colour map starting at entry 2, 24-bit entries.
  ByteBuilder d = Header(1, 8, 2, 1, 0x20, 2, 24);
  d.bytes[3] = 2;  // first entry index
  d.U8(1).U8(2).U8(3).U8(4).U8(5).U8(6).U8(2).U8(3);
  test::WriteFile(dir / "d.tga", d.bytes);
  const auto mapped = Decode(loader, dir / "d.tga");
  EXPECT_EQ(mapped.At(0, 0), 0x030201u);
  EXPECT_EQ(mapped.At(1, 0), 0x060504u);
  // An index outside the map is an error, not a read past the table.
  d.bytes.back() = 9;
  test::WriteFile(dir / "e.tga", d.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "e.tga"); }),
            "Targa image error: a pixel refers to a colour the colour map does not have");
}

TEST(TargaReaderTest, TruncatedAndHostileFilesFailWithTheirReason) {
  test::TempDir dir;
  Loader loader;
  ByteBuilder rle = Header(10, 24, 40, 40, 0);
  for (int i = 0; i < 15; ++i) rle.U8(0x80).U8(1).U8(2).U8(3);  // 15 of 1600 pixels, then the data ends
  test::WriteFile(dir / "short.tga", rle.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "short.tga"); }),
            "Targa image error: the file ends before the picture does");
  // 65535 x 65535 claimed by a few bytes: refused before any allocation.
  ByteBuilder huge = Header(10, 8, 65535, 65535, 0x20);
  huge.bytes[1] = 0;
  huge.bytes[2] = 11;
  huge.U8(0xFF).U8(7);
  test::WriteFile(dir / "huge.tga", huge.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "huge.tga"); }),
            "Targa image error: 65535 x 65535 pixels cannot be held in 2 bytes");
  // Huffman-compressed types are named, not taken for garbage.
  ByteBuilder huffman = Header(32, 8, 4, 4, 0);
  huffman.Zeros(64);
  test::WriteFile(dir / "h.tga", huffman.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "h.tga"); }),
            "Targa image error: Huffman-compressed Targa files are not supported");
}

}  // namespace
}  // namespace velmora
