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

}  // namespace velmora
