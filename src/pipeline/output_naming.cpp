#include "pipeline/output_naming.h"

#include "base/messages.h"
#include "base/paths.h"

#include <algorithm>
#include <iterator>

namespace velmora {

namespace {

// Calls token(name, width) for each token and text(run) for the text
// between them; false at the first fault, with why.
template <typename Token, typename Text>
bool WalkPattern(const std::string& pattern, Token token, Text text, std::string* why) {
  for (size_t at = 0; at < pattern.size();) {
    const size_t open = pattern.find('{', at);
    const size_t close_stray = pattern.find('}', at);
    if (close_stray < open) {
      if (why) *why = Tr("'}' without its '{'");
      return false;
    }
    if (open == std::string::npos) {
      text(pattern.substr(at));
      break;
    }
    text(pattern.substr(at, open - at));
    const size_t close = pattern.find('}', open);
    if (close == std::string::npos) {
      if (why) *why = Tr("'{' without its '}'");
      return false;
    }
    const std::string inside = pattern.substr(open + 1, close - open - 1);
    std::string name = inside;
    int width = 0;
    if (inside.rfind("n:", 0) == 0 && inside.size() == 3 && inside[2] >= '1' && inside[2] <= '9')
      name = "n", width = inside[2] - '0';
    static const char* const kTokens[] = {"name", "n", "width", "height", "format", "date"};
    if (std::find(std::begin(kTokens), std::end(kTokens), name) == std::end(kTokens)) {
      if (why) *why = Tr("unknown token {{1}} (known: {name} {n} {n:3} {width} {height} {format} {date})", {inside});
      return false;
    }
    token(name, width);
    at = close + 1;
  }
  return true;
}

}  // namespace

std::string PatternProblem(const std::string& pattern) {
  if (pattern.find('/') != std::string::npos) return Tr("a file name cannot hold '/'");
  if (pattern.find('\0') != std::string::npos) return Tr("a file name cannot hold a NUL character");
  for (unsigned char c : pattern)
    if (c < 0x20 || c == 0x7F) return Tr("a file name should not hold control characters");
  std::string why;
  bool named = false;
  WalkPattern(pattern, [&](const std::string&, int) { named = true; }, [&](const std::string& t) { named |= !t.empty(); }, &why);
  if (why.empty() && (!named || pattern == "." || pattern == "..")) why = Tr("the pattern gives no name");
  return why;
}

std::string ExpandPattern(const std::string& pattern, const std::string& source, const std::string& extension,
                          const NameFields& fields) {
  std::string out;
  WalkPattern(
      pattern,
      [&](const std::string& name, int width) {
        if (name == "name") {
          out += FileNameOf(StemOf(source));
        } else if (name == "n") {
          std::string n = std::to_string(fields.position);
          if (static_cast<int>(n.size()) < width) n.insert(0, static_cast<size_t>(width) - n.size(), '0');
          out += n;
        } else if (name == "width") {
          out += std::to_string(fields.width);
        } else if (name == "height") {
          out += std::to_string(fields.height);
        } else if (name == "format") {
          out += extension;
        } else {
          out += fields.date;
        }
      },
      [&](const std::string& text) { out += text; }, nullptr);
  return out;
}

std::string OutputPathFor(const Settings& settings, const NamingContext& context, const std::string& source,
                          const std::string& extension, bool combined, const NameFields& fields) {
  std::string path = StemOf(source);
  if (!settings.rename.empty() && !combined)
    path = FolderOf(source) + ExpandPattern(settings.rename, source, extension, fields) + "." + extension;
  else
    path += settings.V_adds ? "s." + extension : "." + extension;
  if (combined && settings.C_multi_fn) path = FolderOf(source) + settings.multi_outfile + "." + extension;
  if (settings.S_app) return context.program_folder + FileNameOf(path);
  if (!settings.S_folder) return path;
  std::string folder = settings.S_folder_n;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  // Files found below a dropped folder keep their place under the save folder.
  const std::string& base = context.folder_base;
  if (!combined && context.recursive && !base.empty() && source.rfind(base, 0) == 0)
    folder += FolderOf(source.substr(base.size()));
  return folder + FileNameOf(path);
}

void BatchGuard::Clear() {
  sources_.clear();
  written_by_.clear();
  current_.reset();
}

void BatchGuard::ProtectSource(const std::string& path) {
  if (auto id = platform::IdentityOf(path)) sources_.insert(*id);
}

void BatchGuard::Written(const std::string& path, const std::string& source) {
  if (auto id = platform::IdentityOf(path)) written_by_.emplace(*id, source);
}

void BatchGuard::Check(const std::string& path) const {
  const auto id = platform::IdentityOf(path);
  if (!id) return;
  if (current_ && *id == *current_)
    throw OutputRefused(Tr("\"{1}\" is the source file itself; it is not overwritten", {path}));
  if (auto it = written_by_.find(*id); it != written_by_.end())
    throw OutputRefused(Tr("\"{1}\" was already written in this batch from {2}; it is not overwritten", {path, it->second}));
  if (sources_.count(*id)) throw OutputRefused(Tr("\"{1}\" is a source of this batch; it is not overwritten", {path}));
}

}  // namespace velmora
