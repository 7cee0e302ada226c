// What users of other batch converters reach for first, through
// velmora-cli on generated pictures: name patterns, a quality per format,
// turning and flipping, filling a box, presets.
#include <filesystem>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::Result;

const ColorValue kRed = MakeColor(255, 0, 0), kBlue = MakeColor(0, 0, 255), kWhite = MakeColor(255, 255, 255),
                 kGreen = MakeColor(0, 255, 0);

class CliWorkflowsTest : public CliTest {
 protected:
  // A w x h white picture with red at the top left and blue at the top right.
  std::string Marked(const std::string& name, int w, int h) {
    return test::SaveBmp(dir / name, test::RgbBitmap(w, h, [&](int x, int y) {
                           return y == 0 && x == 0 ? kRed : y == 0 && x == w - 1 ? kBlue : kWhite;
                         }));
  }
  uint32_t Pixel(const std::string& png, int x, int y) { return test::ReadPngStored(dir / png).At(x, y); }
  static uint32_t Rgb(ColorValue c) { return (uint32_t{ColorRed(c)} << 16) | (uint32_t{ColorGreen(c)} << 8) | ColorBlue(c); }
  // velmora-cli without the fixture's --ini, its presets under dir/config.
  Result Plain(const std::string& args) {
    Result r;
    const std::string err = dir / "plain-err.txt";
    r.status = test::Run("cd '" + dir.Path().string() + "' && XDG_CONFIG_HOME='" + (dir / "config") +
                             "' LANG=en_US.UTF-8 '" + test::kCli + "' " + args + " </dev/null 2>'" + err + "'",
                         &r.out);
    const auto e = test::ReadFile(err);
    r.err.assign(e.begin(), e.end());
    return r;
  }
};

TEST_F(CliWorkflowsTest, NamePatternsTheirTokensAndTheNamingRules) {
  Marked("a.png", 6, 4);
  Marked("b.bmp", 6, 4);
  // PNG to PNG beside its source, which a pattern makes possible.
  Result r = Cli("-f png --color full --rename '{name}_web' a.png");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "a_web.png"));
  // Every token; the place counts the batch's files from 1.
  r = Cli("-f png,jpg --color full --size 3x2 --rename '{n:3}-{name}-{width}x{height}-{format}-{date}' a.png b.bmp");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string date = [&] {
    std::string d;
    test::Run("date -r '" + (dir / "b.bmp") + "' +%F", &d);
    return d.substr(0, 10);
  }();
  for (const char* name : {"001-a-3x2-png-", "001-a-3x2-jpg-", "002-b-3x2-png-", "002-b-3x2-jpg-"}) {
    const std::string ext = std::string(name).find("png") != std::string::npos ? ".png" : ".jpg";
    EXPECT_TRUE(fs::exists(dir / (name + date + ext))) << name << date;
  }
  // A pattern that names two outputs alike: the second is refused, the
  // first stays; a pattern naming the source itself is refused too.
  Marked("a.bmp", 6, 4);
  r = Cli("-f png --color full --overwrite --rename '{name}_twin' a.png a.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\"" + (dir / "a_twin.png") + "\" was already written in this batch from " + (dir / "a.png")),
            std::string::npos)
      << r.err;
  r = Cli("-f png --color full --overwrite --rename '{name}' a.png");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is the source file itself"), std::string::npos) << r.err;
  // The --json record carries the final name and size.
  r = Cli("-f png --color full --overwrite --size 3x2 --rename 'j{n}' --json a.png");
  EXPECT_NE(r.out.find("\"path\":\"" + (dir / "j1.png") + "\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"out_width\":3,\"out_height\":2"), std::string::npos) << r.out;
}

TEST_F(CliWorkflowsTest, BadValuesNameTheValueAndWriteNothing) {
  Marked("a.png", 6, 4);
  const struct {
    const char* args;
    const char* says;
  } cases[] = {
      {"--rename 'x/{name}'", "--rename: 'x/{name}': a file name cannot hold '/'"},
      {"--rename '{nam}'", "--rename: '{nam}': unknown token {nam}"},
      {"--rename '{name'", "--rename: '{name': '{' without its '}'"},
      {"--quality gif=5", "--quality: 'gif=5' is not a format that takes a quality (jpg, png, webp, avif, jxl)"},
      {"--quality jpg=11", "--quality: 'jpg=11' is not a number from 1 to 10"},
      {"--rotate 45", "--rotate: '45' is not one of 0 | 90 | 180 | 270"},
      {"--flip x", "--flip: 'x' is not one of none | h | v"},
      {"--fit wide", "--fit: 'wide' is not one of contain | cover | fill"},
  };
  for (const auto& c : cases) {
    const Result r = Cli(std::string("-f png ") + c.args + " a.png");
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
  }
  const Result missing = Plain("--preset nowhere -f png a.png");
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("--preset: there is no preset 'nowhere'"), std::string::npos) << missing.err;
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) files += e.path().extension() == ".png";
  EXPECT_EQ(files, 1u) << "nothing written";
}

TEST_F(CliWorkflowsTest, AQualityPerFormatOverridesThePlainOne) {
  test::SaveBmp(dir / "p.bmp", test::RgbBitmap(64, 48, [](int x, int y) { return MakeColor(x * 4, y * 5, (x * y) & 255); }));
  ASSERT_EQ(Cli("-f jpg,webp --color full --quality 5 --out plain p.bmp").status, 0);
  ASSERT_EQ(Cli("-f jpg,webp --color full --quality 5 --quality jpg=10 --quality webp=1 --out own p.bmp").status, 0);
  const auto size = [&](const std::string& f) { return fs::file_size(dir / f); };
  EXPECT_GT(size("own/p.jpg"), size("plain/p.jpg"));
  EXPECT_LT(size("own/p.webp"), size("plain/p.webp"));
  // Stored and read back as [Extra] quality_<format>.
  ASSERT_EQ(Cli("--save --quality jpg=9").status, 0);
  const auto ini = test::ReadFile(dir / "Velmora.ini");
  EXPECT_NE(std::string(ini.begin(), ini.end()).find("quality_jpg=9"), std::string::npos);
  EXPECT_NE(Cli("--help").out.find("[now: 6, jpg=9]"), std::string::npos);
}

TEST_F(CliWorkflowsTest, TurnAndFlipMovePixelsWhereTheySay) {
  Marked("m.bmp", 6, 4);
  const struct {
    const char* args;
    int w, h;
    int red_x, red_y, blue_x, blue_y;
  } cases[] = {{"--rotate 90", 4, 6, 3, 0, 3, 5},  {"--rotate 180", 6, 4, 5, 3, 0, 3},
               {"--rotate 270", 4, 6, 0, 5, 0, 0}, {"--flip h", 6, 4, 5, 0, 0, 0},
               {"--flip v", 6, 4, 0, 3, 5, 3},     {"--rotate 90 --flip v", 4, 6, 3, 5, 3, 0}};
  for (const auto& c : cases) {
    ASSERT_EQ(Cli(std::string("-f png --color full --overwrite ") + c.args + " m.bmp").status, 0) << c.args;
    const auto out = test::ReadPngStored(dir / "m.png");
    ASSERT_EQ(out.width, c.w) << c.args;
    ASSERT_EQ(out.height, c.h) << c.args;
    EXPECT_EQ(out.At(c.red_x, c.red_y), Rgb(kRed)) << c.args;
    EXPECT_EQ(out.At(c.blue_x, c.blue_y), Rgb(kBlue)) << c.args;
  }
  // After the picture's own orientation: a JPEG stored on its side (EXIF 6,
  // shown turned right) turned right again is upside down.
  REQUIRE_TOOL("convert");
  REQUIRE_TOOL("exiv2");
  ASSERT_EQ(test::Run("cd '" + dir.Path().string() +
                      "' && convert -size 16x32 xc:red -size 16x32 xc:blue +append -quality 95 side.jpg && "
                      "exiv2 -M'set Exif.Image.Orientation 6' side.jpg"),
            0);
  ASSERT_EQ(Cli("-f png --color full --rotate 90 side.jpg").status, 0);
  const auto turned = test::ReadPngStored(dir / "side.png");
  ASSERT_EQ(turned.width, 32);
  ASSERT_EQ(turned.height, 32);
  // Stored: red left, blue right; shown (6): red on top; turned again: red at the right.
  EXPECT_GT(turned.At(28, 16) >> 16, 200u) << std::hex << turned.At(28, 16);
  EXPECT_GT(turned.At(3, 16) & 255, 200u) << std::hex << turned.At(3, 16);
}

TEST_F(CliWorkflowsTest, CoverCutsTheCentreAndFillStretches) {
  // 40 x 20: a green band in the middle half of the width, red left, blue right.
  test::SaveBmp(dir / "w.bmp", test::RgbBitmap(40, 20, [](int x, int) { return x < 10 ? kRed : x >= 30 ? kBlue : kGreen; }));
  ASSERT_EQ(Cli("-f png --color full --size 10x10 --fit cover --rename c w.bmp").status, 0);
  ASSERT_EQ(Cli("-f png --color full --size 10x10 --fit fill --rename f w.bmp").status, 0);
  ASSERT_EQ(Cli("-f png --color full --size 10x10 --fit contain --rename k w.bmp").status, 0);
  const auto cover = test::ReadPngStored(dir / "c.png"), fill = test::ReadPngStored(dir / "f.png"),
             contain = test::ReadPngStored(dir / "k.png");
  EXPECT_EQ(std::pair(cover.width, cover.height), std::pair(10, 10));
  EXPECT_EQ(std::pair(fill.width, fill.height), std::pair(10, 10));
  EXPECT_EQ(std::pair(contain.width, contain.height), std::pair(10, 5));
  // Covering: 20 x 10 cut to its centre 10 x 10, the green band alone
  // (its edges blend with the next bands as the resampling does).
  for (int x : {2, 5, 7}) EXPECT_EQ(cover.At(x, 5), Rgb(kGreen)) << x;
  EXPECT_LT(cover.At(0, 5) >> 16, 64u) << "the red band is cut away";
  EXPECT_LT(cover.At(9, 5) & 255, 64u) << "the blue band is cut away";
  // Filling keeps all three bands, squeezed.
  EXPECT_EQ(fill.At(0, 5), Rgb(kRed));
  EXPECT_EQ(fill.At(9, 5), Rgb(kBlue));
  // A picture smaller than the box is cut, not enlarged, unless asked.
  ASSERT_EQ(Cli("-f png --color full --size 30x30 --fit cover --rename s w.bmp").status, 0);
  const auto small = test::ReadPngStored(dir / "s.png");
  EXPECT_EQ(std::pair(small.width, small.height), std::pair(30, 20));
}

TEST_F(CliWorkflowsTest, APresetIsSavedListedAndRead) {
  Marked("a.png", 6, 4);
  Result r = Plain("--preset web --save -f webp --color full --quality webp=7 --size 3x3 --fit fill --rename '{name}_web'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "config/velmora/presets/web.ini"));
  r = Plain("--preset thumbs --save -f png --size 2x2");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Plain("--list-presets").out, "thumbs\nweb\n");
  r = Plain("--preset web a.png");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "a_web.webp"));
  EXPECT_FALSE(fs::exists(dir / "config/velmora/Velmora.ini")) << "the settings file is not read or written";
  EXPECT_EQ(Plain("--preset web --ini x.ini a.png").status, 2);
  EXPECT_EQ(Plain("--preset ../up a.png").status, 2);
}

}  // namespace
}  // namespace velmora
