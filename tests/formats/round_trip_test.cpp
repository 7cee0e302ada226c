// Generated round trips: every lossless writer, every pixel format (1, 4, 8
// and 24 bits), widths 1 to 17, rows stored bottom-up and top-down. Each
// output is decoded by an independent decoder and must give the source's
// pixels exactly. Colours come from the 6 x 6 x 6 cube, which every writer
// keeps as it is (GIF maps full colour onto that cube).
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <sstream>

#include "pipeline/writers.h"
#include "test_util.h"

namespace velmora {

const OutputFormat& PdfOutput();
namespace {

namespace fs = std::filesystem;

ColorValue CubeColor(int k) { return MakeColor(51 * (k / 36 % 6), 51 * (k / 6 % 6), 51 * (k % 6)); }

struct Case {
  std::string name;
  Bitmap picture;  // what every decoder must give back
  DibImage image;  // what the writers get
};

// The image with its rows stored top first (a negative height).
DibImage TopDown(const DibImage& image) {
  std::ostringstream out;
  image.SaveToStream(out);
  std::string bytes = out.str();
  const uint32_t off = test::Le32(test::Bytes(bytes.substr(0, 14)), 10);
  const int h = image.Height();
  const size_t stride = static_cast<size_t>(RowBytes(image.Width(), image.BitCount()));
  std::string rows = bytes.substr(off);
  for (int y = 0; y < h; ++y) rows.replace(stride * y, stride, bytes.substr(off + stride * (h - 1 - y), stride));
  const int32_t negative = -h;
  for (int i = 0; i < 4; ++i) bytes[22 + i] = static_cast<char>(static_cast<uint32_t>(negative) >> (8 * i));
  std::istringstream in(bytes.substr(0, off) + rows);
  DibImage top;
  top.LoadFromStream(in);
  return top;
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const int height = 5;
  for (int bits : {1, 4, 8, 24}) {
    for (int width = 1; width <= 17; ++width) {
      Bitmap picture;
      if (bits == 24) {
        picture = test::RgbBitmap(width, height, [](int x, int y) { return CubeColor(x * 31 + y * 17); });
      } else {
        const int colors = 1 << bits;
        std::vector<RgbQuad> palette;
        for (int i = 0; i < colors; ++i) {
          const ColorValue c = CubeColor(i * 211 % 216);
          palette.push_back(RgbQuad{ColorBlue(c), ColorGreen(c), ColorRed(c), 0});
        }
        picture = test::IndexedBitmap(width, height, static_cast<Bitmap::Format>(bits), palette,
                                      [&](int x, int y) { return (x * 7 + y * 3) % colors; });
      }
      const DibImage bottom_up = test::DibOf(picture);
      const std::string name = std::to_string(bits) + "bit_w" + std::to_string(width);
      cases.push_back(Case{name + "_up", picture, bottom_up});
      cases.push_back(Case{name + "_down", picture, TopDown(bottom_up)});
    }
  }
  return cases;
}

class RoundTripTest : public ::testing::Test {
 protected:
  // Writes every case with the pipeline's writer for ext; returns the paths.
  std::vector<std::string> WriteAll(const std::string& ext) {
    Settings settings;
    const WriterContext context{settings, kNoColor, FrameOptions{}};
    for (const FormatWriter& writer : DefaultWriters()) {
      if (writer.Extension() != ext) continue;
      std::vector<std::string> paths;
      for (const Case& c : cases) {
        paths.push_back(dir / (c.name + "." + ext));
        test::WriteWith(paths.back(), [&](std::ostream& out) { writer.encode(c.image, context, out); });
      }
      return paths;
    }
    return {};
  }
  void ExpectSame(const Case& c, const test::RgbImage& decoded, const char* decoder) {
    EXPECT_EQ(test::MaxDifference(decoded, test::ToRgb(c.picture)), 0) << c.name << " through " << decoder;
  }
  const std::vector<Case> cases = Cases();
  test::TempDir dir;
};

test::RgbImage ReadTiff(const std::string& path) {
  std::unique_ptr<TIFF, decltype(&TIFFClose)> tif(TIFFOpen(path.c_str(), "r"), &TIFFClose);
  if (!tif) throw std::runtime_error("libtiff cannot open " + path);
  uint32_t w = 0, h = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h);
  std::vector<uint32_t> raster(static_cast<size_t>(w) * h);
  if (!TIFFReadRGBAImageOriented(tif.get(), w, h, raster.data(), ORIENTATION_TOPLEFT, 1))
    throw std::runtime_error("libtiff cannot decode " + path);
  test::RgbImage img{static_cast<int>(w), static_cast<int>(h), {}};
  for (uint32_t p : raster) img.rgb.insert(img.rgb.end(), {uint8_t(TIFFGetR(p)), uint8_t(TIFFGetG(p)), uint8_t(TIFFGetB(p))});
  return img;
}

test::RgbImage ReadGif(const std::string& path) {
  int error = 0;
  GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
  if (!gif) throw std::runtime_error("giflib cannot open " + path);
  std::unique_ptr<GifFileType, void (*)(GifFileType*)> closer(gif, [](GifFileType* g) {
    int e = 0;
    DGifCloseFile(g, &e);
  });
  if (DGifSlurp(gif) != GIF_OK || gif->ImageCount < 1) throw std::runtime_error("giflib cannot decode " + path);
  const SavedImage& frame = gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
  test::RgbImage img{frame.ImageDesc.Width, frame.ImageDesc.Height, {}};
  for (int i = 0; i < img.width * img.height; ++i) {
    const GifColorType c = map->Colors[frame.RasterBits[i]];
    img.rgb.insert(img.rgb.end(), {c.Red, c.Green, c.Blue});
  }
  return img;
}

TEST_F(RoundTripTest, PngThroughLibpng) {
  const auto paths = WriteAll("png");
  for (size_t i = 0; i < cases.size(); ++i) ExpectSame(cases[i], test::ReadPngStored(paths[i]), "libpng");
}

TEST_F(RoundTripTest, TiffThroughLibtiff) {
  const auto paths = WriteAll("tif");
  for (size_t i = 0; i < cases.size(); ++i) ExpectSame(cases[i], ReadTiff(paths[i]), "libtiff");
}

TEST_F(RoundTripTest, GifThroughGiflib) {
  const auto paths = WriteAll("gif");
  for (size_t i = 0; i < cases.size(); ++i) ExpectSame(cases[i], ReadGif(paths[i]), "giflib");
}

TEST_F(RoundTripTest, BmpThroughImageMagick) {
  if (!test::HaveTool("mogrify")) GTEST_SKIP() << "ImageMagick (mogrify) is not installed";
  const auto paths = WriteAll("bmp");
  // One process turns every BMP into a PNG beside it.
  ASSERT_EQ(test::Run("cd '" + dir.Path().string() + "' && mogrify -format png *.bmp"), 0);
  for (size_t i = 0; i < cases.size(); ++i)
    ExpectSame(cases[i], test::ReadPngStored(dir / (cases[i].name + ".png")), "ImageMagick");
}

TEST_F(RoundTripTest, PdfPagesThroughPoppler) {
  if (!test::HaveTool("pdftocairo")) GTEST_SKIP() << "poppler-utils (pdftocairo) is not installed";
  // All cases as the pages of one combined PDF, rendered at one point per pixel.
  auto pdf = PdfOutput().combine(EncodeOptions{});
  for (const Case& c : cases) pdf->Add(c.image, EncodeOptions{});
  test::WriteWith(dir / "all.pdf", [&](std::ostream& out) { pdf->Save(out); });
  ASSERT_EQ(test::Run("pdftocairo -png -r 72 '" + (dir / "all.pdf") + "' '" + (dir / "page") + "'"), 0);
  for (size_t i = 0; i < cases.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "page-%03zu.png", i + 1);
    ExpectSame(cases[i], test::ReadPngStored(dir / name), "pdftocairo");
  }
}

}  // namespace
}  // namespace velmora
