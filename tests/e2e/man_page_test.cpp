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
  for (const char* page : {"velmora-cli.1", "velmora.1"}) {
    const auto text = test::ReadFile(std::string(VELMORA_SOURCE_DIR) + "/docs/" + page);
    EXPECT_EQ(std::count_if(text.begin(), text.end(), [](uint8_t c) { return c >= 0x80; }), 0) << page;
  }
}

}  // namespace
}  // namespace velmora
