// JPEG XL input: files from cjxl and from libjxl's encoder, compared with
// djxl's decoding of the same file.
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>

#include <gtest/gtest.h>

#include <vector>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

// A bare codestream of w x h RGB pixels with the given orientation, made by
// libjxl's own encoder, lossless.
std::vector<uint8_t> Encoded(const std::vector<uint8_t>& rgb, uint32_t w, uint32_t h, JxlOrientation orientation) {
  JxlEncoderPtr enc = JxlEncoderMake(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = w;
  info.ysize = h;
  info.bits_per_sample = 8;
  info.uses_original_profile = JXL_TRUE;
  info.orientation = orientation;
  EXPECT_EQ(JxlEncoderSetBasicInfo(enc.get(), &info), JXL_ENC_SUCCESS);
  JxlColorEncoding color;
  JxlColorEncodingSetToSRGB(&color, JXL_FALSE);
  EXPECT_EQ(JxlEncoderSetColorEncoding(enc.get(), &color), JXL_ENC_SUCCESS);
  JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(enc.get(), nullptr);
  JxlEncoderSetFrameLossless(frame, JXL_TRUE);
  const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  EXPECT_EQ(JxlEncoderAddImageFrame(frame, &format, rgb.data(), rgb.size()), JXL_ENC_SUCCESS);
  JxlEncoderCloseInput(enc.get());
  std::vector<uint8_t> out(4096);
  uint8_t* next = out.data();
  size_t room = out.size();
  EXPECT_EQ(JxlEncoderProcessOutput(enc.get(), &next, &room), JXL_ENC_SUCCESS);
  out.resize(static_cast<size_t>(next - out.data()));
  return out;
}

TEST_F(MagickFilesTest, JxlMatchesDjxlInEveryKind) {
  REQUIRE_TOOL("cjxl");
  REQUIRE_TOOL("djxl");
  Make("src.ppm", "-size 40x24 gradient:crimson-skyblue -depth 8");
  Make("alpha.png", "-size 40x24 gradient:crimson-skyblue -depth 8 -alpha set -channel A -evaluate set 40%");
  Make("grey.pgm", "-size 40x24 gradient:black-white -depth 8");
  Make("anim.gif", "-delay 10 -size 40x24 xc:navy xc:gold");
  const struct {
    const char* in;
    const char* args;
    int tolerance;  // alpha composited over white rounds its own way
  } cases[] = {{"src.ppm", "-d 0", 0},     {"src.ppm", "-d 1.5", 0},          {"src.ppm", "-d 1 --container=1", 0},
               {"alpha.png", "-d 0", 1},   {"grey.pgm", "-d 1", 0},           {"anim.gif", "-d 0", 0}};
  for (const auto& c : cases) {
    const std::string jxl = dir / (std::string(c.in) + ".jxl"), png = dir / (std::string(c.in) + ".djxl.png");
    ASSERT_EQ(test::Run("cjxl " + std::string(c.args) + " '" + (dir / c.in) + "' '" + jxl + "' >/dev/null 2>&1"), 0) << c.in;
    ASSERT_EQ(test::Run("djxl '" + jxl + "' '" + png + "' >/dev/null 2>&1"), 0) << c.in;
    // The first frame of an animation, as djxl writes it.
    const test::RgbImage theirs = test::ReadPngStored(png);
    const test::RgbImage ours = Decode(loader, jxl);
    ASSERT_EQ(ours.width, 40) << c.in << " " << c.args;
    EXPECT_LE(MaxDifference(ours, theirs), c.tolerance) << c.in << " " << c.args;
  }
}

TEST(JxlReaderTest, OrientationTurnsThePictureUpright) {
  // 3 x 2: red green blue / white black grey.
  const std::vector<uint8_t> rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
  test::TempDir dir;
  Loader loader;
  // Orientation 6 is turned a quarter clockwise to be seen: 2 x 3, the left
  // column bottom-up becoming the top row.
  test::WriteFile(dir / "six.jxl", Encoded(rgb, 3, 2, JXL_ORIENT_ROTATE_90_CW));
  const test::RgbImage six = Decode(loader, dir / "six.jxl");
  ASSERT_EQ(six.width, 2);
  ASSERT_EQ(six.height, 3);
  EXPECT_EQ(six.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(six.At(1, 0), 0xFF0000u);
  EXPECT_EQ(six.At(0, 2), 0x808080u);
  EXPECT_EQ(six.At(1, 2), 0x0000FFu);
  test::WriteFile(dir / "one.jxl", Encoded(rgb, 3, 2, JXL_ORIENT_IDENTITY));
  EXPECT_EQ(Decode(loader, dir / "one.jxl").At(2, 0), 0x0000FFu);
  // Found by content under another name.
  test::WriteFile(dir / "named.png", Encoded(rgb, 3, 2, JXL_ORIENT_IDENTITY));
  EXPECT_EQ(Decode(loader, dir / "named.png").At(0, 0), 0xFF0000u);
}

TEST(JxlReaderTest, BadAndOversizedFilesAreRefusedWithTheirReason) {
  test::TempDir dir;
  std::vector<uint8_t> rgb(64 * 64 * 3, 90);
  const std::vector<uint8_t> good = Encoded(rgb, 64, 64, JXL_ORIENT_IDENTITY);
  test::WriteFile(dir / "short.jxl", std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2)));
  Loader loader;
  EXPECT_EQ(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "short.jxl"); }),
            "JPEG XL image error: the file ends before the picture does");
  std::vector<uint8_t> damaged = good;
  for (size_t i = 12; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  test::WriteFile(dir / "damaged.jxl", damaged);
  EXPECT_EQ(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "damaged.jxl"); }).rfind("JPEG XL image error: ", 0), 0u);
  // Beyond the loader's limits: refused from the header, before decoding.
  test::WriteFile(dir / "big.jxl", good);
  DecodeLimits small;
  small.max_pixels = 1000;
  loader.SetLimits(small);
  try {
    loader.LoadFile(dir / "big.jxl");
    ADD_FAILURE() << "a 64 x 64 picture passed a 1000-pixel limit";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kTooLarge) << e.what();
  }
}

}  // namespace
}  // namespace velmora
