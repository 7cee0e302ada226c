// Photoshop input: ImageMagick's raw and PackBits files in RGB, grey, CMYK and
// 16 bits; bitmap, indexed and transparent documents built in code.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;
using test::Decode;
using test::MagickFilesTest;
using test::MaxDifference;

TEST_F(MagickFilesTest, PsdVariantsMatchAnIndependentDecoder) {
  const std::string src = Make("src.png", "-size 29x19 gradient:teal-orange -depth 8 \\( +clone -fx 'i%4?u:0.9' \\) -compose multiply -composite");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"raw.psd", "'" + src + "' -type TrueColor -compress none"},
      {"rle.psd", "'" + src + "' -type TrueColor -compress RLE"},
      {"grey.psd", "'" + src + "' -colorspace gray"},
      {"deep.psd", "'" + src + "' -type TrueColor -depth 16"},
      {"cmyk.psd", "'" + src + "' -colorspace CMYK"},
  };
  for (const auto& [name, args] : cases) {
    const std::string path = Make(name, args);
    EXPECT_LE(MaxDifference(Decode(loader, path), test::ReadWithMagick(path)), name == "cmyk.psd" ? 1 : 0) << name;
  }
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(test::TruncatedCopy(dir / "rle.psd", 200, dir / "short.psd")); }),
            "PSD image error: the file ends before the picture does");
}

// A version 1 document header with the given sections.
ByteBuilder Document(int channels, int w, int h, int depth, int mode, const std::vector<uint8_t>& mode_data,
                     int layer_count) {
  ByteBuilder b;
  b.Text("8BPS").U16Be(1).Zeros(6).U16Be(channels).U32Be(h).U32Be(w).U16Be(depth).U16Be(mode);
  b.U32Be(static_cast<uint32_t>(mode_data.size())).Raw(mode_data);
  b.U32Be(0);  // no image resources
  if (layer_count) {
    b.U32Be(6).U32Be(2).U16Be(static_cast<uint16_t>(layer_count));
  } else {
    b.U32Be(0);
  }
  return b;
}

TEST(PsdReaderTest, BitmapIndexedAndTransparentDocuments) {
  test::TempDir dir;
  Loader loader;
  // Bitmap mode: 1 is black.
  ByteBuilder bitmap = Document(1, 3, 1, 1, 0, {}, 0);
  bitmap.U16Be(0).U8(0b01000000);
  test::WriteFile(dir / "a.psd", bitmap.bytes);
  const auto bits = Decode(loader, dir / "a.psd");
  EXPECT_EQ(bits.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(bits.At(1, 0), 0x000000u);
  // Indexed: the colour table is 256 reds, 256 greens, 256 blues; PackBits rows.
  std::vector<uint8_t> table(768);
  table[5] = 10, table[256 + 5] = 20, table[512 + 5] = 30;
  ByteBuilder indexed = Document(1, 4, 1, 8, 2, table, 0);
  indexed.U16Be(1).U16Be(2).U8(0xFD).U8(5);  // one row: 4 times index 5
  test::WriteFile(dir / "b.psd", indexed.bytes);
  const auto mapped = Decode(loader, dir / "b.psd");
  EXPECT_EQ(mapped.At(3, 0), 0x0A141Eu);
  // RGB with a fourth channel and a negative layer count: transparency.
  ByteBuilder alpha = Document(4, 2, 1, 8, 3, {}, -1);
  alpha.U16Be(0).U8(255).U8(255).U8(0).U8(0).U8(0).U8(0).U8(0).U8(128);
  test::WriteFile(dir / "c.psd", alpha.bytes);
  const auto transparent = Decode(loader, dir / "c.psd");
  EXPECT_EQ(transparent.At(0, 0), 0xFFFFFFu);  // red, fully transparent
  EXPECT_EQ(transparent.At(1, 0), 0xFF7F7Fu);  // red, half
  // Without the negative count the extra channel is a spot channel.
  ByteBuilder spot = Document(4, 2, 1, 8, 3, {}, 0);
  spot.U16Be(0).U8(255).U8(255).U8(0).U8(0).U8(0).U8(0).U8(0).U8(128);
  test::WriteFile(dir / "d.psd", spot.bytes);
  EXPECT_EQ(Decode(loader, dir / "d.psd").At(0, 0), 0xFF0000u);
  // ZIP-compressed with prediction.
  ByteBuilder zip = Document(1, 3, 1, 8, 1, {}, 0);
  zip.U16Be(3).Raw({0x78, 0x9C, 0x63, 0x60, 0x60, 0x00, 0x00, 0x00, 0x03, 0x00, 0x01});  // 0, 0, 0: flat black
  test::WriteFile(dir / "e.psd", zip.bytes);
  EXPECT_EQ(Decode(loader, dir / "e.psd").At(2, 0), 0x000000u);
}

TEST(PsdReaderTest, RefusedDocuments) {
  test::TempDir dir;
  Loader loader;
  auto error = [&](ByteBuilder b) {
    test::WriteFile(dir / "x.psd", b.bytes);
    return test::ErrorOf([&] { loader.LoadFile(dir / "x.psd"); });
  };
  ByteBuilder psb;
  psb.Text("8BPS").U16Be(2).Zeros(20);
  EXPECT_EQ(error(psb), "PSD image error: Photoshop large documents (PSB) are not supported");
  EXPECT_EQ(error(Document(3, 2, 2, 32, 3, {}, 0)), "PSD image error: 32-bit floating-point documents are not supported");
  EXPECT_EQ(error(Document(1, 2, 2, 8, 2, {}, 0)), "PSD image error: the indexed document has no colour table");
  ByteBuilder huge = Document(3, 30000, 30000, 8, 3, {}, 0);
  huge.U16Be(1);
  EXPECT_EQ(error(huge), "PSD image error: 30000 x 30000 pixels cannot be held in 0 bytes");
  ByteBuilder overrun = Document(1, 2, 1, 8, 1, {}, 0);
  overrun.U16Be(1).U16Be(2).U8(0x05).U8(1);  // a literal run of 6 in a row of 2
  EXPECT_EQ(error(overrun), "PSD image error: a run goes past the end of its row");
}

}  // namespace
}  // namespace velmora
