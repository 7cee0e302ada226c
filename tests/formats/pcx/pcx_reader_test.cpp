// PCX input: every layout netpbm's and ImageMagick's encoders write, compared
// with the pictures they were made from; truncated and hostile files.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MaxDifference;

class PcxReaderTest : public test::MagickFilesTest {
 protected:
  void SetUp() override {
    MagickFilesTest::SetUp();
    if (!test::HaveTool("ppmtopcx")) GTEST_SKIP() << "netpbm (ppmtopcx) is not installed";
    Make("src.ppm", "-size 37x23 gradient:red-blue -depth 8 \\( +clone -fx 'sin(i*j)' \\) -compose multiply -composite");
  }
  // The source reduced to n colours, as a PPM.
  std::string Colours(int n) { return Make("c" + std::to_string(n) + ".ppm", "'" + (dir / "src.ppm") + "' +dither -colors " + std::to_string(n)); }
};

TEST_F(PcxReaderTest, EveryLayoutMatchesItsSource) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Colours(2), ""},               // 1 bit, 1 plane, two colours in the header palette
      {Colours(4), "-packed"},        // 2 bits packed (CGA)
      {Colours(4), "-planes 2"},      // 1 bit in 2 planes
      {Colours(16), ""},              // 1 bit in 4 planes (EGA)
      {Colours(16), "-packed"},       // 4 bits packed
      {Colours(16), "-8bit"},         // 8 bits and the palette at the end
      {dir / "src.ppm", ""},          // 24 bits in three planes
  };
  for (const auto& [ppm, options] : cases) {
    const std::string pcx = dir / "out.pcx";
    ASSERT_EQ(test::Run("ppmtopcx " + options + " '" + ppm + "' > '" + pcx + "' 2>/dev/null"), 0);
    EXPECT_EQ(MaxDifference(Decode(loader, pcx), test::ReadWithMagick(ppm)), 0) << ppm << " " << options;
  }
  // ImageMagick's black and white file leaves the header palette black.
  const std::string mono = Make("mono.pcx", "'" + (dir / "src.ppm") + "' -monochrome");
  EXPECT_EQ(MaxDifference(Decode(loader, mono), test::ReadWithMagick(mono)), 0);
}

TEST_F(PcxReaderTest, TruncatedAndHostileFiles) {
  const std::string pcx = dir / "full.pcx";
  ASSERT_EQ(test::Run("ppmtopcx '" + (dir / "src.ppm") + "' > '" + pcx + "' 2>/dev/null"), 0);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(test::TruncatedCopy(pcx, 300, dir / "short.pcx")); }),
            "PCX image error: the file ends before the picture does");
  // A header claiming 65535 x 65535 with a few bytes of data.
  test::ByteBuilder b;
  b.U8(0x0A).U8(5).U8(1).U8(8).U16Le(0).U16Le(0).U16Le(65533).U16Le(65533).Zeros(4 + 48 + 1);
  b.U8(1).U16Le(65534).PadTo(128).U8(0xFF).U8(0);
  test::WriteFile(dir / "huge.pcx", b.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "huge.pcx"); }),
            "PCX image error: 65534 x 65534 pixels cannot be held in 2 bytes");
}

}  // namespace
}  // namespace velmora
