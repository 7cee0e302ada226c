// The message catalog: the .mo reader, placeholders, the choice of
// language, and the catalogs themselves -- every key of the code has a
// Japanese and an English text with the same placeholders.
#include "base/messages.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

namespace velmora {
namespace {

// The keys of a gettext template, unescaped.
std::vector<std::string> TemplateKeys(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> keys;
  std::string line, key;
  bool in_id = false;
  auto literal = [](const std::string& quoted) {
    std::string out;
    for (size_t i = quoted.find('"') + 1; i < quoted.size() && quoted[i] != '"'; ++i) {
      if (quoted[i] != '\\') {
        out += quoted[i];
        continue;
      }
      const char c = quoted[++i];
      out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return out;
  };
  while (std::getline(in, line)) {
    if (line.rfind("msgid ", 0) == 0) {
      key = literal(line);
      in_id = true;
    } else if (in_id && line.rfind("\"", 0) == 0) {
      key += literal(line);
    } else if (line.rfind("msgstr", 0) == 0) {
      if (!key.empty()) keys.push_back(key);
      in_id = false;
    }
  }
  return keys;
}

std::set<std::string> Placeholders(const std::string& text) {
  std::set<std::string> found;
  for (size_t i = 0; i + 2 < text.size(); ++i)
    if (text[i] == '{' && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 2] == '}') found.insert(text.substr(i, 3));
  return found;
}

bool HasJapanese(const std::string& text) {
  // Kana, kanji and the half-width forms all start with 0xE3..0xEF in UTF-8.
  for (unsigned char c : text)
    if (c >= 0xE3 && c <= 0xEF) return true;
  return false;
}

// The command line's own texts are English sentences, even where they quote
// a Japanese result line; the window texts are Japanese.
bool IsEnglishSentence(const std::string& text) {
  int words = 0;
  for (size_t i = 0; i < text.size();) {
    const bool boundary = i == 0 || !std::isalpha(static_cast<unsigned char>(text[i - 1]));
    size_t n = 0;
    while (i + n < text.size() && text[i + n] >= 'a' && text[i + n] <= 'z') ++n;
    if (boundary && n >= 3 && (i + n == text.size() || !std::isalpha(static_cast<unsigned char>(text[i + n]))))
      ++words;
    i += n ? n : 1;
  }
  return words >= 3;
}

platform::MessageTable Catalog(const std::string& language) {
  platform::MessageTable table;
  EXPECT_TRUE(platform::ReadMessageFile(
      std::string(VELMORA_BINARY_DIR) + "/src/locale/" + language + "/LC_MESSAGES/velmora.mo", table))
      << language;
  return table;
}

TEST(CatalogTest, EveryKeyHasAJapaneseAndAnEnglishTextWithItsPlaceholders) {
  const auto keys = TemplateKeys(std::string(VELMORA_SOURCE_DIR) + "/po/velmora.pot");
  ASSERT_GT(keys.size(), 100u);
  const auto ja = Catalog("ja"), en = Catalog("en");
  for (const auto& key : keys) {
    for (const auto* table : {&ja, &en}) {
      const auto it = table->find(key);
      ASSERT_NE(it, table->end()) << (table == &ja ? "ja: " : "en: ") << key;
      EXPECT_FALSE(it->second.empty()) << key;
      EXPECT_EQ(Placeholders(it->second), Placeholders(key)) << key << " -> " << it->second;
    }
    // The Japanese texts stay exactly as written under a Japanese locale,
    // and nothing Japanese is left under an English one.
    if (HasJapanese(key) && !IsEnglishSentence(key)) {
      EXPECT_EQ(ja.at(key), key);
    }
    EXPECT_FALSE(HasJapanese(en.at(key))) << en.at(key);
    EXPECT_TRUE(HasJapanese(ja.at(key))) << ja.at(key);
  }
  EXPECT_EQ(en.at("変換が終了しました。"), "Conversion finished.");
}

// A .mo file by hand: magic, revision, count, the two tables, then texts.
std::vector<uint8_t> MoFile(const std::vector<std::pair<std::string, std::string>>& pairs, bool big_endian) {
  std::vector<uint8_t> out;
  auto put = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (big_endian ? 24 - 8 * i : 8 * i)));
  };
  const uint32_t n = static_cast<uint32_t>(pairs.size());
  const uint32_t originals = 28, translations = originals + 8 * n;
  uint32_t text_at = translations + 8 * n;
  put(0x950412de), put(0), put(n), put(originals), put(translations), put(0), put(0);
  std::string texts;
  for (int side = 0; side < 2; ++side)
    for (const auto& pair : pairs) {
      const std::string& t = side ? pair.second : pair.first;
      put(static_cast<uint32_t>(t.size()));
      put(text_at + static_cast<uint32_t>(texts.size()));
      texts += t + '\0';
    }
  out.insert(out.end(), texts.begin(), texts.end());
  return out;
}

TEST(MessageFileTest, ReadsEitherByteOrderAndRefusesBrokenFiles) {
  test::TempDir dir;
  const std::string path = dir / "t.mo";
  for (bool big : {false, true}) {
    test::WriteFile(path, MoFile({{"", "Content-Type: text/plain; charset=UTF-8\n"}, {"a {1}", "b {1}"}}, big));
    platform::MessageTable table;
    ASSERT_TRUE(platform::ReadMessageFile(path, table)) << big;
    EXPECT_EQ(table.size(), 1u);  // the header is not a message
    EXPECT_EQ(table["a {1}"], "b {1}");
  }
  platform::MessageTable kept{{"x", "y"}};
  const auto good = MoFile({{"key", "value"}}, false);
  auto truncated = good;
  truncated.resize(truncated.size() - 3);  // the last text runs off the end
  auto bad_magic = good;
  bad_magic[0] ^= 1;
  auto far_table = good;
  far_table[12] = 0xF0;  // the originals table beyond the file
  for (const auto& broken : {truncated, bad_magic, far_table, std::vector<uint8_t>(10, 0)}) {
    test::WriteFile(path, broken);
    EXPECT_FALSE(platform::ReadMessageFile(path, kept));
    EXPECT_EQ(kept.at("x"), "y");  // a failed read leaves the table alone
  }
  EXPECT_FALSE(platform::ReadMessageFile(dir / "missing.mo", kept));
}

TEST(TrTest, TranslatesFillsPlaceholdersAndFallsBackToTheKey) {
  platform::SetMessageTable({{"{1} of {2}", "{2} の {1}"}, {"empty", ""}});
  EXPECT_STREQ(Tr("untranslated"), "untranslated");
  EXPECT_STREQ(Tr("empty"), "empty");  // an empty translation is no translation
  EXPECT_EQ(Tr("{1} of {2}", {"a", "b"}), "b の a");
  EXPECT_EQ(FillPlaceholders("{1}{3}{x}{", {"one"}), "one{3}{x}{");  // unknown ones stay as written
  platform::SetMessageTable({});
  EXPECT_EQ(Tr("{1} of {2}", {"a", "b"}), "a of b");
}

class WantedLanguagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* n : kNames) {
      saved_.emplace_back(n, std::getenv(n) ? std::getenv(n) : "");
      unsetenv(n);
    }
  }
  void TearDown() override {
    for (const auto& [n, v] : saved_) v.empty() ? unsetenv(n) : setenv(n, v.c_str(), 1);
  }
  static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::pair<const char*, std::string>> saved_;
};

// The language comes from LANGUAGE, LC_ALL, LC_MESSAGES and LANG in that
// order; under C and POSIX (any codeset), or with nothing set, the program
// speaks its own language, Japanese, unless LANGUAGE says otherwise.
TEST_F(WantedLanguagesTest, TheUsersChoicesThenEnglishAndJapaneseUnderC) {
  using Languages = std::vector<std::string>;
  EXPECT_EQ(platform::MessageLanguage(), "ja");
  EXPECT_EQ(platform::WantedLanguages(), Languages{"ja"});
  setenv("LANGUAGE", "en", 1);
  EXPECT_EQ(platform::MessageLanguage(), "en") << "no locale at all";
  setenv("LANG", "C.UTF-8", 1);
  EXPECT_EQ(platform::WantedLanguages(), Languages{"en"});
  setenv("LANGUAGE", "C", 1);
  EXPECT_EQ(platform::WantedLanguages(), Languages{"ja"});
  setenv("LANG", "en_US.UTF-8", 1);
  unsetenv("LANGUAGE");
  EXPECT_EQ(platform::MessageLanguage(), "en");
  setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
  EXPECT_EQ(platform::WantedLanguages(), (Languages{"ja", "en"}));
  setenv("LANG", "fr_FR.UTF-8", 1);
  unsetenv("LC_MESSAGES");
  setenv("LANGUAGE", "fr_FR:ja:fr", 1);
  EXPECT_EQ(platform::WantedLanguages(), (Languages{"fr", "ja", "en"}));
  setenv("LC_ALL", "POSIX", 1);
  EXPECT_EQ(platform::WantedLanguages(), (Languages{"fr", "ja", "en"}));
  unsetenv("LANGUAGE");
  EXPECT_EQ(platform::WantedLanguages(), Languages{"ja"});
  // Beside the test programs there is no catalog: the keys stay.
  setenv("LC_ALL", "en_US.UTF-8", 1);
  platform::SetMessageTable({{"k", "v"}});
  EXPECT_EQ(platform::UseUserLanguage(), "");
  EXPECT_STREQ(Tr("k"), "k");
}

}  // namespace
}  // namespace velmora
