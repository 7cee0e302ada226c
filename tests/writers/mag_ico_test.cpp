#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "image/palettes.h"
#include "image/resample.h"
#include "test_util.h"
#include "formats/ico/ico_writer.h"
#include "formats/mag/mag_image.h"

namespace velmora {
namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

std::vector<uint8_t> SaveMag(MagImage& mag) {
  std::ostringstream out;
  mag.SaveToStream(out);
  return Bytes(out.str());
}

Bitmap Indexed(int w, int h, Bitmap::Format f, const std::function<int(int, int)>& index) {
  Bitmap b(w, h, f);
  const size_t n = f == Bitmap::Format::k4Bit ? 16 : 256;
  std::vector<RgbQuad> pal;
  for (size_t i = 0; i + 1 < n; ++i) pal.push_back(RgbQuad{uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0});
  pal.push_back(RgbQuad{255, 255, 255, 0});
  b.SetPalette(pal);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetIndex(x, y, index(x, y));
  return b;
}

MagImage Reload(const std::vector<uint8_t>& bytes) {
  MagImage m;
  m.LoadFromBytes(bytes);
  return m;
}

TEST(MagImageTest, SixteenByTwoOfOneColour) {
  MagImage mag;
  mag.Assign(Indexed(16, 2, Bitmap::Format::k4Bit, [](int, int) { return 3; }));
  const auto b = SaveMag(mag);
  EXPECT_EQ(std::string(b.begin(), b.begin() + 32), "MAKI02  orvP >?\?<               ");
  EXPECT_EQ(std::string(b.begin() + 32, b.begin() + 57), "orv's TMAGImage Ver 1.01 ");
  EXPECT_EQ(b[57], 0x1A);
  const size_t h = 58;
  EXPECT_EQ(b[h], 0);
  EXPECT_EQ(b[h + 3], 0x00);
  EXPECT_EQ(test::Le16(b, h + 8), 15);
  EXPECT_EQ(test::Le16(b, h + 10), 1);
  EXPECT_EQ(test::Le32(b, h + 12), 80u);
  EXPECT_EQ(test::Le32(b, h + 16), 82u);
  EXPECT_EQ(test::Le32(b, h + 20), 4u);
  EXPECT_EQ(test::Le32(b, h + 24), 86u);
  EXPECT_EQ(test::Le32(b, h + 28), 2u);
  // Palette entry 3 in green, red, blue order.
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + h + 32 + 9, b.begin() + h + 32 + 12), (std::vector<uint8_t>{252, 21, 9}));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + h + 80, b.end()),
            (std::vector<uint8_t>{0xE0, 0x00, 0x01, 0x11, 0x40, 0x00, 0x33, 0x33}));
  EXPECT_EQ(b.size(), h + 88);
  MagImage back = Reload(b);
  Bitmap decoded;
  back.AssignTo(decoded);
  EXPECT_EQ(test::ToRgb(decoded).rgb,
            test::ToRgb(Indexed(16, 2, Bitmap::Format::k4Bit, [](int, int) { return 3; })).rgb);
}

TEST(MagImageTest, RoundTripsSixteenAnd256Colours) {
  std::mt19937 rng(11);
  std::vector<Bitmap> cases = {
      Indexed(64, 40, Bitmap::Format::k4Bit, [&](int x, int y) { return (x / 5 + y / 3) % 16; }),
      Indexed(64, 40, Bitmap::Format::k4Bit, [&](int, int) { return static_cast<int>(rng() % 16); }),
      Indexed(36, 50, Bitmap::Format::k8Bit, [&](int x, int y) { return (x * y) % 256; }),
      Indexed(36, 50, Bitmap::Format::k8Bit, [&](int, int) { return static_cast<int>(rng() % 3); }),
  };
  for (const Bitmap& b : cases) {
    MagImage mag;
    mag.Assign(b);
    const auto bytes = SaveMag(mag);
    const size_t h = 58;
    EXPECT_EQ(test::Le32(bytes, h + 12) % 2, 0u);
    EXPECT_EQ(test::Le32(bytes, h + 20) % 2, 0u) << "flag B has an even length";
    EXPECT_EQ(test::Le32(bytes, h + 28) % 2, 0u);
    EXPECT_EQ((test::Le32(bytes, h + 16) - test::Le32(bytes, h + 12)) % 2, 0u) << "flag A has an even length";
    MagImage back = Reload(bytes);
    EXPECT_EQ(back.Color256, b.Bits() == 8);
    Bitmap decoded;
    back.AssignTo(decoded);
    EXPECT_EQ(test::ToRgb(decoded).rgb, test::ToRgb(b).rgb);
  }
}

TEST(MagImageTest, NormalisingOtherFormats) {
  // 13 wide at 16 colours: written 16 wide, the added columns white.
  MagImage narrow;
  narrow.Assign(Indexed(13, 3, Bitmap::Format::k4Bit, [](int x, int) { return x % 4; }));
  MagImage back = Reload(SaveMag(narrow));
  EXPECT_EQ(back.Width(), 16);
  Bitmap decoded;
  back.AssignTo(decoded);
  EXPECT_EQ(decoded.GetPixel(15, 2), MakeColor(255, 255, 255));
  // 1 bit: 16 system colours; 24 bits: 256 halftone colours.
  Bitmap mono(8, 2, Bitmap::Format::k1Bit);
  mono.SetPalette({RgbQuad{0, 0, 0, 0}, RgbQuad{255, 255, 255, 0}});
  mono.SetIndex(1, 0, 1);
  MagImage m1;
  m1.Assign(mono);
  EXPECT_FALSE(m1.Color256);
  m1.AssignTo(decoded);
  EXPECT_EQ(decoded.Palette().size(), 16u);
  EXPECT_EQ(decoded.GetPixel(1, 0), MakeColor(255, 255, 255));
  Bitmap rgb(4, 1, Bitmap::Format::k24Bit);
  rgb.SetPixel(0, 0, MakeColor(51, 102, 153));
  MagImage m24;
  m24.Assign(rgb);
  EXPECT_TRUE(m24.Color256);
  m24.AssignTo(decoded);
  EXPECT_EQ(decoded.GetPixel(0, 0), MakeColor(51, 102, 153));
  EXPECT_EQ(decoded.Palette(), HalftonePalette256());
}

TEST(MagImageTest, CommentParityAndLeftX) {
  MagImage mag;
  mag.Assign(Indexed(16, 1, Bitmap::Format::k4Bit, [](int x, int) { return x; }));
  mag.Comment = "ab";
  auto bytes = SaveMag(mag);
  EXPECT_EQ(std::string(bytes.begin() + 32, bytes.begin() + 36), "ab \x1A");
  EXPECT_EQ(mag.Comment, "ab ");
  // Left x = 3 counts the width from x = 0.
  const size_t h = 36;
  bytes[h + 4] = 3;
  MagImage back = Reload(bytes);
  EXPECT_EQ(back.OriginX, 0);
  EXPECT_EQ(back.Width(), 16);
}

TEST(MagImageTest, DamagedFilesAreRefused) {
  auto error = [](const std::vector<uint8_t>& bytes) {
    try {
      Reload(bytes);
    } catch (const MagError& e) {
      return std::string(e.what());
    }
    return std::string("(loaded)");
  };
  EXPECT_EQ(error(Bytes("MAKI01  orvP and more bytes than thirty-two")), "MAG image error:is not MAG.");
  MagImage mag;
  mag.Assign(Indexed(32, 8, Bitmap::Format::k4Bit, [](int x, int y) { return (x + y) % 5; }));
  const auto good = SaveMag(mag);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    const std::string e = error(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    EXPECT_EQ(e.rfind("MAG image error:", 0), 0u) << cut << ": " << e;
  }
  // A copy from above the first line: the 16 x 2 file's first flag byte 0x01 made 0x41.
  MagImage one;
  one.Assign(Indexed(16, 2, Bitmap::Format::k4Bit, [](int, int) { return 3; }));
  auto bad = SaveMag(one);
  const size_t h = 58;
  ASSERT_EQ(bad[h + 82], 0x01);
  bad[h + 82] = 0x41;
  EXPECT_EQ(error(bad), "MAG image error:flag 4 at line 0, unit 0 copies from outside the image");
  auto far = good;
  far[h + 24] = 0xFF, far[h + 25] = 0xFF;
  EXPECT_EQ(error(far), "MAG image error:a data offset lies beyond the file");
  MagImage empty;
  try {
    std::ostringstream out;
    empty.SaveToStream(out);
    FAIL();
  } catch (const MagOperationError& e) {
    EXPECT_STREQ(e.what(), "MAG invaild operation:not have DIB");
  }
  EXPECT_THROW(mag.SetHeight(70000), MagOperationError);
}

DibImage Picture(int w, int h, const std::function<ColorValue(int, int)>& f) {
  Bitmap b(w, h, Bitmap::Format::k24Bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, f(x, y));
  DibImage d;
  d.Assign(b);
  return d;
}

std::vector<uint8_t> Ico(const DibImage& image, int size, bool trans) {
  std::ostringstream out;
  EncodeIco(image, size, trans, out);
  return Bytes(out.str());
}

TEST(IcoWriterTest, OpaqueLayout) {
  const DibImage img = Picture(100, 50, [](int x, int y) { return MakeColor(x * 2, y * 4, 80); });
  const auto ico = Ico(img, 32, false);
  ASSERT_EQ(ico.size(), 2238u);
  EXPECT_EQ(std::vector<uint8_t>(ico.begin(), ico.begin() + 22),
            (std::vector<uint8_t>{0, 0, 1, 0, 1, 0, 32, 32, 0, 0, 1, 0, 8, 0, 0xA8, 0x08, 0, 0, 22, 0, 0, 0}));
  EXPECT_EQ(test::Le32(ico, 22), 40u);
  EXPECT_EQ(test::Le32(ico, 22 + 8), 64u);
  EXPECT_EQ(test::Le32(ico, 22 + 32), 0u);
  for (size_t i = 2238 - 128; i < 2238; ++i) ASSERT_EQ(ico[i], 0);
  EXPECT_EQ(Ico(img, 256, false).size(), 74814u);
  EXPECT_EQ(Ico(img, 256, false)[6], 0);
  EXPECT_EQ(Ico(img, 16, false).size(), 22u + 40 + 1024 + 256 + 16 * 4);
}

TEST(IcoWriterTest, MaskFromTheBottomLeftColour) {
  // White background, a black square and a red square.
  const auto shape = [](int x, int y) {
    if (x >= 2 && x < 6 && y >= 2 && y < 6) return MakeColor(0, 0, 0);
    if (x >= 10 && y >= 10) return MakeColor(255, 0, 0);
    return MakeColor(255, 255, 255);
  };
  Bitmap b(16, 16, Bitmap::Format::k24Bit);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) b.SetPixel(x, y, shape(x, y));
  const MaskedIcon white = MakeMaskedIcon(b, 16);
  EXPECT_EQ(white.mask.GetIndex(0, 0), 1);
  EXPECT_EQ(white.mask.GetIndex(3, 3), 0) << "black stays opaque";
  EXPECT_EQ(white.color.GetPixel(3, 3), 0);
  EXPECT_EQ(white.mask.GetIndex(12, 12), 0);
  EXPECT_EQ(white.color.GetPixel(0, 0), 0) << "transparent pixels are black in the colour image";
  b.SetPixel(0, 15, 0);
  const MaskedIcon black = MakeMaskedIcon(b, 16);
  EXPECT_EQ(black.mask.GetIndex(3, 3), 1);
  EXPECT_EQ(black.mask.GetIndex(0, 0), 0);
  // The file: 22 + 1064 + 256 + 64 bytes, and ImageMagick sees the same mask.
  std::ostringstream out;
  WriteTransparentIconFile(white, out);
  const auto ico = Bytes(out.str());
  ASSERT_EQ(ico.size(), 22u + 1064 + 256 + 64);
  EXPECT_EQ(test::Le32(ico, 14), 1064u + 256 + 64);
  if (test::HaveTool("convert")) {
    test::TempDir dir;
    test::WriteFile(dir / "t.ico", ico);
    std::string alpha;
    test::Run("convert '" + (dir / "t.ico") +
                  "' -format '%[fx:p{0,0}.a] %[fx:p{3,3}.a] %[fx:p{12,12}.a] %[pixel:p{12,12}]' info:",
              &alpha);
    EXPECT_EQ(alpha.substr(0, 6), "0 1 1 ");
    EXPECT_NE(alpha.find("(255,0,0"), std::string::npos) << alpha;
  }
}

TEST(IcoWriterTest, OpaqueIconsOpenInImageMagick) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  const DibImage img = Picture(
      32, 32, [](int x, int y) { return (x / 8 + y / 8) % 2 ? MakeColor(250, 10, 10) : MakeColor(10, 10, 250); });
  test::WriteFile(dir / "a.ico", Ico(img, 32, false));
  const auto got = test::ReadWithMagick(dir / "a.ico");
  // What the icon must hold: the picture resampled to the icon size, then quantized.
  Bitmap source;
  img.AssignTo(source);
  DibImage quantized;
  quantized.Assign(ResampleBitmap(source, 32, 32));
  quantized.SetPixelFormat(PixelFormat::k8Bit);
  Bitmap expected;
  quantized.AssignTo(expected);
  EXPECT_EQ(got.rgb, test::ToRgb(expected).rgb);
}

}  // namespace
}  // namespace velmora

#include "formats/loader.h"

namespace velmora {
namespace {

TEST(MagImageTest, PhotoRoundTripsAtBothDepths) {
  Loader loader;
  Bitmap photo;
  loader.LoadFile(std::string(VELMORA_SOURCE_DIR) + "/samples/photo.jpg")->AssignTo(photo);
  DibImage image;
  image.Assign(photo);
  for (PixelFormat f : {PixelFormat::k4Bit, PixelFormat::k8Bit}) {
    DibImage reduced;
    reduced.Assign(image);
    reduced.SetPixelFormat(f);
    MagImage mag;
    mag.Assign(reduced);
    MagImage back = Reload(SaveMag(mag));
    Bitmap expected, got;
    reduced.AssignTo(expected);
    back.AssignTo(got);
    EXPECT_EQ(test::ToRgb(got).rgb, test::ToRgb(expected).rgb) << static_cast<int>(f);
  }
}

}  // namespace
}  // namespace velmora
