// Splitting paths into folder and file name ("/" is the only separator).
#pragma once

#include <filesystem>
#include <string>

namespace velmora {

// The file-name part: everything after the last "/".
inline std::string FileNameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The folder part with one trailing "/" ("/" for a file in the root), or
// the empty string for a bare file name.
inline std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) return path.rfind('/', 0) == 0 ? "/" : "";
  return folder.back() == '/' ? folder : folder + "/";
}

// The path without the extension of its file name (the part from the last
// dot on; a dot in a folder's name does not count).
inline std::string StemOf(const std::string& path) {
  const size_t name_start = path.size() - FileNameOf(path).size();
  const size_t dot = path.rfind('.');
  return dot != std::string::npos && dot >= name_start ? path.substr(0, dot) : path;
}

// The extension of a path: the part of its file name after the last dot
// (empty when the name has none).
inline std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

}  // namespace velmora
