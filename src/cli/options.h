// The command line of velmora-cli: every option, what it changes, and the
// help text that shows each option's effective value.
#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pipeline/ports.h"
#include "pipeline/settings.h"
#include "base/error.h"
#include "image/limits.h"

namespace velmora::cli {

// A command line that cannot be run; the message names the option.
class UsageError : public Error {
 public:
  explicit UsageError(const std::string& message) : Error(ErrorKind::kUnsupported, message) {}
};

struct CommandLine {
  std::vector<std::string> paths;
  std::string ini_path;
  bool no_settings = false;  // read and write no settings file: the defaults apply
  std::string preset;        // --preset: a named settings file read instead
  bool list_presets = false;
  bool help = false;
  bool version = false;
  bool list_formats = false;
  int jobs = 0;  // 0: DefaultJobs()
  bool save = false;
  bool quiet = false;
  bool dry_run = false;
  bool recursive = false;
  bool hidden = false;
  bool skip_existing = false;
  bool overwrite_given = false;
  bool color_given = false;
  bool formats_given = false;
  bool fate_given = false;  // --trash-source or --keep-source
  std::optional<PickerClick> pick;
  int64_t max_pixels = 0;  // --max-pixels, 0 when not given
  std::string out_folder;  // --out as given (made absolute and created later)
  // For scripts: results as JSON lines, paths from a list, one part of many,
  // a picture to standard output.
  bool json = false;
  std::string files_from;  // "-": standard input
  bool null_separated = false;
  int shard_part = 0, shard_parts = 0;
  bool to_stdout = false;
  // Changes to the settings, in the order given.
  std::vector<std::function<void(Settings&)>> edits;
};

// Parses the arguments (without the program name); raises UsageError.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Checks what depends on the settings as finally in effect (the settings
// file plus the options); raises UsageError.
void CheckEffective(const CommandLine& line, const Settings& settings);

// The help text with the effective value of every option and the settings
// file's place.
// Sources converted at once when --jobs is not given: one per core.
int DefaultJobs();

// What a shell's completion needs of each option, in the help's order.
struct OptionCompletion {
  std::vector<std::string> names;  // "-f", "--formats"
  std::string value;               // the value's name in the help; empty for a switch
  std::string help;                // the help line in the keys' language, English
  std::vector<std::string> values; // a closed list of values, if the option has one
  // What follows the option: nothing, a file, a folder, a comma list of
  // values, one of values, or free text.
  enum class Kind { kNone, kFile, kFolder, kList, kWord, kText } kind;
};
std::vector<OptionCompletion> CompletionTable();

std::string HelpText(const Settings& settings, const DecodeLimits& limits, const std::string& ini_path,
                     bool ini_exists);

// "png,pdf": the ticked formats in the writers' order, or "none".
std::string FormatList(const Settings& settings);

}  // namespace velmora::cli
