// TIFF output: every depth reads back identically in ImageMagick, LZW.
#include "formats/tiff/tiff_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "formats/loader.h"

#include "test_util.h"

namespace velmora {
namespace {

Bitmap Smooth(int w, int h) {
  return test::RgbBitmap(w, h, [&](int x, int y) { return MakeColor(x * 255 / w, y * 255 / h, 128); });
}

Bitmap Indexed(int w, int h, Bitmap::Format f) {
  std::vector<RgbQuad> pal(size_t{1} << static_cast<int>(f));
  for (size_t i = 0; i < pal.size(); ++i) pal[i] = RgbQuad{uint8_t(i * 9), uint8_t(i * 5), uint8_t(255 - i), 0};
  std::mt19937 rng(7);
  return test::IndexedBitmap(w, h, f, pal, [&](int, int) { return static_cast<int>(rng() % pal.size()); });
}

TEST(TiffEncoderTest, EveryDepthReadsBackIdentically) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  std::vector<Bitmap> cases = {Indexed(19, 7, Bitmap::Format::k1Bit), Indexed(19, 7, Bitmap::Format::k4Bit),
                               Indexed(19, 7, Bitmap::Format::k8Bit), Smooth(19, 7)};
  for (const Bitmap& b : cases) {
    const std::string path = dir / ("t" + std::to_string(b.Bits()) + ".tif");
    test::WriteWith(path, [&](std::ostream& out) { EncodeTiff(b, out); });
    EXPECT_EQ(test::ReadWithMagick(path).rgb, test::ToRgb(b).rgb) << b.Bits();
    std::string info;
    test::Run("identify -format '%[tiff:photometric] %C' '" + path + "'", &info);
    EXPECT_NE(info.find("LZW"), std::string::npos) << info;
  }
}

std::string Tiff(const std::function<void(std::ostream&)>& encode) {
  std::ostringstream out;
  encode(out);
  return out.str();
}

// The pipeline hands the writer its DIB, read in place, bottom row first or
// not: the file must be the one made from the same picture as a bitmap.
TEST(TiffEncoderTest, ADibGivesTheBytesOfItsBitmapInEveryLayout) {
  for (const auto& layout : test::EveryDibLayout(37, 11)) {
    const std::string& name = layout.first;
    const DibImage& image = layout.second;
    Bitmap b;
    image.AssignTo(b);
    EXPECT_EQ(Tiff([&](std::ostream& o) { EncodeTiff(image, o); }), Tiff([&](std::ostream& o) { EncodeTiff(b, o); }))
        << name;
  }
}

// Noise makes LZW output larger than the room reserved for the file, which
// then moves to the heap mid-write; libtiff also leaves a gap before the
// directory that must read as zeros.
TEST(TiffEncoderTest, AFileOutgrowingItsReservedRoomStaysWhole) {
  const Bitmap noise = test::NoiseBitmap(301, 203, Bitmap::Format::k24Bit, 11);
  const std::string bytes = Tiff([&](std::ostream& o) { EncodeTiff(noise, o); });
  EXPECT_GT(bytes.size(), size_t{301} * 3 * 203 * 9 / 8 + 4096);
  Loader loader;
  auto graphic = loader.Load("noise.tif", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  Bitmap back;
  graphic->MoveTo(back);
  EXPECT_EQ(test::ToRgb(back).rgb, test::ToRgb(noise).rgb);
  // Made twice on one thread (the second time on the scratch memory the
  // first left behind), the file is the same.
  EXPECT_EQ(Tiff([&](std::ostream& o) { EncodeTiff(noise, o); }), bytes);
}

}  // namespace
}  // namespace velmora
