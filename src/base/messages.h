// The one message catalog of both programs. A text shown to the user is
// looked up by its own spelling: the spelling the programs have always used
// (the window texts in Japanese, the command line's own texts in English) is
// the key, so without a catalog -- the C or POSIX locale, or none set --
// every text stays exactly as it always was. Catalogs are gettext .mo files,
// one per language, compiled from po/<language>.po at build time.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace velmora {

// Marks a text kept in a constant for the catalog's extraction; the text is
// translated where it is shown, with Tr.
constexpr const char* N_(const char* key) { return key; }

// The user's text for a key: its translation, or the key itself. The
// pointer stays valid for the life of the program.
const char* Tr(const char* key);

// The same, with {1}..{9} in the text replaced by the arguments in order.
// A translation may place them anywhere; a key's placeholders and its
// translation's are the same set (the catalog test checks it).
std::string Tr(const char* key, std::initializer_list<std::string_view> args);

// The system's reason for an error number in the user's language: the
// catalog's text for the reasons a user meets (no such file, permission
// denied, disk full, ...), else a translated lead with the C library's own
// text quoted.
std::string SystemErrorText(int err);

// A text of a component library we cannot translate, quoted after the lead
// that says what went wrong: "LEAD (libpng: TEXT)".
std::string WithLibraryText(const std::string& lead, const char* library, const std::string& text);

// Replaces {1}..{9} in a text; for callers that hold a text already
// translated.
std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> args);

namespace platform {

using MessageTable = std::unordered_map<std::string, std::string>;

// Reads a gettext .mo file (either byte order). Returns false for a file
// that is missing or malformed; it never reads outside the file.
bool ReadMessageFile(const std::string& path, MessageTable& table);

// Tests: replace the catalog in use (an empty table restores the keys).
void SetMessageTable(MessageTable table);

}  // namespace platform
}  // namespace velmora
