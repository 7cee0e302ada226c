// Where an output goes: its path, a pure function of the settings and the
// source, and the guard that keeps a batch from replacing its own pictures.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "base/error.h"
#include "pipeline/settings.h"
#include "platform/platform.h"

namespace velmora {

// An output that must not be written because it would destroy a picture the
// user has: the source itself, another source of the batch, or a file this
// batch wrote already. The source fails for that output; the others go on.
class OutputRefused : public Error {
 public:
  explicit OutputRefused(const std::string& message) : Error(ErrorKind::kUnsupported, message) {}
};

// What, besides the settings, decides an output's place.
struct NamingContext {
  std::string program_folder;  // for the "program's folder" choice, ending in "/"
  std::string folder_base;     // the dropped folder whose files are converted, with "/"; empty otherwise
  bool recursive = false;      // files below folder_base keep their place under a save folder
};

// What a name pattern's tokens stand for, besides the source and the format.
struct NameFields {
  int64_t position = 0;   // {n}: the source's place in the batch, from 1
  int width = 0;          // {width}, {height}: the output's size
  int height = 0;
  std::string date;       // {date}: the source's date, YYYY-MM-DD
};

// A name pattern ([Extra] rename, --rename): {name} (the source's name
// without its extension), {n} or {n:W} (the place in the batch, zero-padded
// to W digits, 1..9), {width}, {height}, {format} (the output's extension)
// and {date}; the output's extension is always added. Empty when the
// pattern can name a file, else why not (a '/', an unknown token, a brace
// left open).
std::string PatternProblem(const std::string& pattern);
// The name a pattern gives (without the extension); the pattern is checked.
std::string ExpandPattern(const std::string& pattern, const std::string& source, const std::string& extension,
                          const NameFields& fields);

// The path of source's output with extension: beside the source, in the
// program's folder or in the save folder; the "s" suffix, or the name
// pattern instead when there is one (not for the batch-wide files); the
// combined outputs' own name when the order dialog gives one. Reads no file.
std::string OutputPathFor(const Settings& settings, const NamingContext& context, const std::string& source,
                          const std::string& extension, bool combined, const NameFields& fields = {});

// The pictures of a batch that no output may replace: every source, and
// every file the batch wrote (with the source that wrote it).
class BatchGuard {
 public:
  void Clear();
  void ProtectSource(const std::string& path);
  // The source being converted now (none for the clipboard).
  void SetCurrentSource(std::optional<platform::FileId> id) { current_ = id; }
  void Written(const std::string& path, const std::string& source);
  // Raises OutputRefused when path holds one of the batch's pictures.
  void Check(const std::string& path) const;

 private:
  std::set<platform::FileId> sources_;
  std::map<platform::FileId, std::string> written_by_;
  std::optional<platform::FileId> current_;
};

}  // namespace velmora
