// What today's photos carry, as a user converts them: colour profiles
// (applied as lcms2's own tificc and ImageMagick apply them, or kept byte for
// byte), EXIF and XMP on request (read back with exiv2), and any size.
#include <lcms2.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::Result;

const std::string kAdobe = "/usr/share/color/icc/colord/AdobeRGB1998.icc";
const std::string kSrgb = "/usr/share/color/icc/colord/sRGB.icc";
const std::string kPress = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

class CliPhotoTest : public CliTest {
 protected:
  void SetUp() override {
    // What the checks decode with: all of them, or the test says why not.
    for (const char* tool : {"convert", "compare", "tificc", "exiv2", "djxl", "pdftoppm", "qpdf", "heif-convert"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed; these tests need it";
    for (const std::string& f : {kAdobe, kSrgb})
      if (!fs::exists(f)) GTEST_SKIP() << f << " is not installed (colord-data)";
    // Saturated colours, where the colour spaces differ most.
    Shell("convert -size 64x24 gradient:red-blue -depth 8 \\( -size 64x24 gradient:lime-yellow \\) -append src.tif");
  }
  void Shell(const std::string& command) {
    ASSERT_EQ(test::Run("cd '" + dir.Path().string() + "' && " + command + " >/dev/null 2>&1"), 0) << command;
  }
  // The mean difference of two pictures in levels of 255.
  double Mean(const std::string& a, const std::string& b) {
    std::string out;
    test::Run("cd '" + dir.Path().string() + "' && compare -metric MAE '" + a + "' '" + b + "' null: 2>&1", &out);
    const size_t open = out.find('(');
    return open == std::string::npos ? 1e9 : std::stod(out.substr(open + 1)) * 255;
  }
  std::string Profile(const std::string& file) {
    std::string icc;
    test::Run("cd '" + dir.Path().string() + "' && exiv2 -pC '" + file + "' 2>/dev/null", &icc);
    return icc;
  }
  std::string Tags(const std::string& file) {
    std::string tags;
    test::Run("cd '" + dir.Path().string() + "' && exiv2 -pa '" + file + "' 2>/dev/null", &tags);
    return tags;
  }
};

// Display P3: the P3 primaries, D65, the sRGB curve, made with lcms2.
void WriteDisplayP3(const std::string& path) {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
  const cmsFloat64Number srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE p3 = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsSaveProfileToFile(p3, path.c_str());
  cmsCloseProfile(p3);
  cmsFreeToneCurve(curve);
}

TEST_F(CliPhotoTest, WideGamutPhotosComeOutAsLcmsSeesThem) {
  WriteDisplayP3(dir / "p3.icc");
  for (const std::string& space : {kAdobe, dir / "p3.icc"}) {
    // The picture in that space with its profile, and lcms2's own way back.
    Shell("tificc -w8 '-o" + space + "' -e src.tif wide.tif && tificc -w8 -t0 wide.tif back.tif");
    Shell("convert wide.tif wide.png && convert wide.tif -quality 100 wide.jpg && "
          "convert wide.jpg -intent perceptual -profile " + kSrgb + " back_jpg.png");
    Result r = Cli("-f bmp --color full --overwrite --out tif wide.tif && '" + test::kCli + "' --ini '" +
                   (dir / "Velmora.ini") + "' -f bmp --color full --overwrite --out out wide.png");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LE(Mean("tif/wide.bmp", "back.tif"), 1.0) << space;
    EXPECT_LE(Mean("out/wide.bmp", "back.tif"), 1.0) << space;
    r = Cli("-f bmp,gif --color full --overwrite --out jpg wide.jpg");
    EXPECT_LE(Mean("jpg/wide.bmp", "back_jpg.png"), 1.0) << space;
    // Every output shows it, the 256 colours of a GIF too.
    EXPECT_LT(Mean("jpg/wide.gif", "back_jpg.png"), Mean("jpg/wide.gif", "wide.jpg")) << space;
    EXPECT_GE(Mean("out/wide.bmp", "wide.tif"), 3.0) << space << ": the profile was not applied";
  }
  // An sRGB profile changes no byte.
  Shell("convert src.tif -profile " + kSrgb + " srgb.png && convert src.tif plain.png");
  Cli("-f bmp --color full --out s srgb.png plain.png");
  EXPECT_EQ(test::ReadFile(dir / "s/srgb.bmp"), test::ReadFile(dir / "s/plain.bmp"));
}

TEST_F(CliPhotoTest, CmykGoesThroughItsOwnProfileOrTheStandardOne) {
  if (!fs::exists(kPress)) GTEST_SKIP() << kPress << " is not installed (libgs-common)";
  Shell("convert src.tif -profile " + kSrgb + " -profile " + kPress + " cmyk.jpg && convert cmyk.jpg cmyk.tif && "
        "convert src.tif -colorspace CMYK naked.jpg");
  // ImageMagick's own colour-managed reading, through the same profiles.
  Shell("convert cmyk.jpg -intent perceptual -profile " + kSrgb + " im_jpg.png && "
        "convert cmyk.tif -intent perceptual -profile " + kSrgb + " im_tif.png && "
        "convert naked.jpg -profile " + kPress + " -intent perceptual -profile " + kSrgb + " im_naked.png");
  const Result r = Cli("-f bmp --color full --out out cmyk.jpg naked.jpg && '" + test::kCli + "' --ini '" +
                       (dir / "Velmora.ini") + "' -f png --color full --out out cmyk.tif");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LE(Mean("out/cmyk.bmp", "im_jpg.png"), 1.0);
  EXPECT_LE(Mean("out/cmyk.png", "im_tif.png"), 1.0);
  EXPECT_LE(Mean("out/naked.bmp", "im_naked.png"), 1.0);
}

TEST_F(CliPhotoTest, AKeptProfileTravelsByteForByteWithThePixelsAsTheyAre) {
  Shell("tificc -w8 '-o" + kAdobe + "' -e src.tif wide.tif && convert wide.tif wide.png");
  const Result r = Cli("-f png,jpg,tif,webp,avif,jxl,bmp --color full --keep-profile --out out wide.png");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto adobe = test::ReadFile(kAdobe);
  const std::string expected(adobe.begin(), adobe.end());
  for (const char* ext : {"png", "jpg", "tif", "webp", "avif"}) EXPECT_EQ(Profile(std::string("out/wide.") + ext), expected) << ext;
  // Lossy JPEG XL codes the colours in its own space with the profile as
  // libjxl describes it; lossless keeps the profile's bytes and the pixels.
  {
    Cli("-f jxl --color full --keep-profile --lossless --out lossless wide.png");
    Shell("djxl lossless/wide.jxl jxl.png --icc_out=jxl.icc");
    EXPECT_EQ(test::ReadFile(dir / "jxl.icc"), adobe);
    EXPECT_EQ(Mean("jxl.png", "wide.tif"), 0.0);
  }
  EXPECT_EQ(Mean("out/wide.bmp", "wide.tif"), 0.0);
  // A PDF page keeps it as an ICCBased space (PDF 1.3), one profile object
  // for a combined PDF's pages: poppler then shows the colours the sRGB
  // conversion gives, and the bare pixels it would show without it differ.
  {
    ASSERT_EQ(Cli("-f pdf --color full --keep-profile --multipdf --name kept --out pdf wide.png wide.tif").status, 0);
    ASSERT_EQ(Cli("-f pdf --color full --out srgb wide.png").status, 0);
    std::string kept;
    test::Run("qpdf --qdf '" + (dir / "pdf/kept.pdf") + "' - | grep -a -c '/N 3'", &kept);
    EXPECT_EQ(kept, "1\n");
    EXPECT_EQ(test::ReadFile(dir / "pdf/kept.pdf").at(7), '3');
    Shell("pdftoppm -png -r 72 -f 1 -l 1 pdf/kept.pdf k && pdftoppm -png -r 72 srgb/wide.pdf s && "
          "convert wide.tif +profile '*' bare.png");
    EXPECT_LE(Mean("k-1.png", "s-1.png"), 1.0);
    EXPECT_GT(Mean("k-1.png", "bare.png"), 3.0);
  }
}

TEST_F(CliPhotoTest, MetadataOnlyOnRequestFittedToTheOutput) {
  // Where it was taken, in all three: EXIF GPS, IPTC-IIM, and XMP's
  // Photoshop, IPTC Core and IPTC Extension fields.
  test::WriteText(dir / "m.xmp",
                  "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                  "<rdf:Description rdf:about='' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' "
                  "xmlns:Iptc4xmpCore='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/' "
                  "xmlns:Iptc4xmpExt='http://iptc.org/std/Iptc4xmpExt/2008-02-29/' "
                  "xmlns:dc='http://purl.org/dc/elements/1.1/' photoshop:State='Kyoto-fu' "
                  "Iptc4xmpCore:Location='Higashiyama'><dc:rights><rdf:Alt><rdf:li xml:lang='x-default'>Velmora "
                  "test</rdf:li></rdf:Alt></dc:rights><Iptc4xmpExt:LocationShown><rdf:Bag><rdf:li "
                  "rdf:parseType='Resource'><Iptc4xmpExt:Sublocation>Kiyomizu</Iptc4xmpExt:Sublocation></rdf:li>"
                  "</rdf:Bag></Iptc4xmpExt:LocationShown></rdf:Description></rdf:RDF></x:xmpmeta>");
  Shell("convert src.tif -quality 95 m.jpg && exiv2 -iX m.jpg && exiv2 -M'set Exif.Image.Make TestCam' "
        "-M'set Exif.Image.Orientation 6' -M'set Exif.GPSInfo.GPSLatitudeRef N' "
        "-M'set Exif.GPSInfo.GPSLatitude 35/1 40/1 0/1' -M'set Iptc.Application2.City Kyoto' "
        "-M'set Iptc.Application2.Caption Temple at dusk' m.jpg");
  Result r = Cli("-f jpg,png,tif,webp,avif,jxl --color full --keep-metadata --out keep m.jpg");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* ext : {"jpg", "png", "tif", "webp", "avif", "jxl"}) {
    const std::string tags = Tags(std::string("keep/m.") + ext);
    EXPECT_NE(tags.find("TestCam"), std::string::npos) << ext << "\n" << tags;
    EXPECT_NE(tags.find("Velmora test"), std::string::npos) << ext;
    EXPECT_NE(tags.find("GPSLatitude "), std::string::npos) << ext;
    // IPTC itself where the format holds it, its XMP mirror everywhere.
    const bool iptc = std::string(ext) == "jpg" || std::string(ext) == "tif";
    EXPECT_EQ(tags.find("Iptc.Application2.Caption                    String     14  Temple at dusk") != std::string::npos,
              iptc) << ext << "\n" << tags;
    EXPECT_NE(tags.find("Xmp.dc.description                           LangAlt     1  lang=\"x-default\" Temple at dusk"),
              std::string::npos) << ext;
    for (const char* place : {"Kyoto-fu", "Higashiyama", "Kiyomizu", "Xmp.photoshop.City"})
      EXPECT_NE(tags.find(place), std::string::npos) << ext << ": " << place;
    // Turned upright by the reader: orientation 1, the output's size.
    EXPECT_NE(tags.find("Exif.Image.Orientation                       Short       1  top, left"), std::string::npos) << ext << "\n" << tags;
    EXPECT_NE(tags.find("Exif.Photo.PixelXDimension                   Long        1  48"), std::string::npos) << ext << "\n" << tags;
  }
  r = Cli("-f jpg,tif,webp --color full --keep-metadata --strip-location --out strip m.jpg");
  for (const char* ext : {"jpg", "tif", "webp"}) {
    const std::string tags = Tags(std::string("strip/m.") + ext);
    EXPECT_NE(tags.find("TestCam"), std::string::npos) << ext;
    EXPECT_NE(tags.find("Temple at dusk"), std::string::npos) << ext;
    for (const char* place : {"GPS", "Kyoto", "Higashiyama", "Kiyomizu", "Location"})
      EXPECT_EQ(tags.find(place), std::string::npos) << ext << ": " << place << "\n" << tags;
  }
  r = Cli("-f jpg,png,tif,webp --color full --out none m.jpg");
  for (const char* ext : {"jpg", "png", "tif", "webp"}) {
    const std::string tags = Tags(std::string("none/m.") + ext);
    EXPECT_EQ(tags.find("TestCam"), std::string::npos) << ext;
    EXPECT_EQ(tags.find("Xmp."), std::string::npos) << ext;
  }
}

TEST_F(CliPhotoTest, AKeptAlphaGoesIntoTheFormatsThatHoldItAndTheOthersStayAsBefore) {
  Shell("convert -size 64x48 gradient:red-blue \\( -size 64x48 gradient:white-black \\) -alpha off "
        "-compose CopyOpacity -composite -depth 8 -define png:color-type=6 rgba.png && "
        "convert rgba.png -alpha extract a.pgm && convert rgba.png -alpha off rgb.ppm && "
        "convert rgba.png -channel A -threshold 50% +channel clear.gif && convert clear.gif -alpha extract g.pgm");
  Result r = Cli("-f png,tif,webp,jxl,avif,bmp,jpg --color full --keep-alpha --lossless --out kept rgba.png clear.gif");
  ASSERT_EQ(r.status, 0) << r.err;
  r = Cli("-f png,bmp,jpg --color full --out flat rgba.png");
  ASSERT_EQ(r.status, 0) << r.err;
  Shell("djxl kept/rgba.jxl kept/jxl.png");
  for (const char* out : {"kept/rgba.png", "kept/rgba.tif", "kept/rgba.webp", "kept/jxl.png"}) {
    ASSERT_TRUE(fs::exists(dir / out)) << out;
    Shell(std::string("convert ") + out + " -alpha extract ka.pgm && convert " + out + " -alpha off krgb.ppm");
    EXPECT_EQ(Mean("ka.pgm", "a.pgm"), 0.0) << out;
    EXPECT_EQ(Mean("krgb.ppm", "rgb.ppm"), 0.0) << out;
  }
  {
    Shell("heif-convert kept/rgba.avif avif.png && convert avif.png -alpha extract ka.pgm");
    EXPECT_LE(Mean("ka.pgm", "a.pgm"), 1.0);
  }
  // GIF's transparent colour is alpha 0, everything else opaque.
  Shell("convert kept/clear.png -alpha extract ka.pgm");
  EXPECT_EQ(Mean("ka.pgm", "g.pgm"), 0.0);
  // The formats without alpha get the same bytes as without the option.
  for (const char* ext : {"bmp", "jpg"})
    EXPECT_EQ(test::ReadFile(dir / (std::string("kept/rgba.") + ext)), test::ReadFile(dir / (std::string("flat/rgba.") + ext))) << ext;
  std::string has_alpha;
  test::Run("identify -format %A '" + (dir / "flat/rgba.png") + "'", &has_alpha);
  EXPECT_EQ(has_alpha, "False");
}

TEST_F(CliPhotoTest, AnySizeKeepsTheAspectAndNeverEnlargesUnlessAsked) {
  Shell("convert -size 100x50 gradient:red-blue src.bmp");
  const struct {
    const char* args;
    const char* size;
  } cases[] = {{"--size 40x30", "40x20"},        {"--size 40x10", "20x10"},     {"--size 30", "30x15"},
               {"--size x7", "14x7"},            {"--size 33%", "33x17"},       {"--long-edge 64", "64x32"},
               {"--size 400x300", "100x50"},     {"--size 300 --enlarge", "300x150"}, {"--size 1/2", "50x25"}};
  for (const auto& c : cases) {
    const Result r = Cli(std::string("-f png --color full --overwrite ") + c.args + " src.bmp");
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    std::string size;
    test::Run("identify -format '%wx%h' '" + (dir / "src.png") + "'", &size);
    EXPECT_EQ(size, c.size) << c.args;
  }
  const Result bad = Cli("-f png --size 12y4 src.bmp");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("WxH | W | xH | N%"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace velmora
