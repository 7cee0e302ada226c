// The MAG codec: exact bytes of a small file, round trips at 16 and 256
// colours, the normalising of other formats and damaged files.
#include "formats/mag/mag_image.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "formats/loader.h"
#include "image/palettes.h"
#include "test_util.h"

namespace velmora {
namespace {

std::vector<uint8_t> SaveMag(MagImage& mag) {
  std::ostringstream out;
  mag.SaveToStream(out);
  return test::Bytes(out.str());
}

// The palette of the tests: a spread of colours ending in white.
Bitmap Indexed(int w, int h, Bitmap::Format f, const std::function<int(int, int)>& index) {
  const size_t n = f == Bitmap::Format::k4Bit ? 16 : 256;
  std::vector<RgbQuad> pal;
  for (size_t i = 0; i + 1 < n; ++i) pal.push_back(RgbQuad{uint8_t(i * 3), uint8_t(255 - i), uint8_t(i * 7), 0});
  pal.push_back(RgbQuad{255, 255, 255, 0});
  return test::IndexedBitmap(w, h, f, pal, index);
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
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("(loaded)");
  };
  EXPECT_EQ(error(test::Bytes("MAKI01  orvP and more bytes than thirty-two")), "MAG image error:is not MAG.");
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
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "MAG invaild operation:not have DIB");
  }
  EXPECT_THROW(mag.SetHeight(70000), Error);
}

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

// The writer's file, coded from rows mapped and padded as they are read, is
// the one the image model writes: every depth, a width that needs padding and
// more rows than the writer keeps. The photo is inverted so that the white
// its padding takes is not the first entry of any table; once it ends in
// white columns (the padding is copied from them), once not (it is written).
TEST(MagImageTest, PictureWriterMatchesTheImage) {
  Loader loader;
  Bitmap photo;
  loader.LoadFile(std::string(VELMORA_SOURCE_DIR) + "/samples/photo.jpg")->AssignTo(photo);
  for (bool white_edge : {false, true}) {
    const DibImage cropped = test::DibOf(test::RgbBitmap(93, 40, [&](int x, int y) {
      return white_edge && x >= 88 ? MakeColor(255, 255, 255) : photo.GetPixel(x, y) ^ 0xFFFFFF;
    }));
    for (PixelFormat f : {PixelFormat::k1Bit, PixelFormat::k4Bit, PixelFormat::k8Bit, PixelFormat::k24Bit}) {
      DibImage reduced;
      reduced.Assign(cropped);
      if (f != PixelFormat::k24Bit) reduced.SetPixelFormat(f);
      MagImage mag;
      mag.Assign(reduced);
      std::ostringstream out;
      WriteMagPicture(reduced, out);
      EXPECT_EQ(test::Bytes(out.str()), SaveMag(mag)) << static_cast<int>(f) << " " << white_edge;
    }
  }
}

}  // namespace
}  // namespace velmora
