// An INI file with the semantics of the desktop's profile functions: sections
// and keys found without regard to case, defaults for missing keys, integers
// read from their leading digits, unknown lines kept on write, the file
// created by the first write.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class IniFile {
 public:
  explicit IniFile(std::string path);

  const std::string& Path() const { return path_; }
  bool Exists() const;

  std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
  int ReadInteger(const std::string& section, const std::string& key, int def) const;
  bool ReadBool(const std::string& section, const std::string& key, bool def) const;
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int value);
  void WriteBool(const std::string& section, const std::string& key, bool value);
  // Takes a key out (a key moved elsewhere is not written back).
  void DeleteKey(const std::string& section, const std::string& key);

  bool HasKey(const std::string& section, const std::string& key) const { return Find(section, key) != nullptr; }

  // Writes pending changes (atomically: a failed write leaves the old file).
  // The profile functions do not report failures; callers that do get the
  // reason in error.
  bool Flush(std::string* error = nullptr);

 private:
  void Load();
  const std::string* Find(const std::string& section, const std::string& key) const;

  std::string path_;
  std::vector<std::string> lines_;
  bool dirty_ = false;
};

}  // namespace velmora
