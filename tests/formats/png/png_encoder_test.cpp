#include "formats/png/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <sstream>

#include "formats/deflate.h"
#include "test_util.h"

namespace velmora {
namespace {

struct ChunkView {
  std::string type;
  std::vector<uint8_t> data;
};

std::vector<ChunkView> Chunks(const std::vector<uint8_t>& png) {
  std::vector<ChunkView> out;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t len = test::Be32(png, at);
    ChunkView c{std::string(png.begin() + at + 4, png.begin() + at + 8),
                std::vector<uint8_t>(png.begin() + at + 8, png.begin() + at + 8 + len)};
    uLong crc = crc32(0, png.data() + at + 4, 4 + len);
    EXPECT_EQ(crc, test::Be32(png, at + 8 + len)) << c.type;
    out.push_back(c);
    at += 12 + len;
  }
  EXPECT_EQ(at, png.size());
  return out;
}

std::vector<uint8_t> Encode(const PngEncoder& e) {
  std::ostringstream out;
  e.SaveToStream(out);
  const std::string s = out.str();
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<std::string> Types(const std::vector<ChunkView>& chunks) {
  std::vector<std::string> t;
  for (const auto& c : chunks) t.push_back(c.type);
  return t;
}

TEST(PngEncoderTest, ChunkSequenceAndFixedBytes) {
  Bitmap b(3, 2, Bitmap::Format::k24Bit);
  b.SetPixel(0, 0, MakeColor(10, 20, 30));
  PngEncoder e;
  e.Assign(b);
  std::tm t{};
  t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 7, t.tm_hour = 21, t.tm_min = 5, t.tm_sec = 9;
  e.Time = t;
  e.Comment = "hi";
  const auto png = Encode(e);
  EXPECT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 8),
            (std::vector<uint8_t>{137, 80, 78, 71, 13, 10, 26, 10}));
  const auto chunks = Chunks(png);
  EXPECT_EQ(Types(chunks), (std::vector<std::string>{"IHDR", "tIME", "tEXt", "tEXt", "tpNG", "gAMA", "IDAT", "IEND"}));
  EXPECT_EQ(chunks[0].data, (std::vector<uint8_t>{0, 0, 0, 3, 0, 0, 0, 2, 8, 2, 0, 0, 0}));
  EXPECT_EQ(chunks[1].data, (std::vector<uint8_t>{0x07, 0xEA, 12, 7, 21, 5, 9}));
  EXPECT_EQ(std::string(chunks[2].data.begin(), chunks[2].data.end()), std::string("Comment\0hi", 10));
  EXPECT_EQ(std::string(chunks[3].data.begin(), chunks[3].data.end()), std::string("Software\0RAVEZA ver 3.4", 23));
  EXPECT_EQ(chunks[4].data, (std::vector<uint8_t>{'Z', 'O', 'R', '3', 0, 0, 0, 0}));
  EXPECT_EQ(chunks[5].data, (std::vector<uint8_t>{0, 0, 0xB1, 0x8F}));  // 45455
  EXPECT_TRUE(chunks.back().data.empty());
  // Filter byte 0 on every row and RGB order.
  std::vector<uint8_t> raw(2 * 10);
  uLongf size = raw.size();
  ASSERT_EQ(uncompress(raw.data(), &size, chunks[6].data.data(), chunks[6].data.size()), Z_OK);
  ASSERT_EQ(size, 20u);
  EXPECT_EQ(raw[0], 0);
  EXPECT_EQ(raw[10], 0);
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 1, raw.begin() + 4), (std::vector<uint8_t>{10, 20, 30}));
}

// The pipeline hands the encoder its DIB, read in place, bottom row first or
// not: the file must be the one made from the same picture as a bitmap, with
// transparency too.
TEST(PngEncoderTest, ADibGivesTheBytesOfItsBitmapInEveryLayout) {
  std::tm when{};
  when.tm_year = 126, when.tm_mon = 11, when.tm_mday = 8;
  for (const auto& layout : test::EveryDibLayout(37, 11)) {
    const std::string& name = layout.first;
    const DibImage& image = layout.second;
    Bitmap b;
    image.AssignTo(b);
    auto encode = [&](auto& source) {
      PngEncoder e;
      e.Assign(source);
      e.Time = when;
      e.SetTransparentColor(image.GetPixel(0, 0));
      std::ostringstream out;
      e.SaveToStream(out);
      return out.str();
    };
    EXPECT_EQ(encode(image), encode(b)) << name;
  }
}

TEST(PngEncoderTest, InvalidTimeIsSkipped) {
  PngEncoder e;
  e.Assign(Bitmap(1, 1, Bitmap::Format::k24Bit));
  std::tm t{};
  t.tm_year = 2000 - 1900, t.tm_mon = 0, t.tm_mday = 0;  // day 0
  e.Time = t;
  EXPECT_EQ(Types(Chunks(Encode(e)))[1], "tEXt");
}

TEST(PngEncoderTest, PaletteTransparency) {
  Bitmap b(2, 1, Bitmap::Format::k8Bit);
  std::vector<RgbQuad> pal(10);
  for (int i = 0; i < 10; ++i) pal[i] = RgbQuad{uint8_t(i), uint8_t(i), uint8_t(i * 20), 0};
  b.SetPalette(pal);
  b.SetIndex(0, 0, 7);
  PngEncoder e;
  e.Assign(b);
  e.SetTransparent(true);
  e.SetTransparentColor(b.GetPixel(0, 0));
  auto chunks = Chunks(Encode(e));
  ASSERT_EQ(chunks[5].type, "PLTE");
  EXPECT_EQ(chunks[5].data.size(), 30u);
  ASSERT_EQ(chunks[6].type, "tRNS");
  EXPECT_EQ(chunks[6].data, (std::vector<uint8_t>{255, 255, 255, 255, 255, 255, 255, 0}));
  // Nearest entry by channel sum; an index flag picks the entry directly.
  e.SetTransparentColor(MakeColor(61, 2, 3));  // entry 3 is (60, 3, 3)
  EXPECT_EQ(Chunks(Encode(e))[6].data.size(), 4u);
  e.SetTransparentColor(kPaletteIndexFlag | 1);
  EXPECT_EQ(Chunks(Encode(e))[6].data, (std::vector<uint8_t>{255, 0}));
  e.SetTransparentColor(kNoColor);
  EXPECT_FALSE(e.Transparent());
  EXPECT_EQ(Types(Chunks(Encode(e)))[6], "IDAT");
}

TEST(PngEncoderTest, TrueColourTransparency) {
  PngEncoder e;
  e.Assign(Bitmap(1, 1, Bitmap::Format::k24Bit));
  e.SetTransparentColor(MakeColor(10, 20, 30));
  const auto chunks = Chunks(Encode(e));
  ASSERT_EQ(chunks[5].type, "tRNS");
  EXPECT_EQ(chunks[5].data, (std::vector<uint8_t>{0, 10, 0, 20, 0, 30}));
}

TEST(PngEncoderTest, IdatChunksOfExactlyIdatSize) {
  PngEncoder e;
  e.Assign(test::NoiseBitmap(300, 300, Bitmap::Format::k24Bit, 1));
  e.CompressionLevel = 9;
  const auto chunks = Chunks(Encode(e));
  size_t total = 0;
  std::vector<size_t> sizes;
  for (const auto& c : chunks)
    if (c.type == "IDAT") sizes.push_back(c.data.size()), total += c.data.size();
  ASSERT_GE(sizes.size(), 3u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 32768u);
  EXPECT_EQ(sizes.back(), total - 32768 * (sizes.size() - 1));
  EXPECT_GT(sizes.back(), 0u);
  try {
    e.SetIdatSize(255);
    FAIL();
  } catch (const Error& error) {
    EXPECT_STREQ(error.what(), "Write PNG Param: Err IDAT Size(min:256  max:100000)");
  }
  EXPECT_THROW(e.SetIdatSize(100001), Error);
  e.SetIdatSize(256);
  for (const auto& c : Chunks(Encode(e)))
    if (c.type == "IDAT") {
      EXPECT_LE(c.data.size(), 256u);
    }
}

// Large pictures are compressed by libdeflate, not zlib: the stream's bytes
// may differ, but not what it decompresses to, its header's level bits, the
// IDAT chunking, or (by more than 3 %) its size.
TEST(PngEncoderTest, LargeStreamsKeepTheirContentLevelBitsChunkingAndSize) {
  // Noise beside flat areas: both kinds of data a photo and a drawing have.
  Bitmap picture = test::NoiseBitmap(420, 300, Bitmap::Format::k24Bit, 7);
  for (int y = 0; y < 300; ++y)
    for (int x = 0; x < 210; ++x) picture.SetPixel(x, y, MakeColor(static_cast<uint8_t>(y / 30 * 20), 90, 200));
  for (int level : {1, 5, 6, 9}) {
    PngEncoder e;
    e.Assign(picture);
    e.CompressionLevel = level;
    std::vector<uint8_t> stream;
    std::vector<size_t> sizes;
    for (const auto& c : Chunks(Encode(e)))
      if (c.type == "IDAT") stream.insert(stream.end(), c.data.begin(), c.data.end()), sizes.push_back(c.data.size());
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 32768u) << level;
    // What zlib makes of the same rows.
    std::vector<uint8_t> rows;
    for (int y = 0; y < 300; ++y) {
      rows.push_back(0);
      for (int x = 0; x < 420; ++x) {
        const ColorValue c = picture.GetPixel(x, y);
        rows.push_back(ColorRed(c)), rows.push_back(ColorGreen(c)), rows.push_back(ColorBlue(c));
      }
    }
    ASSERT_GE(rows.size(), size_t{256} << 10) << "large enough for libdeflate";
    uLongf zlib_size = compressBound(static_cast<uLong>(rows.size()));
    std::vector<uint8_t> zlib_stream(zlib_size);
    ASSERT_EQ(compress2(zlib_stream.data(), &zlib_size, rows.data(), static_cast<uLong>(rows.size()), level), Z_OK);
    EXPECT_EQ(stream[0], zlib_stream[0]) << level;
    EXPECT_EQ(stream[1] & 0xC0, zlib_stream[1] & 0xC0) << "the level bits, level " << level;
    EXPECT_LE(stream.size(), zlib_size * 103 / 100) << level;
    std::vector<uint8_t> back(rows.size());
    uLongf back_size = static_cast<uLongf>(back.size());
    ASSERT_EQ(uncompress(back.data(), &back_size, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
    EXPECT_EQ(back_size, rows.size());
    EXPECT_TRUE(back == rows) << level;
  }
}

// Rows too many to gather are compressed as they come, by zlib, with the
// exact bytes zlib gives the whole, cut into pieces as PNG cuts IDAT chunks;
// gathered, they decompress to the same rows.
TEST(ZlibRowsTest, RowByRowGivesZlibsBytesAndGatheredTheSameContent) {
  std::mt19937 random(5);
  std::vector<uint8_t> rows(300 * 1201);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = i % 1201 < 600 ? static_cast<uint8_t>(random() & 7) : 0x40;
  for (int level : {1, 5, 9}) {
    for (size_t limit : {size_t{0}, kOneGoBytes}) {
      std::vector<uint8_t> stream;
      std::vector<size_t> pieces;
      ZlibRows z(rows.size(), level, 8192,
                 [&](const uint8_t* data, size_t size) {
                   stream.insert(stream.end(), data, data + size);
                   pieces.push_back(size);
                 },
                 limit);
      for (size_t at = 0; at < rows.size(); at += 1201) std::memcpy(z.NextRow(1201), rows.data() + at, 1201);
      z.Finish();
      ASSERT_FALSE(pieces.empty());
      for (size_t i = 0; i + 1 < pieces.size(); ++i) EXPECT_EQ(pieces[i], 8192u) << level << " " << limit;
      EXPECT_LE(pieces.back(), 8192u);
      uLongf zlib_size = compressBound(static_cast<uLong>(rows.size()));
      std::vector<uint8_t> whole(zlib_size);
      ASSERT_EQ(compress2(whole.data(), &zlib_size, rows.data(), static_cast<uLong>(rows.size()), level), Z_OK);
      whole.resize(zlib_size);
      if (limit == 0) {
        EXPECT_TRUE(stream == whole) << "row by row, level " << level;
      } else {
        std::vector<uint8_t> back(rows.size());
        uLongf back_size = static_cast<uLongf>(back.size());
        ASSERT_EQ(uncompress(back.data(), &back_size, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
        EXPECT_TRUE(back == rows) << level;
        EXPECT_LE(stream.size(), whole.size() * 103 / 100);
      }
    }
  }
  // Without a piece size, a stream made in one go arrives in one call.
  int calls = 0;
  ZlibRows z(rows.size(), 9, 0, [&](const uint8_t*, size_t) { ++calls; });
  for (size_t at = 0; at < rows.size(); at += 1201) std::memcpy(z.NextRow(1201), rows.data() + at, 1201);
  z.Finish();
  EXPECT_EQ(calls, 1);
}

TEST(PngEncoderTest, EveryDepthDecodesWithLibpngAndImageMagick) {
  test::TempDir dir;
  std::vector<std::pair<std::string, test::RgbImage>> written;
  for (auto f : {Bitmap::Format::k1Bit, Bitmap::Format::k4Bit, Bitmap::Format::k8Bit, Bitmap::Format::k24Bit}) {
    const Bitmap b = test::NoiseBitmap(37, 11, f, static_cast<unsigned>(f));
    for (int level : {9, 1}) {
      PngEncoder e;
      e.Assign(b);
      e.CompressionLevel = level;
      const std::string path = dir / ("d" + std::to_string(static_cast<int>(f)) + "_" + std::to_string(level) + ".png");
      test::WriteFile(path, Encode(e));
      EXPECT_EQ(test::ReadPngRgb(path).rgb, test::ToRgb(b).rgb) << path;
      written.emplace_back(path, test::ToRgb(b));
    }
  }
  REQUIRE_TOOL("convert");
  for (const auto& [path, rgb] : written) EXPECT_EQ(test::ReadWithMagick(path).rgb, rgb.rgb) << path;
}

}  // namespace
}  // namespace velmora
