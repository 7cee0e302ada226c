// velmora-cli in the user's language: English under an English locale (or
// any we have no catalog for), Japanese under a Japanese one, and the texts
// as they always were under C. Also checks that the catalogs cover every
// text in the code, by extracting the keys afresh.
#include <filesystem>

#include "e2e/cli_fixture.h"

namespace velmora::test {
namespace {

class CliLanguageTest : public CliTest {};

TEST_F(CliLanguageTest, EnglishJapaneseAndTheOwnTexts) {
  Small("a.bmp");
  // English: the window texts and the command line's own.
  Result r = Cli("-f png --color full a.bmp missing.bmp", "LANG=en_US.UTF-8");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("missing.bmp × could not be converted\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Conversion finished.\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Cannot open file \""), std::string::npos) << r.err;
  r = Cli("a.bmp", "LANG=en_GB.UTF-8");
  EXPECT_EQ(r.err, "velmora-cli: No target format is selected. (-f chooses the formats) (see --help)\n");
  // A language without a catalog reads English rather than Japanese.
  r = Cli("a.bmp", "LANG=de_DE.UTF-8");
  EXPECT_EQ(r.err, "velmora-cli: No target format is selected. (-f chooses the formats) (see --help)\n");

  // C, C.UTF-8 and POSIX: exactly as always, whatever LANGUAGE says.
  for (const char* env : {"LANG=C", "LC_ALL=C.UTF-8 LANG=en_US.UTF-8", "LANGUAGE=en LC_ALL=POSIX"}) {
    r = Cli("a.bmp --bogus", env);
    EXPECT_EQ(r.err, "velmora-cli: unknown option '--bogus' (see --help)\n") << env;
    r = Cli("a.bmp", env);
    EXPECT_EQ(r.err, "velmora-cli: 変換先フォーマットが指定されていません。 (-f chooses the formats) (see --help)\n") << env;
  }
  r = Cli("-f png --overwrite --color full a.bmp missing.bmp", "LANG=C");
  EXPECT_NE(r.out.find("missing.bmp × 変換できませんでした\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("変換が終了しました。\n"), std::string::npos) << r.err;

  // Japanese: the window texts as written, the command line's own translated.
  r = Cli("a.bmp --bogus", "LANG=ja_JP.UTF-8");
  EXPECT_EQ(r.err, "velmora-cli: 不明なオプション '--bogus' (--help を参照)\n");
  r = Cli("a.bmp", "LC_MESSAGES=ja_JP.UTF-8 LANG=en_US.UTF-8");
  EXPECT_EQ(r.err, "velmora-cli: 変換先フォーマットが指定されていません。 (-f で形式を指定します) (--help を参照)\n");
  // A decoder's reason too, in either language; C keeps it as written.
  WriteFile(dir / "bad.pcx", std::vector<uint8_t>{0x0A, 5, 1, 8});
  r = Cli("-f png --color full bad.pcx", "LANG=ja_JP.UTF-8");
  EXPECT_NE(r.err.find("bad.pcx: PCX 画像エラー: 画像の途中でファイルが終わっています\n"), std::string::npos) << r.err;
  r = Cli("-f png --color full bad.pcx", "LANG=C");
  EXPECT_NE(r.err.find("bad.pcx: PCX image error: the file ends before the picture does\n"), std::string::npos) << r.err;
  // LANGUAGE's fall-backs come before English.
  r = Cli("a.bmp --bogus", "LANG=fr_FR.UTF-8 LANGUAGE=fr:ja");
  EXPECT_EQ(r.err, "velmora-cli: 不明なオプション '--bogus' (--help を参照)\n");
}

TEST_F(CliLanguageTest, HelpIsTranslatedAndKeepsItsOptions) {
  const Result en = Cli("--help", "LANG=en_US.UTF-8");
  const Result ja = Cli("--help", "LANG=ja_JP.UTF-8");
  const Result c = Cli("--help", "LANG=C");
  EXPECT_NE(en.out.find("(SOURCE × could not be converted)"), std::string::npos);
  EXPECT_NE(c.out.find("(SOURCE × 変換できませんでした)"), std::string::npos);
  EXPECT_NE(ja.out.find("使い方: velmora-cli [オプション] パス..."), std::string::npos) << ja.out;
  EXPECT_NE(ja.out.find("[現在: "), std::string::npos);
  for (const char* option : {"--formats", "--max-pixels", "--jobs", "--list-formats", "--skip-existing"}) {
    EXPECT_NE(ja.out.find(option), std::string::npos) << option;
    EXPECT_NE(en.out.find(option), std::string::npos) << option;
  }
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
