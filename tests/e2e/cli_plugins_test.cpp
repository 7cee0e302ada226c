// velmora-cli with Susie plug-ins, end to end: the program copied into a
// folder that is also the registry's plug-in folder, so that both searches
// find the same modules.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const std::string kBuiltPlugins = std::string(VELMORA_BINARY_DIR) + "/tests/plugins/";

class CliPluginsTest : public test::CliTest {
 protected:
  void SetUp() override {
    fs::create_directories(dir / "app");
    fs::copy_file(test::kCli, dir / "app/velmora-cli");
    for (const char* name : {"velp.spi", "header128.spi", "archive.spi", "noinfo.spi", "liar.spi"})
      fs::copy_file(kBuiltPlugins + name, dir / ("app/" + std::string(name)));
    test::WriteText(dir / "app/notalib.spi", "not a shared object\n");
    fs::create_directories(dir / "config/velmora");
    test::WriteText(dir / "config/velmora/registry.ini",
                    "[Software\\Halvik\\Susie\\Plug-in]\nPath=" + (dir / "app") + "\n");
  }
  test::Result App(const std::string& args) {
    test::Result r;
    const std::string err = dir / "stderr.txt";
    r.status = test::Run("cd '" + dir.Path().string() + "' && XDG_CONFIG_HOME='" + (dir / "config") +
                             "' VELMORA_PLUGIN_LOG='" + (dir / "log.txt") + "' '" + (dir / "app/velmora-cli") +
                             "' --ini '" + (dir / "v.ini") + "' " + args + " 2>'" + err + "'",
                         &r.out);
    const auto e = test::ReadFile(err);
    r.err.assign(e.begin(), e.end());
    return r;
  }
};

TEST_F(CliPluginsTest, ListsPluginFormatsAndConvertsThem) {
  test::Result r = App("--list-formats");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "") << "unusable modules are skipped without a word";
  const std::string velp = fs::canonical(dir / "app/velp.spi").string();
  EXPECT_NE(r.out.find("mag   VELP test pictures"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("plug-in " + velp + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\npng "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("built-in\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("lzh"), std::string::npos) << "an archive plug-in reads no pictures";
  // One folder reached twice (registry and program folder): each module
  // loaded once, asked for its version in its two passes only.
  const auto log = test::ReadFile(dir / "log.txt");
  const std::string text(log.begin(), log.end());
  size_t count = 0;
  for (size_t at = text.find("velp info 0"); at != std::string::npos; at = text.find("velp info 0", at + 1)) ++count;
  EXPECT_EQ(count, 2u) << text;

  // A VELP picture named .mag converted to PNG through the plug-in.
  test::ByteBuilder b;
  b.Text("VELP").U16Le(2).U16Le(1).U8(24).U8(10).U8(20).U8(30).U8(200).U8(100).U8(0);
  test::WriteFile(dir / "pic.mag", b.bytes);
  r = App("-f png --color full --quiet pic.mag");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadPngRgb(dir / "pic.png").At(1, 0), 0xC86400u);
  // A plug-in that lies fails its file, with the reason.
  test::WriteText(dir / "x.lie", "LIEa.......");
  r = App("-f png --quiet x.lie");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Susie plug-in error: liar.spi: its pixel block is smaller than a 64 x 64 picture of 24 bits needs"),
            std::string::npos)
      << r.err;
}

TEST_F(CliPluginsTest, OnlyCodeNobodyElseCanChangeIsLoaded) {
  // A FIFO named .spi, and a plug-in that answers every question: the start
  // neither blocks nor grows, and the endless list is cut at 256 pairs.
  ASSERT_EQ(mkfifo((dir / "app/fifo.spi").c_str(), 0600), 0);
  fs::copy_file(kBuiltPlugins + std::string("endless.spi"), dir / "app/endless.spi");
  test::Result r = App("--list-formats");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find(std::string(255, 'd') + "  plug-in"), std::string::npos) << "the endless plug-in's text, cut to the buffer";
  EXPECT_EQ(r.out.find(std::string(256, 'd')), std::string::npos);
  // A relative plug-in folder would follow the current folder.
  test::WriteText(dir / "config/velmora/registry.ini", "[Software\\Halvik\\Susie\\Plug-in]\nPath=app\n");
  r = App("--list-formats");
  EXPECT_NE(r.err.find("velmora-cli: warning: the plug-in folder \"app\" in " + (dir / "config/velmora/registry.ini") +
                       " is not an absolute path; it is not searched\n"),
            std::string::npos)
      << r.err;
  // A folder or a file that others can write is refused, named.
  test::WriteText(dir / "config/velmora/registry.ini",
                  "[Software\\Halvik\\Susie\\Plug-in]\nPath=" + (dir / "app") + "\n");
  chmod((dir / "app/velp.spi").c_str(), 0666);
  r = App("--list-formats");
  EXPECT_NE(r.err.find("velmora-cli: warning: plug-in " + (dir / "app/velp.spi") +
                       " can be written by other users; it is not loaded\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("VELP test pictures"), std::string::npos) << r.out;
  chmod((dir / "app").c_str(), 0777);
  r = App("--list-formats");
  EXPECT_NE(r.err.find("plug-in folder " + (dir / "app") + "/ can be written by other users; no plug-in is loaded from it"),
            std::string::npos)
      << r.err;
  // What is checked is where a link leads and every folder above it: a safe
  // plug-in in a safe folder under one others can write, and a link to it
  // from a safe folder, are both refused, the folder named.
  chmod((dir / "app").c_str(), 0755);
  chmod((dir / "app/velp.spi").c_str(), 0755);
  fs::create_directories(dir / "open/safe");
  chmod((dir / "open").c_str(), 0777);
  fs::rename(dir / "app/velp.spi", dir / "open/safe/velp.spi");
  fs::create_symlink(dir / "open/safe/velp.spi", dir / "app/velp.spi");
  r = App("--list-formats");
  EXPECT_NE(r.err.find("plug-in " + (dir / "app/velp.spi") + " lies in " + (dir / "open") +
                       ", which other users can change; it is not loaded"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out.find("VELP test pictures"), std::string::npos) << r.out;
  // The same link to a place nobody else can change loads it.
  chmod((dir / "open").c_str(), 0755);
  r = App("--list-formats");
  EXPECT_NE(r.out.find("VELP test pictures"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace velmora
