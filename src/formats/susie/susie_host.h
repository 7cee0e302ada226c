// The Susie plug-in host: plug-ins (shared objects named *.spi, see
// susie_plugin.h) found at start-up, their extensions registered with
// SusieGraphicClass, and SusieBitmap, which asks them to decode a file.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/error.h"
#include "formats/graphic.h"
#include "formats/registry.h"
#include "formats/susie/susie_plugin.h"

namespace velmora {

// One loaded plug-in module. The kind follows its API version: 00IN import
// (pictures), 00AM archive, 00XN, or any other; only import plug-ins are
// asked for pictures.
class SusiePlugin {
 public:
  enum class Kind { kGeneric, kImport, kArchive, kXn };

  // Loads a module in two passes: generically, then as the kind its API
  // version names (the module loaded once). Raises PluginLoadError or
  // PluginApiError.
  // Only a regular file is loaded, and at most kMaxPatterns pairs of
  // pattern and description are read from it.
  static std::unique_ptr<SusiePlugin> Load(const std::string& path);
  static constexpr int kMaxPatterns = 256;
  ~SusiePlugin();
  SusiePlugin(const SusiePlugin&) = delete;
  SusiePlugin& operator=(const SusiePlugin&) = delete;

  Kind GetKind() const { return kind_; }
  // Whether the kind can be used as a loader (import and archive plug-ins).
  bool IsLoader() const { return kind_ == Kind::kImport || kind_ == Kind::kArchive; }
  const std::string& PluginFileName() const { return file_name_; }
  const std::string& ApiVersion() const { return api_version_; }
  const std::string& PluginName() const { return name_; }
  const std::vector<std::string>& FilterPatterns() const { return patterns_; }
  const std::vector<std::string>& FormatNames() const { return format_names_; }
  // Whether an item of FilterPatterns names the extension (any case).
  bool ListsExtension(const std::string& extension) const;

  // The entry points; null where the module does not export them.
  decltype(&::GetPluginInfo) get_plugin_info = nullptr;
  decltype(&::ConfigurationDlg) configuration_dlg = nullptr;
  decltype(&::IsSupported) is_supported = nullptr;
  decltype(&::GetPictureInfo) get_picture_info = nullptr;
  decltype(&::GetPicture) get_picture = nullptr;
  decltype(&::GetPreview) get_preview = nullptr;
  decltype(&::GetArchiveInfo) get_archive_info = nullptr;
  decltype(&::GetFileInfo) get_file_info = nullptr;
  decltype(&::GetFile) get_file = nullptr;

 private:
  SusiePlugin(const std::string& path, Kind kind);
  // The kind's required entries, the version, name and patterns.
  void ReadInfo();
  void RequireEntries() const;
  std::string Info(int32_t number) const;

  void* module_ = nullptr;
  Kind kind_;
  std::string file_name_;
  int fd_ = -1;  // the file the module was loaded from
  std::string api_version_;
  std::string name_;
  std::vector<std::string> patterns_;
  std::vector<std::string> format_names_;
};

enum class SearchOption { spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir };

// The one plug-in collection of the program, which the loader's SusieBitmap
// uses. Plug-ins stay loaded, and their extensions registered, until it is
// destroyed.
class SusiePlugins {
 public:
  // Raises PluginCollectionError "SusiePlugins は複数生成できません" while
  // another collection exists.
  explicit SusiePlugins(GraphicRegistry& registry);
  ~SusiePlugins();
  SusiePlugins(const SusiePlugins&) = delete;
  SusiePlugins& operator=(const SusiePlugins&) = delete;

  std::set<SearchOption> SearchOptions{SearchOption::spsSusieDir, SearchOption::spsAppDir};
  bool AutoSearch = true;
  // Vetoes, unassigned by the programs: a file before it is loaded, a loaded
  // plug-in before it joins, the class registered for an extension (set it
  // to null to register nothing).
  std::function<void(const std::string& file, bool& accept)> OnSearching;
  std::function<void(const SusiePlugin& plugin, bool& accept)> OnSearch;
  std::function<void(const SusiePlugin& plugin, const GraphicClass*& cls, const std::string& description,
                     const std::string& extension)>
      OnPictureRegister;

  // Loads the plug-ins matching pattern ("*.spi"): in the pattern's own
  // folder when it names one, else in each folder of SearchOptions.
  void Search(const std::string& pattern);
  // What the programs do once their windows (or options) are ready: Search
  // "*.spi" when AutoSearch is on.
  void Loaded();

  const std::vector<std::unique_ptr<SusiePlugin>>& Plugins() const { return plugins_; }
  // The import plug-in whose registration of the extension is in force, or
  // nullptr.
  const SusiePlugin* PluginForExtension(const std::string& extension) const;

  // The collection that exists, or nullptr.
  static SusiePlugins* Current();

  // Folders the search options stand for on this system; a folder refused
  // (a relative registry path) adds a warning when warnings is given.
  static std::vector<std::string> Folders(const std::set<SearchOption>& options,
                                          std::vector<std::string>* warnings = nullptr);
  // What the searches passed over and why, one line each: a relative
  // registry path, a folder or file other users can write.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  void SearchFolder(const std::string& folder, const std::string& pattern);
  void Add(std::unique_ptr<SusiePlugin> plugin);

  GraphicRegistry& registry_;
  std::vector<std::unique_ptr<SusiePlugin>> plugins_;
  std::vector<std::pair<std::string, const SusiePlugin*>> registered_;  // extension (lower case), plug-in
  std::vector<std::string> warnings_;
};

// The graphic class GraphicRegistry holds for every plug-in extension.
const GraphicClass& SusieGraphicClass();

// A picture read through the plug-ins, or through the bitmap class's own BMP
// reader: for a .bmp (or a nameless stream) that reader first, for any other
// extension the plug-ins first.
class SusieBitmap : public BitmapGraphic {
 public:
  static constexpr const char* kNativeExtension = "BMP";

  std::string ClassName() const override { return "SusieBitmap"; }

  // When a plug-in refuses the data, ask it again past the first 128 bytes.
  bool RetryPastHeader = true;
  // One import plug-in to ask instead of the collection.
  const SusiePlugin* FixedPlugin = nullptr;
  // Called with the percentage while a plug-in decodes; returning true
  // stops the plug-in and the load fails with "画像の読み込みが中止されました".
  std::function<bool(int percent)> OnProgress;

 protected:
  void OnLoad(const uint8_t* data, size_t size) override;

 private:
  bool ReadOwn(const uint8_t* data, size_t size);
  bool AskPlugins(const uint8_t* data, size_t size);
  bool Ask(const SusiePlugin& plugin, const uint8_t* data, size_t size);
  bool TryOnce(const SusiePlugin& plugin, const uint8_t* data, size_t size);
  void Build(const SusiePlugin& plugin, const uint8_t* info, size_t info_size, const uint8_t* bits, size_t bits_size);
  friend int32_t SusieProgressThunk(int32_t done, int32_t total, intptr_t context);

  bool stop_requested_ = false;
  std::string first_fault_;  // what the first plug-in that returned nonsense did
};

}  // namespace velmora
