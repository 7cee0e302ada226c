// The plug-in host with the test plug-ins of tests/plugins/, through the real
// loader: the search, the two-pass loading and the kinds, registration over
// built-in classes, the buffer and retry rules, the bitmap built from what a
// plug-in returns (and refused when it lies), progress and stopping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "formats/loader.h"
#include "formats/susie/susie_host.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ByteBuilder;

const std::string kBuiltPlugins = std::string(VELMORA_BINARY_DIR) + "/tests/plugins/";

// A VELP picture (the test plug-in's format): 24-bit, or indexed with its
// colours.
std::vector<uint8_t> Velp(int w, int h, int bits, const std::vector<uint32_t>& colours,
                          const std::function<uint32_t(int, int)>& pixel) {
  ByteBuilder b;
  b.Text("VELP").U16Le(w).U16Le(h).U8(bits);
  if (bits != 24) {
    b.U16Le(static_cast<uint32_t>(colours.size()));
    for (uint32_t c : colours) b.U8(c >> 16).U8((c >> 8) & 255).U8(c & 255);
  }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = pixel(x, y);
      if (bits == 24) {
        b.U8(v >> 16).U8((v >> 8) & 255).U8(v & 255);
      } else {
        b.U8(v);
      }
    }
  return b.bytes;
}

class SusieHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "plugins");
    for (const char* name : {"velp.spi", "header128.spi", "archive.spi", "noinfo.spi", "liar.spi"})
      fs::copy_file(kBuiltPlugins + name, dir / ("plugins/" + std::string(name)));
    test::WriteText(dir / "plugins/notalib.spi", "this is not a shared object\n");
    fs::create_directories(dir / "config/velmora");
    test::WriteText(dir / "config/velmora/registry.ini",
                    "[Software\\Halvik\\Susie\\Plug-in]\nPath=" + (dir / "plugins") + "\n");
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("VELMORA_PLUGIN_LOG", (dir / "log.txt").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VELMORA_PLUGIN_LOG");
    unsetenv("XDG_CONFIG_HOME");
  }
  std::string Log() {
    const auto bytes = test::ReadFile(dir / "log.txt");
    return std::string(bytes.begin(), bytes.end());
  }
  void ClearLog() { fs::remove(dir / "log.txt"); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    test::WriteFile(dir / name, bytes);
    return dir / name;
  }
  test::TempDir dir;
  Loader loader;
};

TEST_F(SusieHostTest, SearchLoadsEveryUsableModuleOnceAndSkipsTheRest) {
  SusiePlugins plugins(loader.Registry());
  plugins.Loaded();
  std::vector<std::string> names;
  for (const auto& p : plugins.Plugins()) names.push_back(fs::path(p->PluginFileName()).filename());
  // In name order; notalib.spi is not a shared object and noinfo.spi has no
  // GetPluginInfo: both skipped without a word.
  EXPECT_EQ(names, (std::vector<std::string>{"archive.spi", "header128.spi", "liar.spi", "velp.spi"}));
  const SusiePlugin& velp = *plugins.Plugins()[3];
  EXPECT_EQ(velp.GetKind(), SusiePlugin::Kind::kImport);
  EXPECT_EQ(velp.ApiVersion(), "00IN");
  EXPECT_EQ(velp.PluginName(), "VELP test plug-in velp");
  EXPECT_EQ(velp.FilterPatterns(), std::vector<std::string>{"*.pi;*.pic;*.mag"});
  EXPECT_EQ(velp.FormatNames(), std::vector<std::string>{"VELP test pictures"});
  EXPECT_EQ(plugins.Plugins()[0]->GetKind(), SusiePlugin::Kind::kArchive);
  EXPECT_TRUE(plugins.Plugins()[0]->IsLoader());
  // Searching the same folder again, under another spelling of its name,
  // loads nothing twice.
  plugins.Search(dir / "plugins/../plugins/*.SPI");
  EXPECT_EQ(plugins.Plugins().size(), 4u);
  // Each module was asked for its version twice (generic pass, kind pass)
  // and never again.
  const std::string log = Log();
  size_t count = 0;
  for (size_t at = log.find("velp info 0"); at != std::string::npos; at = log.find("velp info 0", at + 1)) ++count;
  EXPECT_EQ(count, 2u);
}

TEST_F(SusieHostTest, OneCollectionAndItsMessages) {
  SusiePlugins plugins(loader.Registry());
  EXPECT_EQ(test::ErrorOf([&] { SusiePlugins second(loader.Registry()); }), "SusiePlugins は複数生成できません");
  EXPECT_EQ(test::ErrorOf([&] { SusiePlugin::Load(dir / "plugins/notalib.spi"); }),
            (dir / "plugins/notalib.spi") + ":Susie Pluginがロードできませんでした");
  const std::string noinfo = fs::canonical(dir / "plugins/noinfo.spi").string();
  EXPECT_EQ(test::ErrorOf([&] { SusiePlugin::Load(noinfo); }),
            "GetPluginInfoは[" + noinfo + "]では使えないSusie Plugin APIです");
}

TEST_F(SusieHostTest, PluginExtensionsOverrideBuiltInClassesUntilTheCollectionGoes) {
  {
    SusiePlugins plugins(loader.Registry());
    plugins.Loaded();
    for (const char* ext : {"pi", "pic", "mag", "MAG", "h128", "lie"}) {
      EXPECT_EQ(loader.Registry().FindExtension(ext), &SusieGraphicClass()) << ext;
    }
    EXPECT_EQ(loader.Registry().DescriptionOf("mag"), "VELP test pictures");
    EXPECT_EQ(loader.Registry().FindExtension("lzh"), nullptr) << "archives are not pictures";
    EXPECT_EQ(plugins.PluginForExtension("mag")->PluginName(), "VELP test plug-in velp");
    EXPECT_EQ(plugins.PluginForExtension("png"), nullptr);
    // A VELP picture named .mag is read by the plug-in.
    const std::string mag = Write("a.mag", Velp(3, 2, 24, {}, [](int x, int y) { return x == 2 && y == 1 ? 0x123456u : 0xFFFFFFu; }));
    const auto picture = test::Decode(loader, mag);
    EXPECT_EQ(picture.At(2, 1), 0x123456u);
    EXPECT_EQ(picture.At(0, 0), 0xFFFFFFu);
    // A BMP named .mag: the plug-ins refuse it, the own BMP reader reads it.
    test::SaveBmp(dir / "b.mag", test::RgbBitmap(2, 2, [](int, int) { return MakeColor(1, 2, 3); }));
    EXPECT_EQ(test::Decode(loader, dir / "b.mag").At(1, 1), 0x010203u);
    // Nothing reads this one any more.
    test::WriteText(dir / "c.mag", "MAKI02  not a VELP picture");
    EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "c.mag"); }), "認識できない画像形式です");
  }
  // Gone with the collection: MAG is MagImage's again.
  EXPECT_EQ(loader.Registry().FindExtension("mag")->name, "MagImage");
  EXPECT_EQ(loader.Registry().FindExtension("pi"), nullptr);
}

TEST_F(SusieHostTest, ShortFilesArePaddedAndHeadersSkippedOnTheSecondTry) {
  SusiePlugins plugins(loader.Registry());
  plugins.Loaded();
  // A file of 1000 bytes reaches the plug-in in a zero-padded 2048-byte
  // buffer, with its real length.
  std::vector<uint8_t> thousand = Velp(18, 18, 24, {}, [](int x, int y) { return uint32_t(x * 10 + y); });
  thousand.resize(1000, 0xEE);
  ClearLog();
  test::Decode(loader, Write("k.pi", thousand));
  EXPECT_NE(Log().find("velp GetPicture length=1000 padded=1"), std::string::npos) << Log();
  // A picture behind a 128-byte header: refused at once, read past it.
  std::vector<uint8_t> wrapped(128, 'H');
  const std::vector<uint8_t> body = Velp(2, 1, 24, {}, [](int x, int) { return x ? 0x0000FFu : 0xFF0000u; });
  wrapped.insert(wrapped.end(), body.begin(), body.end());
  ClearLog();
  const auto picture = test::Decode(loader, Write("w.h128", wrapped));
  EXPECT_EQ(picture.At(1, 0), 0x0000FFu);
  const std::string log = Log();
  const size_t first = log.find("header128 IsSupported");
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.find("header128 IsSupported", first + 1), std::string::npos) << "asked again past the header";
  EXPECT_NE(log.find("header128 GetPicture length=" + std::to_string(body.size())), std::string::npos) << log;
  // The archive plug-in was loaded but never asked anything.
  EXPECT_EQ(log.find("archive"), std::string::npos) << log;
}

TEST_F(SusieHostTest, FourBitPicturesKeepExactlyTheirColours) {
  SusiePlugins plugins(loader.Registry());
  plugins.Loaded();
  std::vector<uint32_t> colours;
  for (uint32_t i = 0; i < 16; ++i) colours.push_back((i * 16) << 16 | (255 - i * 16) << 8 | i * 7);
  Bitmap picture;
  loader.LoadFile(Write("p.pi", Velp(5, 3, 4, colours, [](int x, int y) { return uint32_t((x + y * 5) % 16); })))
      ->AssignTo(picture);
  ASSERT_EQ(picture.Bits(), 4);
  ASSERT_EQ(picture.Palette().size(), 16u);
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(picture.Palette()[i].red, colours[i] >> 16) << i;
    EXPECT_EQ(picture.Palette()[i].blue, colours[i] & 255) << i;
  }
  EXPECT_EQ(picture.GetIndex(3, 2), 13);
}

TEST_F(SusieHostTest, AnythingALyingPluginReturnsIsRefusedCleanly) {
  SusiePlugins plugins(loader.Registry());
  plugins.Loaded();
  const std::vector<std::pair<char, std::string>> cases = {
      {'a', "its pixel block is smaller than a 64 x 64 picture of 24 bits needs"},
      {'b', "its 8-bit picture claims 100000 colours"},
      {'c', "its picture is -5 x 64 pixels"},
      {'d', "its picture information block is smaller than a 40-byte header"},
      {'e', "its pixel block is smaller than a 1073741824 x 1 picture of 24 bits needs"},
      {'f', "it returned no picture"},
      {'g', "its picture has 7 bits per pixel"},
  };
  for (const auto& [mode, message] : cases) {
    const std::string file = Write(std::string("x") + mode + ".lie", test::Bytes(std::string("LIE") + mode + "........"));
    ClearLog();
    const std::string error = test::ErrorOf([&] { loader.LoadFile(file); });
    std::string expected = message;
    if (mode == 'd') {
      // glibc may return a whole 48-byte chunk for a 20-byte request; the
      // zeroed slack then reads as a header with no bit count.
      const std::string log = Log();
      const size_t at = log.find("liar info usable=");
      ASSERT_NE(at, std::string::npos) << log;
      if (std::stoul(log.substr(at + 17)) >= 40) expected = "its picture has 0 bits per pixel";
    }
    EXPECT_EQ(error, "Susie plug-in error: liar.spi: " + expected) << mode;
  }
}

TEST_F(SusieHostTest, ProgressIsReportedAndCanStopThePlugin) {
  SusiePlugins plugins(loader.Registry());
  plugins.Loaded();
  const std::vector<uint8_t> velp = Velp(4, 50, 24, {}, [](int, int) { return 0x808080u; });
  SusieBitmap bitmap;
  bitmap.SetFileName(dir / "s.pi");
  std::vector<int> seen;
  bitmap.OnProgress = [&](int percent) {
    seen.push_back(percent);
    return false;
  };
  bitmap.LoadFromMemory(velp.data(), velp.size());
  ASSERT_EQ(seen.size(), 50u);
  EXPECT_EQ(seen.front(), 1);   // 0 of 50
  EXPECT_EQ(seen[25], 50);      // 25 * 98 / 50 + 1
  EXPECT_EQ(seen.back(), 97);   // 49 * 98 / 50 = 96.04, + 1
  ClearLog();
  bitmap.OnProgress = [](int percent) { return percent > 30; };
  EXPECT_EQ(test::ErrorOf([&] { bitmap.LoadFromMemory(velp.data(), velp.size()); }), "画像の読み込みが中止されました");
  // Row 16 is the first past 30 %: 16 * 98 / 50 = 31.4, + 1.
  EXPECT_NE(Log().find("velp cancelled at row 16"), std::string::npos) << Log();
  // With a fixed plug-in only that one is asked.
  SusieBitmap fixed;
  fixed.FixedPlugin = plugins.Plugins()[2].get();  // the liar: it does not take VELP
  fixed.SetFileName(dir / "s.pi");
  EXPECT_EQ(test::ErrorOf([&] { fixed.LoadFromMemory(velp.data(), velp.size()); }), "認識できない画像形式です");
}

TEST_F(SusieHostTest, VetoesDecideWhatJoinsAndWhatIsRegistered) {
  SusiePlugins plugins(loader.Registry());
  plugins.OnSearching = [](const std::string& file, bool& accept) { accept = file.find("liar") == std::string::npos; };
  plugins.OnSearch = [](const SusiePlugin& p, bool& accept) { accept = p.GetKind() != SusiePlugin::Kind::kArchive; };
  plugins.OnPictureRegister = [](const SusiePlugin&, const GraphicClass*& cls, const std::string&, const std::string& ext) {
    if (ext == "mag") cls = nullptr;
  };
  plugins.Loaded();
  EXPECT_EQ(plugins.Plugins().size(), 2u);  // header128 and velp
  EXPECT_EQ(loader.Registry().FindExtension("mag")->name, "MagImage");
  EXPECT_EQ(loader.Registry().FindExtension("pi"), &SusieGraphicClass());
}

}  // namespace
}  // namespace velmora
