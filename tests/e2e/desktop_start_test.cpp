// Starts the real desktop program under Xvfb the way a file manager's "Send
// To" or "Open with" does: with files as arguments. It must convert them with
// the stored settings, save the settings as a normal close does, and quit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const std::string kDesktop = std::string(VELMORA_BINARY_DIR) + "/src/velmora";

bool HaveXvfb() { return test::Run("command -v xvfb-run >/dev/null 2>&1") == 0; }

class DesktopStartTest : public test::CliTest {
 protected:
  int StartWith(const std::string& args) {
    // Under LeakSanitizer, D-Bus and fontconfig keep blocks to the end.
    const std::string command = "cd '" + dir.Path().string() + "' && LSAN_OPTIONS=suppressions='" +
                                VELMORA_SOURCE_DIR + "/tests/lsan.supp' VELMORA_INI='" + (dir / "Velmora.ini") +
                                "' XDG_RUNTIME_DIR='" + (dir / "runtime") + "' timeout 60 xvfb-run -a '" + kDesktop +
                                "' " + args + " </dev/null >'" + (dir / "log.txt") + "' 2>&1";
    return test::Run(command);
  }
};

TEST_F(DesktopStartTest, ConvertsItsArgumentsAndQuitsWithTheSettingsSaved) {
  if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run is not installed; the desktop start is not tested";
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  fs::create_directories(dir / "in/folder");
  const std::string a = Small("in/a.bmp");
  const std::string b = Small("in/folder/b.bmp", MakeColor(10, 200, 10));
  {
    std::ofstream ini(dir / "Velmora.ini");
    ini << "[Window]\nPos.X=40\nPos.Y=50\nSize.XSize=400\nSize.YSize=300\nWindow_State=Max\n"
        << "[Format]\npng=1\ngif=1\n[Config_Active]\ndialog=1\n";
  }
  const int status = StartWith("'" + a + "' '" + (dir / "in/folder") + "'");
  const auto log = test::ReadFile(dir / "log.txt");
  ASSERT_EQ(status, 0) << std::string(log.begin(), log.end());
  for (const char* out : {"in/a.png", "in/a.gif", "in/folder/b.png", "in/folder/b.gif"})
    EXPECT_TRUE(fs::is_regular_file(dir / out)) << out;
  // The outputs are pictures of the sources.
  std::string identify;
  ASSERT_EQ(test::Run("identify -format '%w %h %[pixel:p{0,0}]\\n' '" + (dir / "in/a.png") + "'", &identify), 0);
  EXPECT_EQ(identify, "4 4 srgb(200,40,40)\n");
  // Settings saved on the way out: the window's state as it was read, the
  // main window's sections written and the dialog's kept.
  const auto saved = test::ReadFile(dir / "Velmora.ini");
  const std::string text(saved.begin(), saved.end());
  EXPECT_NE(text.find("Window_State=Max"), std::string::npos) << text;
  EXPECT_NE(text.find("Pos.X=40"), std::string::npos) << text;
  EXPECT_NE(text.find("[Effect]"), std::string::npos) << text;
  EXPECT_NE(text.find("dialog=1"), std::string::npos) << text;
  EXPECT_NE(text.find("png=1"), std::string::npos) << text;
}

TEST_F(DesktopStartTest, AnArgumentThatDoesNotExistIsAFailureNotACrash) {
  if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run is not installed; the desktop start is not tested";
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  const std::string a = Small("a.bmp");
  {
    std::ofstream ini(dir / "Velmora.ini");
    ini << "[Format]\nbmp=0\ntif=1\n[Config_Active]\ndialog=1\n";
  }
  const int status = StartWith("'" + (dir / "missing.png") + "' '" + a + "'");
  const auto log = test::ReadFile(dir / "log.txt");
  ASSERT_EQ(status, 0) << std::string(log.begin(), log.end());
  EXPECT_TRUE(fs::is_regular_file(dir / "a.tif"));
  EXPECT_FALSE(fs::exists(dir / "missing.tif"));
}

TEST_F(DesktopStartTest, NoFormatTickedIsAFailureNotASilentSuccess) {
  if (!HaveXvfb()) GTEST_SKIP() << "xvfb-run is not installed; the desktop start is not tested";
  fs::create_directories(dir / "runtime");
  fs::permissions(dir / "runtime", fs::perms::owner_all);
  const std::string a = Small("a.bmp");
  {
    std::ofstream ini(dir / "Velmora.ini");
    ini << "[Format]\nbmp=0\n[Config_Active]\ndialog=1\n";
  }
  EXPECT_EQ(StartWith("'" + a + "'"), 1);
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    EXPECT_TRUE(entry.path().stem() != "a" || entry.path().extension() == ".bmp") << entry.path() << " was written";
}

}  // namespace
}  // namespace velmora
