#include "app/presets.h"

#include <algorithm>

#include "base/messages.h"
#include "platform/platform.h"

namespace velmora {

std::string PresetFolder() { return platform::ConfigFolder() + "presets/"; }

std::string PresetProblem(const std::string& name) {
  if (name.empty()) return Tr("a preset needs a name");
  if (name.find('/') != std::string::npos) return Tr("a preset's name cannot hold '/'");
  if (name[0] == '.') return Tr("a preset's name cannot start with '.'");
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) return Tr("a preset's name cannot hold control characters");
  return "";
}

std::string PresetPath(const std::string& name) { return PresetFolder() + name + ".ini"; }

std::vector<std::string> PresetNames() {
  std::vector<std::string> names;
  if (!platform::FolderExists(PresetFolder())) return names;
  for (const auto& entry : platform::ListFolder(PresetFolder())) {
    const std::string& file = entry.name;
    if (entry.folder || file.size() <= 4 || file.compare(file.size() - 4, 4, ".ini") != 0) continue;
    const std::string name = file.substr(0, file.size() - 4);
    if (PresetProblem(name).empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velmora
