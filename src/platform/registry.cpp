#include "platform/ini_file.h"
#include "platform/platform.h"

namespace velmora::platform {

std::string RegistryPath() { return ConfigFolder() + "registry.ini"; }

std::string RegistryValue(const std::string& key_path, const std::string& value_name) {
  // Leading backslashes name the same key: "\Software\..." is "Software\...".
  std::string key = key_path;
  while (!key.empty() && key.front() == '\\') key.erase(0, 1);
  const IniFile registry(RegistryPath());
  return registry.ReadString(key, value_name, "");
}

}  // namespace velmora::platform
