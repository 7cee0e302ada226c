// IniStore: the settings file component. Knows where the file lies, fences
// string values, and stores positions and sizes as pairs of keys.
#pragma once

#include <memory>
#include <string>

#include "platform/ini_file.h"
#include "formats/graphic.h"
#include "image/limits.h"
#include "pipeline/settings.h"

namespace velmora {

class IniStore {
 public:
  enum class DefaultDir { ddApplication, ddWindows, ddNone };
  enum class Fence { fnDoubleQuote, fnParenthesis, fnVer11Mode, fnNone };

  DefaultDir default_dir = DefaultDir::ddApplication;
  Fence fence = Fence::fnNone;
  // When empty at load time: derived from the program file.
  std::string FileName;

  // The file in use (resolved on first access).
  IniFile& File();
  std::string ResolvedPath() const;

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def);
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool ReadBool(const std::string& section, const std::string& key, bool def) {
    return File().ReadBool(section, key, def);
  }
  void WriteBool(const std::string& section, const std::string& key, bool v) { File().WriteBool(section, key, v); }
  int ReadInteger(const std::string& section, const std::string& key, int def) {
    return File().ReadInteger(section, key, def);
  }
  void WriteInteger(const std::string& section, const std::string& key, int v) { File().WriteInteger(section, key, v); }
  void ReadPosition(const std::string& section, const std::string& key, int& x, int& y);
  void WritePosition(const std::string& section, const std::string& key, int x, int y);
  void ReadSize(const std::string& section, const std::string& key, int& w, int& h);
  void WriteSize(const std::string& section, const std::string& key, int w, int h);
  bool HasKey(const std::string& section, const std::string& key) { return File().HasKey(section, key); }
  void DeleteKey(const std::string& section, const std::string& key) { File().DeleteKey(section, key); }
  bool Flush(std::string* error = nullptr) { return File().Flush(error); }

 private:
  std::string Fenced(const std::string& value) const;
  std::unique_ptr<IniFile> file_;
};

// The settings file's name for a program file: its name with the extension
// ".INI", lower-cased, the first letter upper-cased (velmora -> Velmora.ini).
std::string SettingsFileName(const std::string& program_path);
// Beside the program when its folder can be written, else the config folder.
std::string SettingsFilePath(const std::string& program_path);

// The four load and save operations of the main window and the settings dialog.
void LoadMainSettings(IniStore& store, Settings& settings);
// window: write the [Window] keys (the desktop program); the console program
// leaves them as they were read.
void SaveMainSettings(IniStore& store, const Settings& settings, bool window = true);
void LoadDialogSettings(IniStore& store, Settings& settings);
// What every load asks of the decoders: the standard CMYK profile, when one
// is installed.
DecodeRequest StandardRequest();

// The limits of section "Limits" (MaxPixels, MaxSide, MaxAllocation,
// MaxFileSize, MaxMemory in bytes); a missing or unusable value keeps the
// default, the memory's from the machine.
void LoadLimits(IniStore& store, DecodeLimits& limits);
void SaveDialogSettings(IniStore& store, const Settings& settings);

}  // namespace velmora
