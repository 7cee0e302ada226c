// velmora-cli in the user's language, one language per line: English under
// an English locale (or any we have no catalog for), Japanese under a
// Japanese one and under C, the program's own language. Also checks that
// the catalogs cover every text in the code, by extracting the keys afresh.
#include <filesystem>
#include <regex>
#include <sstream>

#include "e2e/cli_fixture.h"

namespace velmora::test {
namespace {

class CliLanguageTest : public CliTest {};

// What of a line is the program's own text: quotations ("...", '...', a
// library's "(libpng: ...)"), paths, file names and options taken out.
std::string OwnText(const std::string& line) {
  std::string s = std::regex_replace(line, std::regex(R"(\((lib\w+|giflib): [^)]*\))"), " ");
  s = std::regex_replace(s, std::regex(R"("[^"]*"|'[^']*')"), " ");
  s = std::regex_replace(s, std::regex(R"([^ ]*[/.][^ ]*|--?[a-z][-a-z]*|velmora-cli)"), " ");
  return s;
}

bool HasJapanese(const std::string& s) {
  // Hiragana, katakana, CJK ideographs and the half-width forms, in UTF-8.
  return std::regex_search(s, std::regex("\xE3[\x81-\x83]|\xE4[\xB8-\xBF]|[\xE5-\xE9][\x80-\xBF]|\xEF\xBD|\xEF\xBE"));
}
bool HasEnglish(const std::string& s) { return std::regex_search(s, std::regex("[A-Za-z]*[a-z]{3,}")); }

TEST_F(CliLanguageTest, EveryFailureSpeaksOneLanguage) {
  Small("a.bmp");
  WriteFile(dir / "bad.pcx", std::vector<uint8_t>{0x0A, 5, 1, 8});
  WriteText(dir / "bad.png", std::string("\x89PNG\r\n\x1a\n") + std::string(20, 'x'));
  WriteText(dir / "bad.jpg", std::string("\xFF\xD8\xFF\xE0") + std::string(40, '\x01'));
  WriteText(dir / "bad.gif", "GIF89a" + std::string(30, '\x7f'));
  WriteText(dir / "bad.tif", std::string("II*\0\x08\0\0\0", 8) + std::string(30, '\x02'));
  WriteText(dir / "bad.bmp", "BM not a picture");
  WriteText(dir / "x.dat", "nothing known");
  WriteText(dir / "ro.png", "read-only");
  std::filesystem::permissions(dir / "ro.png", std::filesystem::perms::owner_read);
  Small("ro.bmp");
  const char* runs[] = {("-f png --color full --overwrite a.bmp missing.bmp bad.pcx bad.png bad.jpg bad.gif bad.tif "
                         "bad.bmp x.dat ro.bmp"),
                        "a.bmp --bogus", "a.bmp", "--quality 11 a.bmp", "--save --ini /proc/velmora.ini"};
  for (const char* env : {"LANG=C", "LANG=ja_JP.UTF-8", "LANG=en_US.UTF-8"}) {
    const bool japanese = std::string(env) != "LANG=en_US.UTF-8";
    for (const char* args : runs) {
      const Result r = Cli(args, env);
      std::istringstream lines(r.out + r.err);
      for (std::string line; std::getline(lines, line);) {
        const std::string own = OwnText(line);
        if (japanese)
          EXPECT_FALSE(HasEnglish(own)) << env << " " << args << ":\n" << line;
        else
          EXPECT_FALSE(HasJapanese(own)) << env << " " << args << ":\n" << line;
      }
    }
  }
  // The program's own texts and a library's quoted one, in each language.
  Result r = Cli("-f png --color full bad.pcx bad.png", "LANG=C");
  EXPECT_NE(r.err.find("bad.pcx: PCX 画像エラー: 画像の途中でファイルが終わっています\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("bad.png: PNG 画像エラー: データを読めません (libpng: "), std::string::npos) << r.err;
  r = Cli("-f png missing.bmp", "LANG=ja_JP.UTF-8");
  EXPECT_NE(r.err.find("を開けません: ファイルもフォルダもありません\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("missing.bmp × 変換できませんでした\n"), std::string::npos) << r.out;
  r = Cli("-f png missing.bmp", "LANG=en_US.UTF-8");
  EXPECT_NE(r.err.find(": No such file or directory\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("missing.bmp × could not be converted\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Conversion finished.\n"), std::string::npos) << r.err;
}

TEST_F(CliLanguageTest, TheLanguageComesFromTheLocale) {
  Small("a.bmp");
  const std::string english = "velmora-cli: No target format is selected. (-f chooses the formats) (see --help)\n";
  const std::string japanese =
      "velmora-cli: 変換先フォーマットが指定されていません。 (-f で形式を指定します) (--help を参照)\n";
  // A language without a catalog reads English rather than Japanese.
  for (const char* env : {"LANG=en_GB.UTF-8", "LANG=de_DE.UTF-8"}) EXPECT_EQ(Cli("a.bmp", env).err, english) << env;
  // C, C.UTF-8, POSIX and nothing at all: Japanese, unless LANGUAGE asks
  // for another (a cron job's, a container's way to English).
  for (const char* env : {"LANG=C", "LC_ALL=C.UTF-8 LANG=en_US.UTF-8", "LANG="})
    EXPECT_EQ(Cli("a.bmp", env).err, japanese) << env;
  for (const char* env : {"LANGUAGE=en LC_ALL=POSIX", "LANGUAGE=en LANG=C", "LANGUAGE=en LANG="})
    EXPECT_EQ(Cli("a.bmp", env).err, english) << env;
  EXPECT_EQ(Cli("a.bmp", "LC_MESSAGES=ja_JP.UTF-8 LANG=en_US.UTF-8").err, japanese);
  // LANGUAGE's fall-backs come before English.
  EXPECT_EQ(Cli("a.bmp --bogus", "LANG=fr_FR.UTF-8 LANGUAGE=fr:ja").err,
            "velmora-cli: 不明なオプション '--bogus' (--help を参照)\n");
}

TEST_F(CliLanguageTest, HelpAndFormatListAreTranslatedAndKeepTheirOptions) {
  const Result en = Cli("--help", "LANG=en_US.UTF-8");
  const Result ja = Cli("--help", "LANG=ja_JP.UTF-8");
  const Result c = Cli("--help", "LANG=C");
  EXPECT_EQ(c.out, ja.out);
  EXPECT_NE(en.out.find("(SOURCE × could not be converted)"), std::string::npos);
  EXPECT_NE(ja.out.find("使い方: velmora-cli [オプション] パス..."), std::string::npos) << ja.out;
  // The values in effect too.
  EXPECT_NE(ja.out.find("[現在: オフ]"), std::string::npos) << ja.out;
  EXPECT_NE(ja.out.find("[現在: なし]"), std::string::npos) << ja.out;
  EXPECT_NE(en.out.find("[now: off]"), std::string::npos) << en.out;
  for (const char* option : {"--formats", "--max-pixels", "--jobs", "--list-formats", "--skip-existing"}) {
    EXPECT_NE(ja.out.find(option), std::string::npos) << option;
    EXPECT_NE(en.out.find(option), std::string::npos) << option;
  }
  EXPECT_NE(Cli("--list-formats", "LANG=C").out.find("tga   Truevision 画像"), std::string::npos);
  EXPECT_NE(Cli("--list-formats", "LANG=en_US.UTF-8").out.find("jpeg  JPEG images "), std::string::npos);
}

// Every key in today's code has a translation in each catalog: the keys are
// extracted afresh, as scripts/update-catalog does, and compared.
TEST_F(CliLanguageTest, CatalogsCoverEveryTextInTheCode) {
  if (!HaveTool("xgettext") || !HaveTool("msgcmp")) GTEST_SKIP() << "gettext tools are not installed";
  const std::string source = VELMORA_SOURCE_DIR;
  const std::string pot = dir / "fresh.pot";
  ASSERT_EQ(test::Run("cd '" + source + "' && xgettext --from-code=UTF-8 -k -kTr:1 -kN_:1 -C -o '" + pot +
                "' $(find src -name '*.cpp' -o -name '*.h' | grep -v '^src/app/gui/' | sort)"),
            0);
  for (const char* language : {"ja", "en"}) {
    std::string out;
    EXPECT_EQ(test::Run("msgcmp '" + source + "/po/" + language + ".po' '" + pot + "' 2>&1", &out), 0) << language << ": "
                                                                                                 << out;
  }
  // The windows: lupdate on a copy of each translation finds nothing new.
  std::string lupdate = "/usr/lib/qt6/bin/lupdate";
  if (!std::filesystem::exists(lupdate)) GTEST_SKIP() << "lupdate is not installed";
  const std::string copy = dir / "velmora_en.ts";
  std::filesystem::copy_file(source + "/translations/velmora_en.ts", copy);
  ASSERT_EQ(test::Run("cd '" + source + "' && " + lupdate + " -silent -no-obsolete -locations none src/app/gui -ts '" + copy + "'"),
            0);
  const auto bytes = ReadFile(copy);
  const std::string ts(bytes.begin(), bytes.end());
  EXPECT_EQ(ts.find("unfinished"), std::string::npos) << "a window text has no English translation";
  EXPECT_NE(ts.find("<translation>&amp;File</translation>"), std::string::npos);
}

}  // namespace
}  // namespace velmora::test
