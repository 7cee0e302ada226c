#include "pipeline/batch_entries.h"

#include <algorithm>
#include <set>

#include "base/messages.h"
#include "base/paths.h"
#include "base/text.h"
#include "platform/platform.h"

namespace velmora {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Walk {
  bool recursive;
  bool hidden;  // descend into folders whose names start with "."
  std::set<platform::FileId> visited;
};

// As find does, a recursive walk does not follow links to folders, and a
// folder met twice (a bind mount of its parent) is walked once: each picture
// is converted once, and no loop of links makes the walk endless.
void Collect(const std::string& base, Walk& walk, std::vector<std::string>& files) {
  if (auto id = platform::IdentityOf(base); id && !walk.visited.insert(*id).second) return;
  std::vector<platform::FolderEntry> entries = platform::ListFolder(base);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return NameOrderLess(a.name, b.name); });
  for (const auto& entry : entries) {
    if (entry.folder) {
      if (walk.recursive && !entry.link && (walk.hidden || entry.name[0] != '.'))
        Collect(base + entry.name + "/", walk, files);
    } else if (!platform::IsOurTemporary(entry.name)) {
      files.push_back(base + entry.name);
    }
  }
}

// Fills columns 1 and 2 (size, date) of an order-dialog row when the entry
// can be looked up.
void DescribeEntry(const std::string& path, std::vector<std::string>& row, size_t size_col) {
  if (auto info = platform::LookUp(path)) {
    row[size_col] = std::to_string(info->size) + " Byte";
    row[size_col + 1] = platform::FormatLocalDate(platform::UnixToLocalDate(info->mtime_seconds));
  }
}

}  // namespace

bool NameOrderLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t i_end = i, j_end = j;
      while (i_end < a.size() && IsDigit(a[i_end])) ++i_end;
      while (j_end < b.size() && IsDigit(b[j_end])) ++j_end;
      size_t i_sig = i, j_sig = j;
      while (i_sig + 1 < i_end && a[i_sig] == '0') ++i_sig;
      while (j_sig + 1 < j_end && b[j_sig] == '0') ++j_sig;
      const size_t i_len = i_end - i_sig, j_len = j_end - j_sig;
      if (i_len != j_len) return i_len < j_len;
      const int c = a.compare(i_sig, i_len, b, j_sig, j_len);
      if (c != 0) return c < 0;
      i = i_end, j = j_end;
      continue;
    }
    const char x = LowerAscii(a[i]), y = LowerAscii(b[j]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    ++i, ++j;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;
}

std::vector<std::string> CollectFolder(const std::string& folder, bool recursive, bool hidden) {
  std::vector<std::string> files;
  if (!platform::FolderExists(folder)) return files;
  Walk walk{recursive, hidden, {}};
  Collect(folder.back() == '/' ? folder : folder + "/", walk, files);
  return files;
}

std::vector<std::string> InShard(const std::vector<std::string>& files, int part, int parts, size_t& index) {
  if (parts < 1) return files;
  std::vector<std::string> mine;
  for (const auto& file : files)
    if (static_cast<int>(index++ % static_cast<size_t>(parts)) == part - 1) mine.push_back(file);
  return mine;
}

std::vector<std::string> AskOrder(UserInterface& ui, Settings& settings, const char* caption,
                                  std::vector<std::string> paths, bool entries) {
  OrderDialogData data;
  data.caption = Tr(caption);
  data.entry_mode = entries;
  if (entries)
    data.rows.push_back({Tr("ﾌｧｲﾙ名"), Tr("ﾌｧｲﾙｻｲｽﾞ"), Tr("ﾌｧｲﾙ日付"), Tr("ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）")});
  else
    data.rows.push_back({Tr("ﾌｧｲﾙ名"), Tr("ﾌｧｲﾙｻｲｽﾞ"), Tr("ﾌｧｲﾙ日付")});
  for (const auto& path : paths) {
    std::vector<std::string> row = entries ? std::vector<std::string>{FileNameOf(path), "", "", path}
                                           : std::vector<std::string>{path, "", ""};
    DescribeEntry(path, row, 1);
    data.rows.push_back(std::move(row));
  }
  data.multi_fn = settings.C_multi_fn;
  data.multi_outfile = settings.multi_outfile;
  ui.RunOrderDialog(data);
  settings.C_multi_fn = data.multi_fn;
  settings.multi_outfile = data.multi_outfile;
  paths.clear();
  const size_t column = entries ? 3 : 0;
  for (size_t i = 1; i < data.rows.size(); ++i)
    paths.push_back(data.rows[i].size() > column ? data.rows[i][column] : "");
  return paths;
}

}  // namespace velmora
