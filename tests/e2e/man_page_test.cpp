// The man page and --help describe the same options: every option of one is
// in the other.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

std::set<std::string> Matches(const std::string& text, const std::regex& pattern) {
  std::set<std::string> found;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern); it != std::sregex_iterator(); ++it)
    found.insert((*it)[1]);
  return found;
}

using test::CliTest;

TEST_F(CliTest, TheManPageAndHelpListTheSameOptions) {
  const test::Result help = Cli("--help");
  ASSERT_EQ(help.status, 0);
  // Help: "  -f, --formats LIST" or "      --color C" at the start of a line.
  std::set<std::string> in_help = Matches(help.out, std::regex(R"(\n +(?:-[a-z0-9], )?(--[a-z-]+))"));
  const std::set<std::string> short_help = Matches(help.out, std::regex(R"(\n  (-[a-z0-9]),)"));
  in_help.insert(short_help.begin(), short_help.end());
  const auto bytes = test::ReadFile(std::string(VELMORA_SOURCE_DIR) + "/docs/velmora-cli.1");
  std::string man(bytes.begin(), bytes.end());
  // The man page's option entries: the line after each .TP, with "\-" for "-".
  std::set<std::string> in_man;
  for (size_t at = man.find(".TP\n"); at != std::string::npos; at = man.find(".TP\n", at + 1)) {
    const size_t start = at + 4, end = man.find('\n', start);
    std::string line = std::regex_replace(man.substr(start, end - start), std::regex(R"(\\-)"), "-");
    for (const auto& option : Matches(" " + line, std::regex(R"([ "](--?[a-z0-9][a-z-]*))"))) in_man.insert(option);
  }
  EXPECT_GT(in_help.size(), 30u);
  EXPECT_EQ(in_man, in_help);
  // Both pages read whole in any locale, POSIX's included: ASCII only.
  for (const char* page : {"velmora-cli.1", "velmora.1", "velmora-thumbnailer.1"}) {
    const auto text = test::ReadFile(std::string(VELMORA_SOURCE_DIR) + "/docs/" + page);
    EXPECT_EQ(std::count_if(text.begin(), text.end(), [](uint8_t c) { return c >= 0x80; }), 0) << page;
  }
}

// What bash offers at a TAB, as its completion function computes it; the
// script is the one the build made from the option table.
std::string BashCompletes(const std::string& words) {
  std::string out;
  test::Run("bash -c 'source \"" + std::string(VELMORA_BINARY_DIR) + "/completions/bash\"; COMP_WORDS=(velmora-cli " + words +
                "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _velmora_cli; echo \"${COMPREPLY[*]}\"' 2>/dev/null",
            &out);
  return out;
}

TEST_F(CliTest, ShellsCompleteTheOptionsAndTheirValuesFromTheOptionTable) {
  EXPECT_EQ(BashCompletes("--col"), "--color\n");
  EXPECT_EQ(BashCompletes("-f w"), "webp\n");
  EXPECT_EQ(BashCompletes("-f png,j"), "png,jpg png,jxl\n");
  EXPECT_EQ(BashCompletes("--fit c"), "contain cover\n");
  EXPECT_EQ(BashCompletes("--quality w"), "webp=\n");
  // Every option of --help is offered after a lone "-".
  const std::string all = BashCompletes("-");
  for (const char* option : {"--rename", "--no-settings", "--trash-source", "--shard", "-j"})
    EXPECT_NE((" " + all).find(std::string(" ") + option + " "), std::string::npos) << option;
  // A folder after --out, files after --ini and for the paths.
  std::filesystem::create_directory(dir / "pictures");
  test::SaveBmp(dir / "picture.bmp", test::RgbBitmap(1, 1, [](int, int) { return MakeColor(1, 1, 1); }));
  EXPECT_EQ(BashCompletes("--out " + (dir / "p")), (dir / "pictures") + "\n");
  EXPECT_EQ(BashCompletes("-f png " + (dir / "pic")), (dir / "picture.bmp") + " " + (dir / "pictures") + "\n");
  // The other shells' scripts at least parse, where those shells are installed.
  for (const char* shell : {"zsh", "fish"}) {
    if (!test::HaveTool(shell)) continue;
    EXPECT_EQ(test::Run(std::string(shell) + " -n '" + VELMORA_BINARY_DIR + "/completions/" + shell + "'"), 0) << shell;
  }
}

}  // namespace
}  // namespace velmora
