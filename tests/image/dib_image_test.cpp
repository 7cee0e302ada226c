#include "image/dib_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "base/error.h"
#include "image/pixel_memory.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Le16;
using test::Le32;

std::vector<uint8_t> Save(const DibImage& image) {
  std::ostringstream out;
  image.SaveToStream(out);
  const std::string s = out.str();
  return std::vector<uint8_t>(s.begin(), s.end());
}

DibImage Load(const std::vector<uint8_t>& bytes) {
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  DibImage image;
  image.LoadFromStream(in);
  return image;
}

using test::ErrorOf;

// A hand-made BMP file: 14-byte file header, a 40-byte header and the rest.
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t clr_used,
                             const std::vector<uint8_t>& table_and_masks, const std::vector<uint8_t>& pixels,
                             int32_t off_bits = -1) {
  std::vector<uint8_t> b(54);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  b[0] = 'B', b[1] = 'M';
  const uint32_t off = off_bits >= 0 ? static_cast<uint32_t>(off_bits) : 54 + table_and_masks.size();
  put32(2, off + pixels.size());
  put32(10, off);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(width));
  put32(22, static_cast<uint32_t>(height));
  b[26] = 1;
  b[28] = static_cast<uint8_t>(bits);
  put32(30, compression);
  put32(46, clr_used);
  b.insert(b.end(), table_and_masks.begin(), table_and_masks.end());
  b.resize(std::max<size_t>(off, b.size()), 0);
  b.insert(b.end(), pixels.begin(), pixels.end());
  return b;
}

TEST(DibImageTest, FreshImageSavesAs1082ByteBmpWithBlackTable) {
  DibImage image;
  EXPECT_EQ(image.Width(), 1);
  EXPECT_EQ(image.Height(), 1);
  EXPECT_EQ(image.BitCount(), 8);
  EXPECT_EQ(image.PaletteSize(), 256);
  EXPECT_EQ(image.BackgroundColor(), MakeColor(255, 255, 255));
  const auto bytes = Save(image);
  ASSERT_EQ(bytes.size(), 1082u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  EXPECT_EQ(Le32(bytes, 2), 1082u);
  EXPECT_EQ(Le32(bytes, 10), 1078u);
  EXPECT_EQ(Le32(bytes, 14), 40u);
  EXPECT_EQ(Le32(bytes, 38), 3780u);
  EXPECT_EQ(Le32(bytes, 46), 256u);
  for (size_t i = 54; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(DibImageTest, SizeAndBitCountSettersCheckAndBlank) {
  DibImage image;
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetWidth(0); }), "DibImage.SetWidth: Invalid Width");
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetHeight(0); }), "DibImage.SetWidth: Invalid Height");
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetBitCount(3); }), "DibImage.SetBitCount: Invalid BitCount");
  image.MutableBits()[0] = 7;
  image.SetWidth(1);  // unchanged width keeps the content
  EXPECT_EQ(image.Bits()[0], 7);
  image.SetWidth(5);
  EXPECT_EQ(image.Width(), 5);
  EXPECT_EQ(image.Bits()[0], 0);
  image.SetHeight(-3);
  EXPECT_EQ(image.Height(), 3);
  EXPECT_EQ(image.Header().biHeight, -3);
  image.SetBitCount(4);
  EXPECT_EQ(image.PaletteSize(), 16);
  image.SetBitCount(24);
  EXPECT_EQ(image.PaletteSize(), 0);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPaletteSize(257); }),
            "DibImage.SetPaletteSize: Palette Index is Out of Range 1");
  image.SetBitCount(8);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPaletteSize(0); }),
            "DibImage.SetPaletteSize: Palette Index is Out of Range 2");
  image.SetPaletteSize(3);
  EXPECT_EQ(image.Palette()->size(), 3u);
  std::vector<RgbQuad> none;
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPalette(&none); }), "DibImage.SetPalette: Invalid Palette");
  image.SetPalette(nullptr);
  EXPECT_EQ(image.PaletteSize(), 0);
  EXPECT_FALSE(image.Palette().has_value());
}

TEST(DibImageTest, PixelFormatTableRefusesBadHeaders) {
  BitmapInfoHeader h;
  h.biBitCount = 8;
  h.biCompression = 2;
  EXPECT_EQ(ErrorOf<Error>([&] { PixelFormatOf(h); }), "DibStorage.GetPixelFormat: Invalid DIB(8Bit)");
  h.biBitCount = 1;
  EXPECT_EQ(ErrorOf<Error>([&] { PixelFormatOf(h); }), "DibStorage.GetPixelFormat: Invalid DIB(1Bit)");
  h.biBitCount = 4;
  h.biCompression = 1;
  EXPECT_EQ(ErrorOf<Error>([&] { PixelFormatOf(h); }), "DibStorage.GetPixelFormat: Invalid DIB(4Bit)");
  h.biBitCount = 24;
  EXPECT_EQ(ErrorOf<Error>([&] { PixelFormatOf(h); }), "DibStorage.GetPixelFormat: Invalid DIB(24Bit)");
  h.biBitCount = 16;
  EXPECT_EQ(ErrorOf<Error>([&] { PixelFormatOf(h); }),
            "DibStorage.GetPixelFormat: Invalid DIB(Illegal BitCount)");
}

TEST(DibImageTest, EightBitMadeTwentyFourKeepsItsTable) {
  DibImage image;
  image.MutableBits();
  image.SetPixelFormat(PixelFormat::k24Bit);
  const auto bytes = Save(image);
  EXPECT_EQ(Le16(bytes, 28), 24);
  EXPECT_EQ(Le32(bytes, 46), 256u);
  EXPECT_EQ(Le32(bytes, 10), 1078u);
}

TEST(DibImageTest, AssignSharesStorageUntilFirstChange) {
  Bitmap b = test::RgbBitmap(4, 3, [](int x, int y) { return MakeColor(x * 10, y * 20, 5); });
  DibImage a;
  a.Assign(b);
  DibImage c;
  c.Assign(a);
  EXPECT_TRUE(c.SharesStorageWith(a));
  EXPECT_EQ(a.RefCount(), 2);
  c.MutableBits()[0] = 99;
  EXPECT_FALSE(c.SharesStorageWith(a));
  EXPECT_EQ(a.RefCount(), 1);
  EXPECT_NE(a.Bits()[0], 99);
}

TEST(DibImageTest, BitmapRoundTripKeepsPixelsUpright) {
  Bitmap b = test::RgbBitmap(5, 4, [](int x, int y) { return MakeColor(x * 40, y * 60, (x + y) * 10); });
  DibImage image;
  image.Assign(b);
  EXPECT_GT(image.Header().biHeight, 0);
  // Bottom-up storage: the first stored row is the bitmap's last.
  EXPECT_EQ(image.Bits()[2], 0);
  EXPECT_EQ(image.Bits()[1], 180);
  Bitmap back;
  image.AssignTo(back);
  EXPECT_EQ(test::ToRgb(back).rgb, test::ToRgb(b).rgb);
}

TEST(DibImageTest, IndexedCaptureGetsFullTable) {
  Bitmap b(3, 2, Bitmap::Format::k4Bit);
  b.SetPalette({RgbQuad{0, 0, 255, 0}, RgbQuad{255, 0, 0, 0}});
  b.SetIndex(1, 0, 1);
  DibImage image;
  image.Assign(b);
  EXPECT_EQ(image.PaletteSize(), 16);
  EXPECT_EQ(image.BitCount(), 4);
  image.SetPixelFormat(PixelFormat::k24Bit);
  Bitmap back;
  image.AssignTo(back);
  EXPECT_EQ(back.GetPixel(1, 0), MakeColor(0, 0, 255));
  EXPECT_EQ(back.GetPixel(0, 0), MakeColor(255, 0, 0));
}

TEST(DibImageTest, EveryPixelFormatRoundTripsThroughStream) {
  Bitmap b = test::RgbBitmap(
      13, 7, [](int x, int y) { return (x + y) % 3 == 0 ? MakeColor(255, 255, 255) : MakeColor(x * 18, y * 30, 77); });
  for (PixelFormat f : {PixelFormat::k1Bit, PixelFormat::k4Bit, PixelFormat::k4BitRLE, PixelFormat::k8Bit,
                        PixelFormat::k8BitRLE, PixelFormat::k24Bit}) {
    DibImage image;
    image.Assign(b);
    image.SetPixelFormat(f);
    EXPECT_EQ(image.GetPixelFormat(), f);
    Bitmap expected;
    image.AssignTo(expected);
    DibImage loaded = Load(Save(image));
    EXPECT_EQ(loaded.GetPixelFormat(), f);
    Bitmap got;
    loaded.AssignTo(got);
    EXPECT_EQ(test::ToRgb(got).rgb, test::ToRgb(expected).rgb) << static_cast<int>(f);
  }
}

TEST(DibImageTest, MonochromeKeepsBackgroundAsWhite) {
  Bitmap b = test::RgbBitmap(3, 1, [](int x, int) { return x == 1 ? MakeColor(255, 255, 255) : MakeColor(200, 0, 0); });
  DibImage image;
  image.Assign(b);
  image.SetPixelFormat(PixelFormat::k1Bit);
  EXPECT_EQ(image.PaletteSize(), 2);
  Bitmap back;
  image.AssignTo(back);
  EXPECT_EQ(back.GetPixel(0, 0), MakeColor(0, 0, 0));
  EXPECT_EQ(back.GetPixel(1, 0), MakeColor(255, 255, 255));
}

TEST(DibImageTest, ProgressStagesForQuantizing) {
  Bitmap b = test::RgbBitmap(8, 8, [](int x, int y) { return MakeColor(x * 30, y * 30, 0); });
  DibImage image;
  image.Assign(b);
  std::vector<std::tuple<ProgressStage, int, std::string>> seen;
  image.SetOnProgress([&](ProgressStage s, int p, const std::string& m) { seen.emplace_back(s, p, m); });
  image.SetPixelFormat(PixelFormat::k8Bit);
  ASSERT_EQ(seen.size(), 257u);  // begin, 255 running steps, end
  EXPECT_EQ(std::get<0>(seen.front()), ProgressStage::kBegin);
  EXPECT_EQ(std::get<2>(seen.front()), "PixelFormat 24Bit -> 8Bit");
  EXPECT_EQ(std::get<1>(seen[1]), 0);
  EXPECT_EQ(std::get<1>(seen[128]), 50);
  EXPECT_EQ(std::get<0>(seen.back()), ProgressStage::kEnd);
  EXPECT_EQ(std::get<1>(seen.back()), 100);
  seen.clear();
  image.SetPixelFormat(PixelFormat::k4Bit);
  ASSERT_EQ(seen.size(), 17u);
  EXPECT_EQ(std::get<2>(seen.front()), "PixelFormat 8Bit -> 4Bit");
}

TEST(DibImageTest, LoadsSixteenBitWithoutBitFields) {
  // 0x7C00 is pure red; 16 << 10 is the 5-bit value 16.
  const std::vector<uint8_t> pixels = {0x00, 0x7C, 0x00, 0x40};
  DibImage image = Load(MakeBmp(2, 1, 16, 0, 0, {}, pixels));
  EXPECT_EQ(image.BitCount(), 24);
  EXPECT_EQ(image.PaletteSize(), 0);
  EXPECT_EQ(image.Bits()[2], 255);
  EXPECT_EQ(image.Bits()[1], 0);
  EXPECT_EQ(image.Bits()[0], 0);
  EXPECT_EQ(image.Bits()[5], 131);
}

TEST(DibImageTest, LoadsBitFieldsAndTopDownThirtyTwoBit) {
  std::vector<uint8_t> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};  // red, green, blue
  std::vector<uint8_t> pixels = {// top row: pure red, pure blue (bytes little-endian of 0xRR GG BB 00 layout)
                                 0, 0, 0xFF, 0, 0xFF, 0, 0, 0,
                                 // bottom row: green, white
                                 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0};
  DibImage image = Load(MakeBmp(2, -2, 32, 3, 0, masks, pixels));
  EXPECT_EQ(image.Height(), 2);
  Bitmap b;
  image.AssignTo(b);
  EXPECT_EQ(b.GetPixel(0, 0), MakeColor(255, 0, 0));
  EXPECT_EQ(b.GetPixel(1, 0), MakeColor(0, 0, 255));
  EXPECT_EQ(b.GetPixel(0, 1), MakeColor(0, 255, 0));
  EXPECT_EQ(b.GetPixel(1, 1), MakeColor(255, 255, 255));
  std::vector<uint8_t> zero_mask(12, 0);
  EXPECT_EQ(ErrorOf<Error>([&] {
              Load(MakeBmp(1, 1, 32, 3, 0, zero_mask, {0, 0, 0, 0}));
            }),
            "DibStorage.LoadFromStream: Invalid Masks");
}

TEST(DibImageTest, OversizedColourTableIsCappedAndCountedInOffset) {
  std::vector<uint8_t> table(300 * 4, 0);
  table[4 * 1 + 2] = 200;  // entry 1 red
  DibImage image = Load(MakeBmp(1, 1, 8, 0, 300, table, {1, 0, 0, 0}));
  EXPECT_EQ(image.PaletteSize(), 256);
  EXPECT_EQ(image.Table()[1].red, 200);
  // bfOffBits that ignores the 44 skipped entries is too small.
  EXPECT_EQ(ErrorOf<Error>([&] {
              Load(MakeBmp(1, 1, 8, 0, 300, table, {1, 0, 0, 0}, 54 + 1024));
            }),
            "DibStorage.LoadFromFile: bfOffBits is too small");
}

TEST(DibImageTest, TopDownTwentyFourBitKeepsRowOrder) {
  std::vector<uint8_t> pixels = {0,   0, 255, 0,   // top: red, padded
                                 255, 0, 0,   0};  // bottom: blue
  DibImage image = Load(MakeBmp(1, -2, 24, 0, 0, {}, pixels));
  EXPECT_EQ(image.Height(), 2);
  EXPECT_EQ(image.Header().biHeight, -2);
  Bitmap b;
  image.AssignTo(b);
  EXPECT_EQ(b.GetPixel(0, 0), MakeColor(255, 0, 0));
  EXPECT_EQ(b.GetPixel(0, 1), MakeColor(0, 0, 255));
}

TEST(DibImageTest, PixelsAndTopRowsReadInPlaceMatchTheBitmapOfEveryLayout) {
  for (const auto& layout : test::EveryDibLayout(21, 9)) {
    const std::string& name = layout.first;
    const DibImage& image = layout.second;
    Bitmap b;
    image.AssignTo(b);
    ASSERT_EQ(b.Height(), 9) << name;
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 21; ++x) ASSERT_EQ(image.GetPixel(x, y), b.GetPixel(x, y)) << name << " at " << x << "," << y;
    const PixelFormat f = image.GetPixelFormat();
    if (f == PixelFormat::k4BitRLE || f == PixelFormat::k8BitRLE) continue;
    const size_t used = (21 * static_cast<size_t>(image.BitCount()) + 7) / 8;
    for (int y = 0; y < 9; ++y)
      EXPECT_EQ(std::vector<uint8_t>(image.TopRow(y), image.TopRow(y) + used),
                std::vector<uint8_t>(b.Row(y), b.Row(y) + used))
          << name << " row " << y;
  }
}

// A decoder may fill a bitmap bottom row first (the DIB's order); rows are
// still counted from the top, copies keep the order, and the capture, moved
// or copied, holds the very picture a top-first bitmap gives.
TEST(DibImageTest, BottomFirstBitmapsCaptureAsTopFirstOnes) {
  for (auto format : {Bitmap::Format::k8Bit, Bitmap::Format::k24Bit}) {
    Bitmap top(13, 6, format), bottom(13, 6, format, Bitmap::RowOrder::kBottomFirst);
    EXPECT_EQ(bottom.Order(), Bitmap::RowOrder::kBottomFirst);
    EXPECT_EQ(bottom.Row(0), bottom.Data() + bottom.Stride() * 5);
    for (int y = 0; y < 6; ++y)
      for (int64_t i = 0; i < top.Stride(); ++i)
        top.Row(y)[i] = bottom.Row(y)[i] = static_cast<uint8_t>(y * 31 + i * 7);
    if (format == Bitmap::Format::k8Bit) {
      top.SetPalette(GreyRamp(256));
      bottom.SetPalette(GreyRamp(256));
    }
    const Bitmap copy = bottom;
    EXPECT_EQ(copy.Order(), Bitmap::RowOrder::kBottomFirst);
    EXPECT_EQ(copy.GetPixel(3, 1), top.GetPixel(3, 1));
    DibImage from_top, from_bottom, from_copy;
    from_top.Assign(std::move(top));
    from_bottom.Assign(std::move(bottom));
    from_copy.Assign(copy);
    EXPECT_EQ(Save(from_bottom), Save(from_top)) << static_cast<int>(format);
    EXPECT_EQ(Save(from_copy), Save(from_top)) << static_cast<int>(format);
  }
}

TEST(DibImageTest, LoadFailuresNameTheFault) {
  auto good = MakeBmp(1, 1, 24, 0, 0, {}, {1, 2, 3, 0});
  auto bad_type = good;
  bad_type[0] = 'X';
  EXPECT_EQ(ErrorOf<Error>([&] { Load(bad_type); }), "DibStorage.LoadFromFile: File type is invalid");
  auto bad_bits = MakeBmp(1, 1, 7, 0, 0, {}, {0, 0, 0, 0});
  EXPECT_EQ(ErrorOf<Error>([&] { Load(bad_bits); }), "DibStorage.LoadFromStream: Invalid BitCout");
  auto bad_size = good;
  bad_size[14] = 41;
  EXPECT_EQ(ErrorOf<Error>([&] { Load(bad_size); }), "DibStorage.LoadFromStream: Invalid Bitmap Header Size");
  auto bad_width = MakeBmp(0, 1, 24, 0, 0, {}, {0, 0, 0, 0});
  EXPECT_EQ(ErrorOf<Error>([&] { Load(bad_width); }), "DibStorage.LoadFromStream: Invalid Width or Height");
  auto small_off = MakeBmp(1, 1, 8, 0, 0, std::vector<uint8_t>(1024), {0, 0, 0, 0}, 60);
  EXPECT_EQ(ErrorOf<Error>([&] { Load(small_off); }), "DibStorage.LoadFromFile: bfOffBits is too small");
  auto huge = MakeBmp(100000, 100000, 24, 0, 0, {}, {});
  try {
    Load(huge);
    ADD_FAILURE() << "a 100000 x 100000 header was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kTooLarge) << e.what();
  }
  // Truncated at every length: an error, never a crash; the image keeps its content.
  for (size_t n = 0; n < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + n);
    DibImage image;
    EXPECT_THROW(image.LoadFromStream(*std::make_unique<std::istringstream>(std::string(cut.begin(), cut.end()))), Error);
    EXPECT_EQ(image.Width(), 1);
    EXPECT_EQ(image.BitCount(), 8);
  }
}

TEST(DibImageTest, CoreHeaderIsWidened) {
  std::vector<uint8_t> b = {'B',  'M', 0, 0,   0,   0,   0, 0, 0, 0, 32, 0, 0, 0,  // file header, off 32
                            12,   0,   0, 0,   2,   0,   1, 0, 1, 0, 1,  0,        // 2 x 1, 1 bit
                            0,    0,   0, 255, 255, 255,                           // black, white
                            0x40, 0,   0, 0};
  b[2] = static_cast<uint8_t>(b.size());
  DibImage image = Load(b);
  EXPECT_EQ(image.Header().biSize, 40u);
  EXPECT_EQ(image.PaletteSize(), 2);
  EXPECT_EQ(image.Header().biXPelsPerMeter, 3780);
  Bitmap bm;
  image.AssignTo(bm);
  EXPECT_EQ(bm.GetPixel(0, 0), MakeColor(0, 0, 0));
  EXPECT_EQ(bm.GetPixel(1, 0), MakeColor(255, 255, 255));
}

TEST(DibImageTest, RleDecodingChecksEveryCommand) {
  std::vector<uint8_t> table(4 * 256, 0);
  // A run of 3 pixels in a 2-pixel row.
  auto past_row = MakeBmp(2, 1, 8, 1, 256, table, {3, 1, 0, 1});
  DibImage image = Load(past_row);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPixelFormat(PixelFormat::k8Bit); }),
            "Convert8BitRLETo8BitRGB: Bad RLE Data 4");
  auto literal_past = MakeBmp(2, 1, 8, 1, 256, table, {0, 3, 1, 2, 3, 0, 0, 1});
  image = Load(literal_past);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPixelFormat(PixelFormat::k8Bit); }),
            "Convert8BitRLETo8BitRGB: Bad RLE Data 3");
  auto delta_past = MakeBmp(2, 1, 8, 1, 256, table, {0, 2, 5, 0, 0, 1});
  image = Load(delta_past);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPixelFormat(PixelFormat::k8Bit); }),
            "Convert8BitRLETo8BitRGB: Bad RLE Data 2");
  auto lines_past = MakeBmp(2, 1, 8, 1, 256, table, {0, 0, 0, 0, 0, 1});
  image = Load(lines_past);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPixelFormat(PixelFormat::k8Bit); }),
            "Convert8BitRLETo8BitRGB: Bad RLE Data 1");
  auto cut = MakeBmp(2, 1, 8, 1, 256, table, {2, 1, 0});
  image = Load(cut);
  EXPECT_THROW(image.SetPixelFormat(PixelFormat::k8Bit), Error);
  std::vector<uint8_t> table16(4 * 16, 0);
  auto rle4 = MakeBmp(2, 1, 4, 2, 16, table16, {3, 0x12, 0, 1});
  image = Load(rle4);
  EXPECT_EQ(ErrorOf<Error>([&] { image.SetPixelFormat(PixelFormat::k4Bit); }),
            "Convert4BitRLETo4BitRGB: Bad RLE Data 8");
  // A good RLE4 image with a delta.
  auto good = MakeBmp(4, 2, 4, 2, 16, table16, {4, 0x12, 0, 0, 0, 2, 1, 0, 0, 3, 0x56, 0x70, 0, 1});
  image = Load(good);
  image.SetPixelFormat(PixelFormat::k4Bit);
  EXPECT_EQ(image.Bits()[0], 0x12);
  EXPECT_EQ(image.Bits()[1], 0x12);
  EXPECT_EQ(image.Bits()[4], 0x05);
  EXPECT_EQ(image.Bits()[5], 0x67);
  EXPECT_EQ(ErrorOf<Error>([&] { Convert8BitRLETo8BitRGB(DibParts{}, false); }),
            "Convert8BitRLETo8BitRGB: Invalid Bitcount & Compression Combination");
}

TEST(DibImageTest, ClipboardFormatRoundTripAndBounds) {
  Bitmap b = test::RgbBitmap(3, 2, [](int x, int y) { return MakeColor(x * 80, y * 100, 9); });
  DibImage image;
  image.Assign(b);
  image.SetPixelFormat(PixelFormat::k8Bit);
  const auto block = image.SaveToClipboardFormat();
  EXPECT_EQ(block.size(), 40u + 4u * image.PaletteSize() + image.ImageSize());
  DibImage copy;
  copy.LoadFromClipboardFormat(8, block.data(), block.size());
  Bitmap x, y;
  image.AssignTo(x);
  copy.AssignTo(y);
  EXPECT_EQ(test::ToRgb(x).rgb, test::ToRgb(y).rgb);
  EXPECT_EQ(ErrorOf<Error>([&] { copy.LoadFromClipboardFormat(2, block.data(), block.size()); }),
            "DibImage.LoadFromClipboardFormat: Invalid Clipboard Format or No Data");
  std::vector<uint8_t> short_block(block.begin(), block.end() - 1);
  EXPECT_THROW(copy.LoadFromClipboardFormat(8, short_block.data(), short_block.size()), Error);
  auto bad = block;
  bad[0] = 20;
  EXPECT_EQ(ErrorOf<Error>([&] { copy.LoadFromClipboardFormat(8, bad.data(), bad.size()); }),
            "DibImage.LoadFromClipboardFormat: Invalid Clipboard Data");
}

TEST(DibImageTest, OurBmpsOpenInImageMagick) {
  if (!test::HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  test::TempDir dir;
  Bitmap b = test::RgbBitmap(17, 9, [](int x, int y) {
    return (x / 4 + y / 3) % 2 ? MakeColor(255, 255, 255) : MakeColor(x * 15, 0, y * 28);
  });
  for (PixelFormat f : {PixelFormat::k1Bit, PixelFormat::k4Bit, PixelFormat::k4BitRLE, PixelFormat::k8Bit,
                        PixelFormat::k8BitRLE, PixelFormat::k24Bit}) {
    DibImage image;
    image.Assign(b);
    image.SetPixelFormat(f);
    const std::string path = dir / ("f" + std::to_string(static_cast<int>(f)) + ".bmp");
    image.SaveToFile(path);
    Bitmap expected;
    image.AssignTo(expected);
    EXPECT_EQ(test::ReadWithMagick(path).rgb, test::ToRgb(expected).rgb) << static_cast<int>(f);
  }
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// A picture's mapping taken back for the next picture comes zero-filled,
// as a new one does, whatever the last picture left in it; a size that fits
// no kept mapping gets a new one.
TEST(PixelMemoryTest, AKeptMappingComesBackCleared) {
  constexpr size_t kSize = size_t{6} << 20;
  ReleaseKeptPixelMemory();  // whatever earlier tests left
  const uint8_t* first = nullptr;
  {
    PixelMemory used(kSize, false);
    ASSERT_TRUE(used.Mapped());
    std::memset(used.Data(), 0xA5, kSize);
    first = used.Data();
  }
  PixelMemory again(kSize - 4096, false);
  EXPECT_EQ(again.Data(), first) << "the mapping was not kept";
  EXPECT_EQ(again.Size(), kSize - 4096);
  const std::vector<uint8_t> zeros(again.Size(), 0);
  EXPECT_EQ(0, std::memcmp(again.Data(), zeros.data(), zeros.size()));
  PixelMemory bigger(kSize * 2, false);
  EXPECT_NE(bigger.Data(), first);
  EXPECT_EQ(0, std::memcmp(bigger.Data(), zeros.data(), zeros.size()));
  // A bitmap its maker fills takes a mapping as the last picture left it,
  // all but the padding at its rows' ends, which a BMP would carry.
  std::memset(again.Data(), 0xA5, again.Size());
  { PixelMemory gone = std::move(again); }
  const Bitmap filled(1001, 2094, Bitmap::Format::k24Bit, Bitmap::RowOrder::kBottomFirst, Bitmap::Fill::kWrittenByCaller);
  EXPECT_EQ(filled.Data(), first);
  EXPECT_EQ(filled.Row(5)[0], 0xA5);
  for (int y = 0; y < filled.Height(); ++y) ASSERT_EQ(filled.Row(y)[3003], 0) << y;
  ReleaseKeptPixelMemory();
}

}  // namespace
}  // namespace velmora
