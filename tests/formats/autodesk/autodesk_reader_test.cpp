// Autodesk Animator cels and pictures, built in code: no encoder is at hand.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;

ByteBuilder Cel(int w, int h, int depth = 8, int compression = 0) {
  ByteBuilder b;
  b.U16Le(0x9119).U16Le(w).U16Le(h).U16Le(0).U16Le(0).U8(depth).U8(compression).U32Le(w * h).Zeros(16);
  for (int i = 0; i < 256; ++i) b.U8(i % 64).U8(63 - i % 64).U8(i / 4);
  return b;
}

TEST(AutodeskReaderTest, PaletteOfSixBitValuesAndPixelsTopFirst) {
  test::TempDir dir;
  Loader loader;
  ByteBuilder cel = Cel(3, 2);
  cel.U8(0).U8(1).U8(63).U8(200).U8(255).U8(2);
  test::WriteFile(dir / "a.cel", cel.bytes);
  Bitmap picture;
  loader.LoadFile(dir / "a.cel")->AssignTo(picture);
  ASSERT_EQ(picture.Bits(), 8);
  EXPECT_EQ(picture.GetIndex(2, 0), 63);
  EXPECT_EQ(picture.GetIndex(0, 1), 200);
  // 6-bit values widen to 8 bits with their top bits repeated: 63 is 255, 1 is 4.
  EXPECT_EQ(picture.GetPixel(0, 0), MakeColor(0, 255, 0));
  EXPECT_EQ(picture.GetPixel(1, 0), MakeColor(4, 251, 0));
  EXPECT_EQ(picture.GetPixel(1, 1), MakeColor(255, 0, 255));  // 255: 63, 0, 63
  // The same file named .pic, and named .dat: recognised by content.
  test::WriteFile(dir / "b.dat", cel.bytes);
  EXPECT_EQ(test::Decode(loader, dir / "b.dat").At(2, 0), test::Decode(loader, dir / "a.cel").At(2, 0));
}

TEST(AutodeskReaderTest, RefusedAndShortFiles) {
  test::TempDir dir;
  Loader loader;
  ByteBuilder deep = Cel(2, 2, 16);
  deep.Zeros(8);
  test::WriteFile(dir / "a.cel", deep.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "a.cel"); }), "Autodesk image error: 16-bit cels are not supported");
  ByteBuilder shortfile = Cel(40, 40);
  shortfile.Zeros(100);
  test::WriteFile(dir / "b.pic", shortfile.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "b.pic"); }),
            "Autodesk image error: 40 x 40 pixels cannot be held in 100 bytes");
}

}  // namespace
}  // namespace velmora
