// EPS input: the TIFF preview of a DOS EPS file (TIFF from ImageMagick), a
// metafile preview holding a bitmap, an EPSI preview, and the files without a
// preview this program can show.
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

const std::string kPostScript = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 4 2\nshowpage\n";

// A DOS EPS binary file: 30-byte header, PostScript, then the previews.
std::vector<uint8_t> DosEps(const std::vector<uint8_t>& wmf, const std::vector<uint8_t>& tiff) {
  const uint32_t ps_start = 30, ps_length = static_cast<uint32_t>(kPostScript.size());
  const uint32_t wmf_start = ps_start + ps_length, tiff_start = wmf_start + static_cast<uint32_t>(wmf.size());
  ByteBuilder b;
  b.U8(0xC5).U8(0xD0).U8(0xD3).U8(0xC6).U32Le(ps_start).U32Le(ps_length);
  b.U32Le(wmf.empty() ? 0 : wmf_start).U32Le(static_cast<uint32_t>(wmf.size()));
  b.U32Le(tiff.empty() ? 0 : tiff_start).U32Le(static_cast<uint32_t>(tiff.size())).U16Le(0xFFFF);
  return b.Text(kPostScript).Raw(wmf).Raw(tiff).bytes;
}

// A metafile: its header and the records given, then the end record.
std::vector<uint8_t> Metafile(const std::vector<ByteBuilder>& records) {
  ByteBuilder body;
  for (const auto& r : records) body.Raw(r.bytes);
  body.U32Le(3).U16Le(0);
  ByteBuilder b;
  b.U16Le(1).U16Le(9).U16Le(0x300).U32Le(static_cast<uint32_t>((18 + body.Size()) / 2)).U16Le(0).U32Le(64).U16Le(0);
  return b.Raw(body.bytes).bytes;
}

TEST_F(MagickFilesTest, TheTiffPreviewOfADosEpsFile) {
  const std::string tiff = Make("p.tif", "-size 13x7 gradient:green-white -depth 8 -compress none");
  test::WriteFile(dir / "a.eps", DosEps({}, test::ReadFile(tiff)));
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "a.eps"), test::ReadWithMagick(tiff)), 0);
}

TEST(EpsReaderTest, MetafileAndEpsiPreviews) {
  test::TempDir dir;
  Loader loader;
  // StretchDIBits with a 2 x 2 24-bit DIB, rows bottom-up and padded.
  ByteBuilder dib;
  dib.U32Le(40).U32Le(2).U32Le(2).U16Le(1).U16Le(24).U32Le(0).U32Le(16).U32Le(3780).U32Le(3780).U32Le(0).U32Le(0);
  dib.Raw({0, 0, 255, 0, 255, 0, 0, 0}).Raw({255, 0, 0, 255, 255, 255, 0, 0});
  ByteBuilder stretch;
  stretch.U32Le(static_cast<uint32_t>((28 + dib.Size()) / 2)).U16Le(0x0F43).U32Le(0x00CC0020).U16Le(0);
  stretch.U16Le(2).U16Le(2).U16Le(0).U16Le(0).U16Le(2).U16Le(2).U16Le(0).U16Le(0).Raw(dib.bytes);
  ByteBuilder line;
  line.U32Le(5).U16Le(0x0213).U16Le(10).U16Le(10);  // LineTo: a drawing, skipped
  test::WriteFile(dir / "w.eps", DosEps(Metafile({line, stretch}), {}));
  const auto picture = Decode(loader, dir / "w.eps");
  EXPECT_EQ(picture.At(0, 0), 0x0000FFu);  // top row: blue, white
  EXPECT_EQ(picture.At(1, 0), 0xFFFFFFu);
  EXPECT_EQ(picture.At(0, 1), 0xFF0000u);  // bottom row: red, green
  EXPECT_EQ(picture.At(1, 1), 0x00FF00u);
  // A metafile that only draws.
  test::WriteFile(dir / "v.eps", DosEps(Metafile({line}), {}));
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "v.eps"); }),
            "EPS image error: the preview is a drawn Windows metafile, which is not rendered");
  // EPSI: 10 x 2, one bit, 0 is black; rows start on a byte.
  test::WriteText(dir / "i.eps", kPostScript + "%%BeginPreview: 10 2 1 2\n% F03F\n% C0 00\n%%EndPreview\n");
  const auto epsi = Decode(loader, dir / "i.eps");
  ASSERT_EQ(epsi.width, 10);
  EXPECT_EQ(epsi.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(epsi.At(4, 0), 0x000000u);
  EXPECT_EQ(epsi.At(9, 0), 0x000000u);  // the bits past 10 are padding
  EXPECT_EQ(epsi.At(8, 0), 0x000000u);
  EXPECT_EQ(epsi.At(1, 1), 0xFFFFFFu);
  EXPECT_EQ(epsi.At(2, 1), 0x000000u);
}

TEST(EpsReaderTest, FilesWithoutAPreview) {
  test::TempDir dir;
  Loader loader;
  test::WriteText(dir / "a.eps", kPostScript);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "a.eps"); }),
            "EPS image error: the file holds no preview picture, and PostScript itself is not rendered");
  std::vector<uint8_t> dos = DosEps({}, {1, 2, 3, 4});
  dos[20] = 0xFF;  // the TIFF preview's offset now lies past the end
  test::WriteFile(dir / "b.eps", dos);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "b.eps"); }), "EPS image error: the file ends before the picture does");
  test::WriteText(dir / "c.eps", kPostScript + "%%BeginPreview: 100000 100000 8 1\n% 00\n%%EndPreview\n");
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "c.eps"); }),
            "EPS image error: 100000 x 100000 pixels cannot be held in 2 bytes");
}

}  // namespace
}  // namespace velmora
