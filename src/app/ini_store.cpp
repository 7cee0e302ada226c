#include "app/ini_store.h"
#include "pipeline/writers.h"

#include <algorithm>
#include <charconv>

#include "base/paths.h"
#include "base/text.h"
#include "pipeline/output_naming.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// The half-width corner brackets of the desktop code page, in UTF-8.
constexpr const char* kOpenBracket = "\xEF\xBD\xA2";
constexpr const char* kCloseBracket = "\xEF\xBD\xA3";

bool Enclosed(const std::string& v, const std::string& open, const std::string& close) {
  return v.size() >= open.size() + close.size() && v.compare(0, open.size(), open) == 0 &&
         v.compare(v.size() - close.size(), close.size(), close) == 0;
}

}  // namespace

std::string SettingsFileName(const std::string& program_path) {
  std::string name = LowerAscii(FileNameOf(StemOf(program_path)) + ".INI");
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

std::string SettingsFilePath(const std::string& program_path) {
  const std::string name = SettingsFileName(program_path);
  const std::string folder = FolderOf(program_path);
  const std::string beside = folder.empty() ? "./" : folder;
  // Beside the program only where the program is the user's own (a build
  // tree, an unpacked copy): an installed program, root's included, keeps
  // every user's settings in their configuration folder, so that removing
  // the package leaves nothing behind in the system's folders.
  if (!platform::IsSystemFolder(platform::AbsolutePath(beside)) &&
      (platform::FileExists(beside + name) || (platform::IsWritableFolder(beside) && platform::OwnFolder(beside))))
    return beside + name;
  return platform::ConfigFolder() + name;  // IniFile makes the folder on its first write
}

std::string IniStore::ResolvedPath() const {
  std::string name = FileName.empty() ? SettingsFileName(platform::ProgramPath()) : FileName;
  if (name.find('/') != std::string::npos) return name;
  switch (default_dir) {
    case DefaultDir::ddApplication:
      return FileName.empty() ? SettingsFilePath(platform::ProgramFolder() + name) : platform::ProgramFolder() + name;
    case DefaultDir::ddWindows:
      return platform::ConfigFolder() + name;
    case DefaultDir::ddNone:
      return name;
  }
  return name;
}

IniFile& IniStore::File() {
  if (!file_) file_ = std::make_unique<IniFile>(ResolvedPath());
  return *file_;
}

std::string IniStore::Fenced(const std::string& value) const {
  switch (fence) {
    case Fence::fnDoubleQuote:
    case Fence::fnVer11Mode:
      return "\"" + value + "\"";
    case Fence::fnParenthesis:
      return kOpenBracket + value + kCloseBracket;
    case Fence::fnNone:
      break;
  }
  return value;
}

std::string IniStore::ReadString(const std::string& section, const std::string& key, const std::string& def) {
  std::string v = File().ReadString(section, key, Fenced(def));
  const bool quotes = fence == Fence::fnDoubleQuote || fence == Fence::fnVer11Mode;
  const bool brackets = fence == Fence::fnParenthesis || fence == Fence::fnVer11Mode;
  if (quotes && v.size() > 1 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  if (brackets && Enclosed(v, kOpenBracket, kCloseBracket)) return v.substr(3, v.size() - 6);
  return v;
}

void IniStore::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  File().WriteString(section, key, Fenced(value));
}

void IniStore::ReadPosition(const std::string& section, const std::string& key, int& x, int& y) {
  x = ReadInteger(section, key + ".X", x);
  y = ReadInteger(section, key + ".Y", y);
}

void IniStore::WritePosition(const std::string& section, const std::string& key, int x, int y) {
  WriteInteger(section, key + ".X", x);
  WriteInteger(section, key + ".Y", y);
}

void IniStore::ReadSize(const std::string& section, const std::string& key, int& w, int& h) {
  w = ReadInteger(section, key + ".XSize", w);
  h = ReadInteger(section, key + ".YSize", h);
}

void IniStore::WriteSize(const std::string& section, const std::string& key, int w, int h) {
  WriteInteger(section, key + ".XSize", w);
  WriteInteger(section, key + ".YSize", h);
}

namespace {
// A list index outside the list leaves no item selected (-1).
int ListIndex(int value, int count) { return value >= 0 && value < count ? value : -1; }
}  // namespace

void LoadMainSettings(IniStore& store, Settings& s) {
  s.C_PixelColor = 1;
  s.O_icosize = 1;
  s.O_quality_c = 5;
  s.O_quality_t = 5;
  s.O_gsize = 0;
  const std::string state = store.ReadString("Window", "Window_State", "");
  if (state == "Max") {
    s.window_state = "Max";
  } else if (state == "Normal") {
    s.window_state = "Normal";
    store.ReadPosition("Window", "Pos", s.pos_x, s.pos_y);
    store.ReadSize("Window", "Size", s.size_x, s.size_y);
  }
  for (const OutputRow* row : OutputsInBarOrder())
    s.*row->ticked = store.ReadBool("Format", row->format().extension, s.*row->ticked);
  s.effect_panel = store.ReadBool("Effect", "Panel", s.effect_panel);
  s.C_Trans = store.ReadBool("Effect", "Trans", s.C_Trans);
  s.C_Multipdf = store.ReadBool("Effect", "Multipdf", s.C_Multipdf);
  s.C_animegif = store.ReadBool("Effect", "animegif", s.C_animegif);
  s.C_PixelColor = ListIndex(store.ReadInteger("Effect", "PixelColor", s.C_PixelColor), 3);
  s.C_delay = store.ReadString("Effect", "delay", s.C_delay);
  s.option_panel = store.ReadBool("Option", "Panel", s.option_panel);
  const int quality = store.ReadInteger("Option", "quality", s.O_quality_c);
  s.O_quality_c = ListIndex(quality, 10);
  // The track bar clamps what the list cannot show.
  s.O_quality_t = quality < 0 ? 0 : quality > 9 ? 9 : quality;
  // An icon size the list cannot show falls back to the default, 32: no
  // selection would leave every icon without a size.
  s.O_icosize = ListIndex(store.ReadInteger("Option", "icosize", s.O_icosize), 5);
  if (s.O_icosize < 0) s.O_icosize = 1;
  // The ninth entry, "指定…", takes its size from [Extra].
  s.O_gsize = ListIndex(store.ReadInteger("Option", "gsize", s.O_gsize), Settings::kSizeFitIndex + 1);
  s.extra_panel = store.ReadBool("Extra", "Panel", s.extra_panel);
  s.C_lossless = store.ReadBool("Extra", "lossless", s.C_lossless);
  s.keep_profile = store.ReadBool("Extra", "keep_profile", s.keep_profile);
  s.keep_alpha = store.ReadBool("Extra", "keep_alpha", s.keep_alpha);
  s.strip_location = store.ReadBool("Extra", "strip_location", s.strip_location);
  s.size_fit = store.ReadString("Extra", "size", s.size_fit);
  s.long_edge = std::max(0, store.ReadInteger("Extra", "long_edge", s.long_edge));
  s.enlarge = store.ReadBool("Extra", "enlarge", s.enlarge);
  const std::string fit = store.ReadString("Extra", "fit", "");
  if (fit == "contain" || fit == "cover" || fit == "fill")
    s.fit = fit == "cover" ? Settings::Fit::kCover : fit == "fill" ? Settings::Fit::kFill : Settings::Fit::kContain;
  const int rotate = store.ReadInteger("Extra", "rotate", s.rotate);
  if (rotate == 0 || rotate == 90 || rotate == 180 || rotate == 270) s.rotate = rotate;
  const std::string flip = store.ReadString("Extra", "flip", std::string(s.flip ? 1 : 0, s.flip));
  if (flip.empty() || flip == "h" || flip == "v") s.flip = flip.empty() ? 0 : flip[0];
  // A pattern that cannot name a file is passed over, as if there were none.
  const std::string rename = store.ReadString("Extra", "rename", s.rename);
  if (rename.empty() || PatternProblem(rename).empty()) s.rename = rename;
  for (const OutputRow* row : OutputsInBarOrder()) {
    if (!row->format().takes_quality) continue;
    const std::string key = std::string("quality_") + row->format().extension;
    if (!store.HasKey("Extra", key)) continue;
    const int q = store.ReadInteger("Extra", key, 0);
    if (q >= 1 && q <= 10) s.format_quality[row->format().extension] = q;
  }
}

void SaveMainSettings(IniStore& store, const Settings& s, bool window) {
  if (window) {
    store.WritePosition("Window", "Pos", s.pos_x, s.pos_y);
    store.WriteSize("Window", "Size", s.size_x, s.size_y);
    store.WriteString("Window", "Window_State", s.window_state.empty() ? "Normal" : s.window_state);
  }
  for (const OutputRow* row : OutputsInBarOrder())
    store.WriteBool("Format", row->format().extension, s.*row->ticked);
  store.WriteBool("Effect", "Panel", s.effect_panel);
  store.WriteBool("Effect", "Trans", s.C_Trans);
  store.WriteBool("Effect", "Multipdf", s.C_Multipdf);
  store.WriteBool("Effect", "animegif", s.C_animegif);
  store.WriteInteger("Effect", "PixelColor", s.C_PixelColor);
  store.WriteString("Effect", "delay", s.C_delay);
  store.WriteBool("Option", "Panel", s.option_panel);
  store.WriteInteger("Option", "quality", s.O_quality_c);
  store.WriteInteger("Option", "icosize", s.O_icosize);
  store.WriteInteger("Option", "gsize", s.O_gsize);
  store.WriteBool("Extra", "Panel", s.extra_panel);
  store.WriteBool("Extra", "lossless", s.C_lossless);
  store.WriteBool("Extra", "keep_profile", s.keep_profile);
  store.WriteBool("Extra", "keep_alpha", s.keep_alpha);
  store.WriteBool("Extra", "strip_location", s.strip_location);
  store.WriteString("Extra", "size", s.size_fit);
  store.WriteInteger("Extra", "long_edge", s.long_edge);
  store.WriteBool("Extra", "enlarge", s.enlarge);
  store.WriteString("Extra", "fit", s.fit == Settings::Fit::kCover ? "cover" : s.fit == Settings::Fit::kFill ? "fill" : "contain");
  store.WriteInteger("Extra", "rotate", s.rotate);
  store.WriteString("Extra", "flip", std::string(s.flip ? 1 : 0, s.flip));
  store.WriteString("Extra", "rename", s.rename);
  for (const OutputRow* row : OutputsInBarOrder()) {
    if (!row->format().takes_quality) continue;
    const std::string key = std::string("quality_") + row->format().extension;
    if (auto q = s.format_quality.find(row->format().extension); q != s.format_quality.end())
      store.WriteInteger("Extra", key, q->second);
    else if (store.HasKey("Extra", key))
      store.DeleteKey("Extra", key);
  }
  store.Flush();
}

void LoadDialogSettings(IniStore& store, Settings& s) {
  // Radio buttons: checking one unchecks the others; unchecking touches only itself.
  auto radio = [&](const char* key, bool& self) {
    const bool on = store.ReadBool("Config_Save", key, self);
    if (on) s.S_sourcefile = s.S_app = s.S_folder = false;
    self = on;
  };
  radio("sourcefile", s.S_sourcefile);
  radio("app", s.S_app);
  radio("folder", s.S_folder);
  s.S_folder_n = store.ReadString("Config_Save", "folder_n", s.S_folder_n);
  s.A_dialog = store.ReadBool("Config_Active", "dialog", s.A_dialog);
  s.A_front = store.ReadBool("Config_Active", "front", s.A_front);
  s.A_send = store.ReadBool("Config_Active", "send", s.A_send);
  s.A_clip = store.ReadBool("Config_Active", "clip", s.A_clip);
  s.A_delete = store.ReadBool("Config_Active", "delete", s.A_delete);
  s.V_over = store.ReadBool("Config_Conv", "over", s.V_over);
  s.V_adds = store.ReadBool("Config_Conv", "adds", s.V_adds);
  s.V_olddate = store.ReadBool("Config_Conv", "olddate", s.V_olddate);
  s.V_transparent = store.ReadBool("Config_Conv", "transparent", s.V_transparent);
  // The metadata tick is an addition: [Extra]; a file that kept it in
  // [Config_Conv] is read once, and the key is not written back there.
  s.V_metadata = store.ReadBool("Extra", "keep_metadata", store.ReadBool("Config_Conv", "metadata", s.V_metadata));
}

DecodeRequest StandardRequest() {
  DecodeRequest request;
  request.standard_cmyk = std::make_shared<LazyProfile>([] { return platform::StandardCmykProfile(); });
  return request;
}

void LoadLimits(IniStore& store, DecodeLimits& limits) {
  auto read = [&](const char* key, int64_t& value) {
    const std::string text = store.ReadString("Limits", key, "");
    int64_t v = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (error == std::errc() && end == text.data() + text.size() && v > 0) value = v;
  };
  limits.max_memory = platform::DefaultMemoryLimit();
  read("MaxPixels", limits.max_pixels);
  read("MaxMemory", limits.max_memory);
  read("MaxSide", limits.max_side);
  read("MaxAllocation", limits.max_allocation);
  read("MaxFileSize", limits.max_file);
}

void SaveDialogSettings(IniStore& store, const Settings& s) {
  store.WriteBool("Config_Save", "sourcefile", s.S_sourcefile);
  store.WriteBool("Config_Save", "app", s.S_app);
  store.WriteBool("Config_Save", "folder", s.S_folder);
  store.WriteString("Config_Save", "folder_n", s.S_folder_n);
  store.WriteBool("Config_Active", "dialog", s.A_dialog);
  store.WriteBool("Config_Active", "front", s.A_front);
  store.WriteBool("Config_Active", "send", s.A_send);
  store.WriteBool("Config_Active", "clip", s.A_clip);
  store.WriteBool("Config_Active", "delete", s.A_delete);
  store.WriteBool("Config_Conv", "over", s.V_over);
  store.WriteBool("Config_Conv", "adds", s.V_adds);
  store.WriteBool("Config_Conv", "olddate", s.V_olddate);
  store.WriteBool("Config_Conv", "transparent", s.V_transparent);
  store.DeleteKey("Config_Conv", "metadata");
  store.WriteBool("Extra", "keep_metadata", s.V_metadata);
  store.Flush();
}

}  // namespace velmora
