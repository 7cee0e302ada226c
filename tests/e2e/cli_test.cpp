// Runs velmora-cli as a user would, on real files in a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using test::CliTest;
using test::Result;

TEST_F(CliTest, HelpVersionAndUsageErrors) {
  Result r = Cli("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Velmora Ver 2.04\n");
  r = Cli("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: velmora-cli"), std::string::npos);
  for (const char* bad :
       {"", "--size 1/7 x.bmp", "--bogus x.bmp", "-f heic x.bmp", "--quality 11 x.bmp", "--pick 3 x.bmp"}) {
    r = Cli(bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
    EXPECT_EQ(r.err.rfind("velmora-cli: ", 0), 0u) << r.err;
  }
}

TEST_F(CliTest, ConvertsAFolderWithOneFailingFile) {
  const std::string a = Bmp("in/a.bmp", {MakeColor(255, 0, 0), MakeColor(0, 255, 0), MakeColor(0, 0, 255)}, 3);
  test::WriteText(dir / "in/broken.bmp", "BM not really");
  REQUIRE_TOOL("convert");
  test::Run("convert -size 8x6 gradient:red-blue '" + (dir / "in/c.jpg") + "'");
  Result r = Cli("-f bmp,png --color 256 --suffix-s in");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(a + " → " + (dir / "in/as.png")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find((dir / "in/broken.bmp") + " × could not be converted"), std::string::npos) << r.out;
  // One reason line per failure, naming the source.
  EXPECT_NE(r.err.find("velmora-cli: " + (dir / "in/broken.bmp") + ": BMP image error: not a BMP file\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("This file cannot be converted"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Conversion finished."), std::string::npos);
  // 256 colours of a red/green/blue source: three table entries.
  const auto bmp = test::ReadFile(dir / "in/as.bmp");
  EXPECT_EQ(test::Le32(bmp, 46), 3u);
  EXPECT_EQ(test::Le32(bmp, 10), 66u);
  EXPECT_EQ(test::ReadWithMagick(dir / "in/as.png").At(1, 0), 0x00FF00u);
  EXPECT_TRUE(fs::exists(dir / "in/cs.png"));
}

TEST_F(CliTest, NothingIsOverwrittenWithoutConsent) {
  const std::string a = Bmp("a.bmp", {MakeColor(1, 2, 3)}, 1);
  test::WriteText(dir / "a.png", "keep me");
  Result r = Cli("-f png a.bmp");
  // Not written because it exists: a failure for scripts, with its reason.
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::ReadFile(dir / "a.png").size(), 7u);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("velmora-cli: " + a + ": \"" + (dir / "a.png") + "\" exists and was not overwritten"),
            std::string::npos)
      << r.err;
  // Asked for: skipped quietly, not a failure.
  r = Cli("-f png --skip-existing a.bmp");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(dir / "a.png").size(), 7u);
  r = Cli("-f png --overwrite a.bmp");
  EXPECT_GT(test::ReadFile(dir / "a.png").size(), 7u);
}

TEST_F(CliTest, ColourAndSizeOptionsShapeTheBmp) {
  Bmp("a.bmp", std::vector<ColorValue>(16, MakeColor(255, 255, 255)), 4);
  Result r = Cli("-f bmp --overwrite --color bw --size 1/2 --suffix-s a.bmp");
  ASSERT_EQ(r.status, 0) << r.err;
  DibImage out;
  out.LoadFromFile(dir / "as.bmp");
  EXPECT_EQ(out.Width(), 2);
  EXPECT_EQ(out.BitCount(), 24);
  EXPECT_EQ(out.Bits()[0], 252);
  // Full colour of an 8-bit source keeps its table.
  Cli("-f bmp --overwrite --color 256 --out eight a.bmp");
  Cli("-f bmp --overwrite --color full --suffix-s eight/a.bmp");
  const auto bytes = test::ReadFile(dir / "eight/as.bmp");
  EXPECT_EQ(test::Le16(bytes, 28), 24);
  EXPECT_EQ(test::Le32(bytes, 10), 1078u);
}

TEST_F(CliTest, TransparentPngFromTopLeftOrPickedPixel) {
  Bmp("a.bmp", {MakeColor(10, 20, 30), MakeColor(40, 50, 60)}, 2);
  Result r = Cli("-f png --color full --trans a.bmp");
  ASSERT_EQ(r.status, 0) << r.err;
  auto png = test::ReadFile(dir / "a.png");
  const std::string text(png.begin(), png.end());
  const size_t trns = text.find("tRNS");
  ASSERT_NE(trns, std::string::npos);
  EXPECT_EQ(std::vector<uint8_t>(png.begin() + trns + 4, png.begin() + trns + 10),
            (std::vector<uint8_t>{0, 10, 0, 20, 0, 30}));
  Cli("-f png --color full --trans --pick 1,0 --overwrite a.bmp");
  png = test::ReadFile(dir / "a.png");
  const size_t t2 = std::string(png.begin(), png.end()).find("tRNS");
  EXPECT_EQ(std::vector<uint8_t>(png.begin() + t2 + 4, png.begin() + t2 + 10),
            (std::vector<uint8_t>{0, 40, 0, 50, 0, 60}));
}

TEST_F(CliTest, SaveWritesTheSettingsFile) {
  Result r = Cli("--save -f jpg,tif --quality 3 --keep-date");
  EXPECT_EQ(r.status, 0);
  const auto ini = test::ReadFile(dir / "Velmora.ini");
  const std::string text(ini.begin(), ini.end());
  EXPECT_NE(text.find("jpg=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("tif=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("quality=2\r\n"), std::string::npos);
  EXPECT_NE(text.find("olddate=1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(CliTest, EveryFormatAndTheCombinedOutputs) {
  Bmp("set/a.bmp", std::vector<ColorValue>(64, MakeColor(200, 30, 30)), 8);
  Bmp("set/b.bmp", std::vector<ColorValue>(48, MakeColor(30, 200, 30)), 6);
  Result r = Cli("-f bmp,jpg,png,mag,gif,ico,pdf,tif --suffix-s set");
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* ext : {"bmp", "jpg", "png", "mag", "gif", "ico", "pdf", "tif"}) {
    EXPECT_NE(r.out.find((dir / "set/as.") + ext), std::string::npos) << ext;
    EXPECT_TRUE(fs::exists((dir / "set/bs.") + ext)) << ext;
  }
  // Formats are written in the fixed order bmp, jpg, png, ico, mag, tif, gif, pdf.
  EXPECT_LT(r.out.find("as.ico"), r.out.find("as.mag"));
  EXPECT_LT(r.out.find("as.tif"), r.out.find("as.gif"));
  // The folder now holds the outputs too; the combined run takes a fresh one.
  // Named after the last entry, the folder, the combined outputs lie beside it.
  Bmp("set2/a.bmp", std::vector<ColorValue>(64, MakeColor(200, 30, 30)), 8);
  Bmp("set2/b.bmp", std::vector<ColorValue>(48, MakeColor(30, 200, 30)), 6);
  r = Cli("-f gif,pdf --animgif --multipdf --name both --delay 7 set2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(dir / "both.gif"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(dir / "both.pdf"), std::string::npos) << r.out;
  REQUIRE_TOOL("identify");
  std::string delays;
  test::Run("identify -format '%T ' '" + (dir / "both.gif") + "'", &delays);
  EXPECT_EQ(delays.substr(0, 2), "7 ") << delays;
  REQUIRE_TOOL("qpdf");
  EXPECT_EQ(test::Run("qpdf --check '" + (dir / "both.pdf") + "' >/dev/null"), 0);
  REQUIRE_TOOL("pdfinfo");
  std::string info;
  test::Run("pdfinfo '" + (dir / "both.pdf") + "'", &info);
  EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
}

}  // namespace
}  // namespace velmora
