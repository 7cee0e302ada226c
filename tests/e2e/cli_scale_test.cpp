// velmora-cli in scripts and fleets: JSON lines read back with jq, paths from
// a list, shards run side by side under GNU parallel, and pictures through a
// pipe.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::Result;

class CliScaleTest : public CliTest {
 protected:
  // The command line of the program with the scratch settings, for pipes.
  std::string Command(const std::string& args) {
    return "LANG=en_US.UTF-8 '" + test::kCli + "' --ini '" + (dir / "Velmora.ini") + "' " + args;
  }
  int Shell(const std::string& command, std::string* out = nullptr) {
    return test::Run("cd '" + dir.Path().string() + "' && " + command, out);
  }
  void Write(const std::string& name, const std::string& text) {
    test::WriteFile(dir / name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::map<std::string, std::vector<uint8_t>> Files(const std::string& folder) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(dir / folder)) files[e.path().filename()] = test::ReadFile(e.path());
    return files;
  }
};

TEST_F(CliScaleTest, ShardsSideBySideMakeExactlyTheOneRunsOutputs) {
  for (int i = 0; i < 1000; ++i)
    Small("in/p" + std::to_string(i) + ".bmp", MakeColor(i % 256, (i / 4) % 256, 90));
  ASSERT_EQ(Cli("-f bmp,gif --color full --out whole in").status, 0);
  if (test::HaveTool("parallel")) {
    ASSERT_EQ(Shell("parallel --will-cite -j4 " + Command("-f bmp,gif --color full --shard {}/4 --json --out parts in") +
                    " ::: 1 2 3 4 > parts.json 2>/dev/null"), 0);
  } else {
    for (int k = 1; k <= 4; ++k)
      ASSERT_EQ(Cli("-f bmp,gif --color full --shard " + std::to_string(k) + "/4 --json --out parts in >> parts.json").status, 0);
  }
  EXPECT_EQ(Files("parts"), Files("whole"));
  // Each source once over the four parts, with its two outputs.
  std::string counts;
  Shell("jq -s '[.[] | select(.summary | not)] | [length, ([.[].source] | unique | length), ([.[].outputs[]] | length)]' -c parts.json", &counts);
  EXPECT_EQ(counts, "[1000,1000,2000]\n");
  const Result combined = Cli("-f pdf --multipdf --shard 1/2 in");
  EXPECT_EQ(combined.status, 2);
  EXPECT_NE(combined.err.find("--shard cannot make one combined PDF"), std::string::npos) << combined.err;
  EXPECT_EQ(Cli("-f bmp --shard 3/2 in").status, 2);
}

TEST_F(CliScaleTest, JsonLinesMatchTheFilesAndListsGiveNamesAsTheyAre) {
  Small("a b.bmp");
  Small("new\nline.bmp");
  Small(std::string("caf\xE9.bmp"));  // Latin-1, not UTF-8
  Write("broken.jpg", "not");
  static const char kList[] = "a b.bmp\0new\nline.bmp\0caf\xE9.bmp\0broken.jpg";
  Write("list", std::string(kList, sizeof kList));  // the last NUL ends the last name
  const Result r = Cli("-f png,gif --color full --files-from list -0 --json");
  EXPECT_EQ(r.status, 1);
  std::string check;
  // Every written output is on disk with its bytes; the order is the list's.
  Shell("printf '%s' '" + r.out + "' > out.json && jq -r 'select(.summary | not) | .outputs[] | \"\\(.path)\\t\\(.bytes)\"' out.json | "
        "head -2 | while IFS=\"$(printf '\\t')\" read -r p b; do [ \"$(stat -c %s \"$p\")\" = \"$b\" ] && echo ok; done", &check);
  EXPECT_EQ(check, "ok\nok\n");
  // A name that is not UTF-8: U+FFFD in the text, its bytes in hex.
  Shell("jq -r -c 'select(.summary | not) | [.status, .width, .out_width, (.source | split(\"/\") | last), "
        "(.source_hex // \"\" | .[-16:])]' out.json", &check);
  EXPECT_EQ(check, "[\"written\",4,4,\"a b.bmp\",\"\"]\n[\"written\",4,4,\"new\\nline.bmp\",\"\"]\n"
                   "[\"written\",4,4,\"caf\xEF\xBF\xBD.bmp\",\"636166e92e626d70\"]\n[\"failed\",null,null,\"broken.jpg\",\"\"]\n")
      << r.out;
  Shell("jq -r 'select(.status == \"failed\") | .reason' out.json", &check);
  EXPECT_NE(check.find("JPEG"), std::string::npos) << check;
  Shell("jq -c 'select(.summary) | [.sources, .written, .failed, (.cpu_s > 0)]' out.json", &check);
  EXPECT_EQ(check, "[4,3,1,true]\n");
  // Lines: a name may hold spaces; a run of the same list skips what exists.
  Write("lines", "a b.bmp\n\n");
  const Result again = Cli("-f png --files-from lines --skip-existing --json");
  EXPECT_NE(again.out.find("\"status\":\"skipped\""), std::string::npos) << again.out;
  EXPECT_EQ(Cli("-f png -0 a.bmp").status, 2);
}

TEST_F(CliScaleTest, APictureThroughAPipeIsTheFileTheBatchWrites) {
  Bmp("src.bmp", {MakeColor(250, 0, 0), MakeColor(0, 250, 0), MakeColor(0, 0, 250), MakeColor(9, 9, 9),
                  MakeColor(255, 255, 255), MakeColor(120, 60, 30)}, 3);
  ASSERT_EQ(Cli("-f bmp,jpg,png,mag,gif,ico,pdf,tif --color full --out batch src.bmp").status, 0);
  for (const char* ext : {"bmp", "jpg", "png", "mag", "gif", "ico", "pdf", "tif"}) {
    const std::string piped = std::string("piped.") + ext;
    ASSERT_EQ(Shell("cat src.bmp | " + Command(std::string("-f ") + ext + " --color full - --stdout") + " > " + piped), 0) << ext;
    const auto expected = test::ReadFile(dir / (std::string("batch/src.") + ext));
    const auto got = test::ReadFile(dir / piped);
    if (std::string(ext) == "png" || std::string(ext) == "pdf") {
      // Stamped with the time they are made: the same size and the same pixels.
      EXPECT_EQ(got.size(), expected.size()) << ext;
    } else {
      EXPECT_EQ(got, expected) << ext;
    }
  }
  std::string png;
  Shell("compare -metric AE piped.png batch/src.png null: 2>&1", &png);
  EXPECT_EQ(png, "0");
  // Garbage in: status 1, the reason on stderr, nothing on stdout.
  std::string err;
  EXPECT_NE(Shell("echo garbage | " + Command("-f png - --stdout") + " > none.png 2> err.txt"), 0);
  EXPECT_TRUE(test::ReadFile(dir / "none.png").empty());
  EXPECT_NE(test::ReadFile(dir / "err.txt").size(), 0u);
  EXPECT_EQ(Cli("-f png,bmp src.bmp --stdout").status, 2);
  EXPECT_EQ(Cli("-f png - ").status, 2);
}

}  // namespace
}  // namespace velmora
