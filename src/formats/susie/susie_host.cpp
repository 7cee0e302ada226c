#include "formats/susie/susie_host.h"
#include "base/messages.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <link.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <utility>

#include "base/paths.h"
#include "formats/formats.h"
#include "formats/loader.h"
#include "image/byte_order.h"
#include "image/limits.h"
#include "platform/platform.h"

namespace velmora {
namespace {

SusiePlugins* g_current = nullptr;


SusiePlugin::Kind KindOf(const std::string& version) {
  if (version == "00IN") return SusiePlugin::Kind::kImport;
  if (version == "00AM") return SusiePlugin::Kind::kArchive;
  if (version == "00XN") return SusiePlugin::Kind::kXn;
  return SusiePlugin::Kind::kGeneric;
}

// The module's own name for itself, or the path it was loaded from.
std::string ModuleFileName(void* module, const std::string& path) {
  link_map* map = nullptr;
  if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name && *map->l_name) {
    if (char* real = realpath(map->l_name, nullptr)) {
      std::string name = real;
      std::free(real);
      return name;
    }
    return map->l_name;
  }
  return path;
}

// The bytes a malloc()ed block of a plug-in holds.
size_t BlockSize(const void* block) { return block ? malloc_usable_size(const_cast<void*>(block)) : 0; }

struct FreeBlock {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<void, FreeBlock>;


// Whether another user can change what lies at path: not owned by this user
// or root, or writable by the group or others. A folder that others may
// write but that keeps each entry to its owner (sticky, owned by root, as
// /tmp is) changes nothing for entries of ours.
bool OthersCanChange(const struct stat& st, bool keeps_entries_to_owners) {
  const uid_t me = geteuid();
  if (st.st_uid != me && st.st_uid != 0) return true;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) == 0) return false;
  return !(keeps_entries_to_owners && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) && st.st_uid == 0);
}

// The folder at or above real (a path without links) that another user can
// change, as OpenSSH checks the folders above a key file; empty when none.
std::optional<std::string> ChangeableFolderAbove(const std::string& real) {
  std::string folder = real;
  while (folder.size() > 1) {
    const size_t slash = folder.find_last_of('/');
    folder = slash == 0 ? "/" : folder.substr(0, slash);
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || OthersCanChange(st, true)) return folder;
  }
  return std::nullopt;
}

// Why code may not be loaded from path (a plug-in or a folder of them),
// followed through links: the warning that names it; nothing when it is safe.
std::optional<std::string> UnsafeToLoad(const std::string& path, bool folder) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;  // nothing there to load
  const std::string real = resolved;
  std::free(resolved);
  struct stat st {};
  if (lstat(real.c_str(), &st) != 0) return std::nullopt;
  if (OthersCanChange(st, false))
    return Tr(folder ? N_("plug-in folder {1} can be written by other users; no plug-in is loaded from it")
                     : N_("plug-in {1} can be written by other users; it is not loaded"),
              {path});
  if (auto above = ChangeableFolderAbove(real))
    return Tr(folder ? N_("plug-in folder {1} lies in {2}, which other users can change; no plug-in is loaded from it")
                     : N_("plug-in {1} lies in {2}, which other users can change; it is not loaded"),
              {path, *above});
  return std::nullopt;
}

// Opens a plug-in that passed UnsafeToLoad: its real path, the last step no
// link, and the open file itself a regular file nobody else can change.
// Returns the descriptor (real set) or -1.
int OpenPluginFile(const std::string& path, std::string& real) {
  if (UnsafeToLoad(path, false)) return -1;
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return -1;
  real = resolved;
  std::free(resolved);
  // Without blocking: a FIFO named *.spi would wait for a writer for ever.
  const int fd = open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  struct stat st {};
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !OthersCanChange(st, false)) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

}  // namespace

// --- SusiePlugin -----------------------------------------------------------

SusiePlugin::SusiePlugin(const std::string& path, Kind kind) : kind_(kind) {
  // The file is checked and opened once, and what is loaded is that open
  // file: nobody can put another one in its place between the two.
  // The descriptor stays open while the module is loaded: the loader knows
  // a module by the name it was opened under, and no other plug-in may then
  // come under the same /proc name.
  std::string real;
  const int fd = OpenPluginFile(path, real);
  if (fd < 0) throw Error(ErrorKind::kUnsupported, Tr("{1}:Susie Pluginがロードできませんでした", {path}));
  fd_ = fd;
  struct stat st {};
  fstat(fd, &st);
  module_ = dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module_) {
    // Without /proc the path is loaded, and must turn out to be the file opened.
    module_ = dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
    struct stat loaded {};
    if (module_ && (stat(ModuleFileName(module_, real).c_str(), &loaded) != 0 || loaded.st_dev != st.st_dev ||
                    loaded.st_ino != st.st_ino)) {
      dlclose(module_);
      module_ = nullptr;
    }
  }
  if (!module_) {
    close(std::exchange(fd_, -1));
    throw Error(ErrorKind::kUnsupported, Tr("{1}:Susie Pluginがロードできませんでした", {path}));
  }
  file_name_ = real;
  auto entry = [&](auto& slot, const char* name) { slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(module_, name)); };
  entry(get_plugin_info, "GetPluginInfo");
  entry(configuration_dlg, "ConfigurationDlg");
  entry(is_supported, "IsSupported");
  entry(get_picture_info, "GetPictureInfo");
  entry(get_picture, "GetPicture");
  entry(get_preview, "GetPreview");
  entry(get_archive_info, "GetArchiveInfo");
  entry(get_file_info, "GetFileInfo");
  entry(get_file, "GetFile");
  try {
    ReadInfo();
  } catch (...) {
    dlclose(module_);
    module_ = nullptr;
    close(std::exchange(fd_, -1));
    throw;
  }
}

SusiePlugin::~SusiePlugin() {
  if (module_) dlclose(module_);
  if (fd_ >= 0) close(fd_);
}

void SusiePlugin::ReadInfo() {
  RequireEntries();
  api_version_ = Info(0);
  name_ = Info(1);
  patterns_.clear();
  format_names_.clear();
  // A plug-in that answers every number would otherwise be asked for ever.
  for (int32_t n = 2; n < 2 + 2 * kMaxPatterns; n += 2) {
    std::string pattern = Info(n);
    std::string description = Info(n + 1);
    if (pattern.empty() || description.empty()) break;
    patterns_.push_back(std::move(pattern));
    format_names_.push_back(std::move(description));
  }
}

void SusiePlugin::RequireEntries() const {
  auto require = [&](const void* entry, const char* name) {
    if (!entry) throw Error(ErrorKind::kUnsupported, Tr("{1}は[{2}]では使えないSusie Plugin APIです", {name, file_name_}));
  };
  require(reinterpret_cast<const void*>(get_plugin_info), "GetPluginInfo");
  if (kind_ == Kind::kImport || kind_ == Kind::kArchive)
    require(reinterpret_cast<const void*>(is_supported), "IsSupported");
  if (kind_ == Kind::kImport) {
    require(reinterpret_cast<const void*>(get_picture_info), "GetPictureInfo");
    require(reinterpret_cast<const void*>(get_picture), "GetPicture");
  }
  if (kind_ == Kind::kArchive) {
    require(reinterpret_cast<const void*>(get_archive_info), "GetArchiveInfo");
    require(reinterpret_cast<const void*>(get_file_info), "GetFileInfo");
    require(reinterpret_cast<const void*>(get_file), "GetFile");
  }
}

std::string SusiePlugin::Info(int32_t number) const {
  // 255 is what the plug-in may write; the extra bytes stay zero whatever it
  // does with the terminator.
  char buffer[258] = {};
  if (get_plugin_info(number, buffer, 255) <= 0) return {};
  return std::string(buffer, strnlen(buffer, 256));
}

std::unique_ptr<SusiePlugin> SusiePlugin::Load(const std::string& path) {
  std::unique_ptr<SusiePlugin> plugin(new SusiePlugin(path, Kind::kGeneric));
  // The second pass takes the module, loaded once from the file checked, as
  // the kind its API version names, with that kind's required entries.
  plugin->kind_ = KindOf(plugin->ApiVersion());
  plugin->ReadInfo();
  return plugin;
}

bool SusiePlugin::ListsExtension(const std::string& extension) const {
  const std::string wanted = LowerAscii(extension);
  for (const std::string& pattern : patterns_) {
    size_t start = 0;
    while (start <= pattern.size()) {
      const size_t end = std::min(pattern.find(';', start), pattern.size());
      const std::string item = pattern.substr(start, end - start);
      const size_t dot = item.find('.');
      if (LowerAscii(dot == std::string::npos ? item : item.substr(dot + 1)) == wanted) return true;
      start = end + 1;
    }
  }
  return false;
}

// --- SusiePlugins ----------------------------------------------------------

SusiePlugins::SusiePlugins(GraphicRegistry& registry) : registry_(registry) {
  if (g_current) throw Error(ErrorKind::kInternal, Tr("SusiePlugins は複数生成できません"));
  g_current = this;
}

SusiePlugins::~SusiePlugins() {
  registry_.UnregisterClass(&SusieGraphicClass());
  plugins_.clear();
  g_current = nullptr;
}

SusiePlugins* SusiePlugins::Current() { return g_current; }

void SusiePlugins::Loaded() {
  if (AutoSearch) Search("*.spi");
}

std::vector<std::string> SusiePlugins::Folders(const std::set<SearchOption>& options,
                                               std::vector<std::string>* warnings) {
  std::vector<std::string> folders;
  auto add = [&](std::string folder) {
    if (folder.empty()) return;
    if (folder.back() != '/') folder += '/';
    folders.push_back(std::move(folder));
  };
  // In the order of the options, whatever order the set keeps.
  for (SearchOption option : {SearchOption::spsSusieDir, SearchOption::spsAppDir, SearchOption::spsCurrentDir,
                              SearchOption::spsSystemDir, SearchOption::spsWindowsDir}) {
    if (!options.count(option)) continue;
    switch (option) {
      case SearchOption::spsSusieDir: {
        // A relative folder would follow the current folder: starting the
        // program inside a folder of pictures would load what lies there.
        const std::string path = platform::RegistryValue("Software\\Halvik\\Susie\\Plug-in", "Path");
        if (!path.empty() && path[0] != '/') {
          if (warnings) warnings->push_back(Tr("the plug-in folder \"{1}\" in {2} is not an absolute path; it is not searched",
                                               {path, platform::RegistryPath()}));
          break;
        }
        add(path);
        break;
      }
      case SearchOption::spsAppDir:
        add(platform::ProgramFolder());
        break;
      case SearchOption::spsCurrentDir:
        add(std::filesystem::current_path().string());
        break;
      case SearchOption::spsSystemDir:
        add("/usr/lib/velmora/plugins/");
        break;
      case SearchOption::spsWindowsDir:
        add("/usr/local/lib/velmora/plugins/");
        break;
    }
  }
  return folders;
}

void SusiePlugins::Search(const std::string& pattern) {
  if (pattern.find('/') != std::string::npos) {
    SearchFolder(FolderOf(pattern), FileNameOf(pattern));
    return;
  }
  for (const std::string& folder : Folders(SearchOptions, &warnings_)) SearchFolder(folder, pattern);
}

void SusiePlugins::SearchFolder(const std::string& folder, const std::string& pattern) {
  if (auto warning = UnsafeToLoad(folder, /*folder=*/true)) {
    warnings_.push_back(*warning);
    return;
  }
  std::vector<std::string> files;
  try {
    for (const platform::FolderEntry& entry : platform::ListFolder(folder)) {
      if (entry.folder || entry.name.empty() || entry.name[0] == '.') continue;  // hidden
      if (fnmatch(pattern.c_str(), entry.name.c_str(), FNM_CASEFOLD) != 0) continue;
      files.push_back(folder + entry.name);
    }
  } catch (const Error&) {
    return;  // a folder that cannot be listed holds no plug-ins
  }
  std::sort(files.begin(), files.end());
  for (const std::string& file : files) {
    // A module already in the collection, under any spelling of its name.
    char* real = realpath(file.c_str(), nullptr);
    const std::string full = real ? real : file;
    std::free(real);
    const bool known = std::any_of(plugins_.begin(), plugins_.end(), [&](const auto& p) {
      return LowerAscii(p->PluginFileName()) == LowerAscii(full);
    });
    if (known) continue;
    if (auto warning = UnsafeToLoad(file, /*folder=*/false)) {
      warnings_.push_back(*warning);
      continue;
    }
    bool accept = true;
    if (OnSearching) OnSearching(file, accept);
    if (!accept) continue;
    std::unique_ptr<SusiePlugin> plugin;
    try {
      plugin = SusiePlugin::Load(file);
    } catch (const Error&) {
      continue;
    }
    try {
      if (OnSearch) OnSearch(*plugin, accept);
      if (accept) Add(std::move(plugin));
    } catch (const Error&) {
      // The plug-in is released; the search goes on.
    }
  }
}

void SusiePlugins::Add(std::unique_ptr<SusiePlugin> plugin) {
  const SusiePlugin* p = plugin.get();
  plugins_.push_back(std::move(plugin));
  if (p->GetKind() != SusiePlugin::Kind::kImport) return;
  for (size_t i = 0; i < p->FilterPatterns().size(); ++i) {
    const std::string& pattern = p->FilterPatterns()[i];
    size_t start = 0;
    while (start <= pattern.size()) {
      const size_t end = std::min(pattern.find(';', start), pattern.size());
      const std::string item = pattern.substr(start, end - start);
      start = end + 1;
      const size_t dot = item.find('.');
      const std::string extension = dot == std::string::npos ? item : item.substr(dot + 1);
      if (extension.empty()) continue;
      const GraphicClass* cls = &SusieGraphicClass();
      if (OnPictureRegister) OnPictureRegister(*p, cls, p->FormatNames()[i], extension);
      if (!cls) continue;
      registry_.RegisterFileFormat(extension, p->FormatNames()[i], cls);
      registered_.emplace_back(LowerAscii(extension), p);
    }
  }
}

const SusiePlugin* SusiePlugins::PluginForExtension(const std::string& extension) const {
  if (registry_.FindExtension(extension) != &SusieGraphicClass()) return nullptr;
  const std::string wanted = LowerAscii(extension);
  for (auto it = registered_.rbegin(); it != registered_.rend(); ++it)
    if (it->first == wanted) return it->second;
  return nullptr;
}

// --- SusieBitmap -----------------------------------------------------------

const GraphicClass& SusieGraphicClass() {
  static const GraphicClass cls{"SusieBitmap", [] { return std::make_unique<SusieBitmap>(); }, {}};
  return cls;
}

// Runs on the plug-in's stack: nothing may unwind through it.
int32_t SusieProgressThunk(int32_t done, int32_t total, intptr_t context) {
  if (context == 0) return 0;
  auto* self = reinterpret_cast<SusieBitmap*>(context);
  try {
    const double share = total > 0 ? static_cast<double>(std::clamp(done, 0, total)) / total : 0.0;
    const int percent = static_cast<int>(std::lround(share * 98)) + 1;
    if (self->OnProgress && self->OnProgress(percent)) {
      self->stop_requested_ = true;
      return 1;
    }
  } catch (...) {
    self->stop_requested_ = true;
    return 1;
  }
  return 0;
}

namespace {
extern "C" int32_t ProgressEntry(int32_t done, int32_t total, intptr_t context) {
  return SusieProgressThunk(done, total, context);
}
}  // namespace

void SusieBitmap::OnLoad(const uint8_t* data, size_t size) {
  stop_requested_ = false;
  first_fault_.clear();
  const std::string extension = ExtensionOf(FileName());
  const bool own_first = extension.empty() || LowerAscii(extension) == LowerAscii(kNativeExtension);
  const bool done = own_first ? (ReadOwn(data, size) || AskPlugins(data, size))
                              : (AskPlugins(data, size) || ReadOwn(data, size));
  if (done) return;
  if (!first_fault_.empty()) throw Error(ErrorKind::kInvalidData, first_fault_);
  throw Error(ErrorKind::kUnsupported, Tr("認識できない画像形式です"));
}

bool SusieBitmap::ReadOwn(const uint8_t* data, size_t size) {
  try {
    auto own = BitmapClass().create();
    own->SetLimits(Limits());
    own->LoadFromMemory(data, size);
    own->AssignTo(bitmap_);
    return true;
  } catch (const Error&) {
    return false;
  }
}

bool SusieBitmap::AskPlugins(const uint8_t* data, size_t size) {
  // Plug-ins are promised one caller at a time, however many sources a
  // batch decodes at once.
  static std::mutex one_at_a_time;
  const std::lock_guard<std::mutex> lock(one_at_a_time);
  if (FixedPlugin) return Ask(*FixedPlugin, data, size);
  const SusiePlugins* plugins = SusiePlugins::Current();
  if (!plugins) return false;
  const std::string extension = ExtensionOf(FileName());
  std::vector<const SusiePlugin*> listing, others;
  for (const auto& p : plugins->Plugins()) {
    if (p->GetKind() != SusiePlugin::Kind::kImport) continue;
    (!extension.empty() && p->ListsExtension(extension) ? listing : others).push_back(p.get());
  }
  std::reverse(listing.begin(), listing.end());  // the one loaded last first
  for (const auto* group : {&listing, &others})
    for (const SusiePlugin* p : *group)
      if (Ask(*p, data, size)) return true;
  return false;
}

bool SusieBitmap::Ask(const SusiePlugin& plugin, const uint8_t* data, size_t size) {
  if (TryOnce(plugin, data, size)) return true;
  return RetryPastHeader && size > 128 && TryOnce(plugin, data + 128, size - 128);
}

bool SusieBitmap::TryOnce(const SusiePlugin& plugin, const uint8_t* data, size_t size) {
  std::vector<uint8_t> padded;
  const uint8_t* address = data;
  if (size < 2048) {
    padded.assign(2048, 0);
    std::memcpy(padded.data(), data, size);
    address = padded.data();
  }
  const char* name = FileName().c_str();
  const char* bytes = reinterpret_cast<const char*>(address);
  if (plugin.is_supported(name, address) == 0) return false;
  SusiePictureInfo info{};
  if (plugin.get_picture_info(bytes, static_cast<intptr_t>(size), SUSIE_INPUT_MEMORY, &info) == SUSIE_SUCCESS &&
      info.text) {
    // Read for its own sake only; nothing depends on it.
    const std::string text(info.text, strnlen(info.text, BlockSize(info.text)));
    std::free(info.text);
  }
  void* info_handle = nullptr;
  void* bits_handle = nullptr;
  const int32_t result =
      plugin.get_picture(bytes, static_cast<intptr_t>(size), SUSIE_INPUT_MEMORY, &info_handle, &bits_handle,
                         &ProgressEntry, OnProgress ? reinterpret_cast<intptr_t>(this) : 0);
  if (stop_requested_) {
    if (result == SUSIE_SUCCESS) {
      std::free(info_handle);
      std::free(bits_handle);
    }
    throw Error(ErrorKind::kCancelled, Tr("画像の読み込みが中止されました"));
  }
  // A plug-in that failed has released its blocks itself.
  if (result != SUSIE_SUCCESS) return false;
  const Block info_block(info_handle), bits_block(bits_handle);
  try {
    Build(plugin, static_cast<const uint8_t*>(info_block.get()), BlockSize(info_block.get()),
          static_cast<const uint8_t*>(bits_block.get()), BlockSize(bits_block.get()));
  } catch (const Error& e) {
    if (first_fault_.empty()) first_fault_ = e.what();
    return false;
  }
  return true;
}

void SusieBitmap::Build(const SusiePlugin& plugin, const uint8_t* info, size_t info_size, const uint8_t* bits,
                        size_t bits_size) {
  const std::string who = Tr("Susie plug-in error: {1}", {FileNameOf(plugin.PluginFileName())});
  auto fault = [&](const std::string& what) { throw Error(ErrorKind::kInvalidData, who + ": " + what); };
  if (!info || !bits) fault(Tr("it returned no picture"));
  // Block sizes are what malloc_usable_size says, which may round up: the
  // messages name what was needed, not what was measured.
  if (info_size < 40) fault(Tr("its picture information block is smaller than a 40-byte header"));
  const int32_t width = static_cast<int32_t>(GetLe32(info + 4));
  const int32_t height = static_cast<int32_t>(GetLe32(info + 8));
  const int bit_count = GetLe16(info + 14);
  const uint32_t compression = GetLe32(info + 16);
  uint32_t colours = GetLe32(info + 32);
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32)
    fault(Tr("its picture has {1} bits per pixel", {std::to_string(bit_count)}));
  if (width <= 0 || height == 0 || height == INT32_MIN)
    fault(Tr("its picture is {1} x {2} pixels", {std::to_string(width), std::to_string(height)}));
  const int64_t rows = std::abs(static_cast<int64_t>(height));
  if (colours == 0) colours = bit_count == 1 ? 2 : bit_count == 4 ? 16 : bit_count == 8 ? 256 : 0;
  if (bit_count <= 8 && colours > (1u << bit_count))
    fault(Tr("its {1}-bit picture claims {2} colours", {std::to_string(bit_count), std::to_string(colours)}));
  if (bit_count > 8 && colours > 256) fault(Tr("its colour table claims {1} entries", {std::to_string(colours)}));
  // Masks follow the header of a bit-field picture; the BMP reader finds
  // them there, so they travel along.
  const size_t masks = compression == 3 && (bit_count == 16 || bit_count == 32) ? 12 : 0;
  const size_t table = 40 + masks + size_t{colours} * 4;
  if (info_size < table)
    fault(Tr("its picture information block is smaller than the {1} bytes its header and colour table need",
             {std::to_string(table)}));
  // Divided, not multiplied: a claimed size cannot overflow the check.
  const uint64_t row_bytes = ((uint64_t(bit_count) * uint64_t(width) + 31) / 32) * 4;
  if (uint64_t(rows) > bits_size / row_bytes)
    fault(Tr("its pixel block is smaller than a {1} x {2} picture of {3} bits needs",
             {std::to_string(width), std::to_string(rows), std::to_string(bit_count)}));
  ClaimSize(width, rows, who.c_str());
  const uint64_t image = row_bytes * uint64_t(rows);
  CheckAllocation(Limits(), static_cast<int64_t>(14 + table + image), who.c_str());
  std::vector<uint8_t> file(14 + table + image);
  file[0] = 'B', file[1] = 'M';
  PutLe32(&file[2], static_cast<uint32_t>(file.size()));
  PutLe32(&file[10], static_cast<uint32_t>(14 + table));
  std::memcpy(&file[14], info, table);
  PutLe32(&file[14], 40);             // the header the block begins with, whatever it says
  PutLe32(&file[14 + 32], colours);   // the colour count the table was measured by
  std::memcpy(&file[14 + table], bits, image);
  auto own = BitmapClass().create();
  own->SetLimits(Limits());
  own->LoadFromMemory(file.data(), file.size());
  own->AssignTo(bitmap_);
  // A 4-bit picture keeps exactly the colours of its table.
  if (bit_count == 4 && colours > 0) {
    std::vector<RgbQuad> palette(colours);
    for (uint32_t i = 0; i < colours; ++i) {
      const uint8_t* e = info + 40 + i * 4;
      palette[i] = {e[0], e[1], e[2], 0};
    }
    bitmap_.SetPalette(palette);
  }
}

}  // namespace velmora
