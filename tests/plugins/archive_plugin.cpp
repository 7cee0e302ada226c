// A test archive plug-in (00AM): it has every entry an archive plug-in needs
// and logs any call after loading, which the host must never make.
#include <cstdint>
#include <cstring>

#include "formats/susie/susie_plugin.h"
#include "test_log.h"

extern "C" {

int32_t GetPluginInfo(int32_t number, char* buffer, int32_t length) {
  const char* texts[] = {"00AM", "test archive plug-in", "*.lzh", "LHA archives"};
  if (number < 0 || number > 3 || length < 32) return 0;
  std::strcpy(buffer, texts[number]);
  return static_cast<int32_t>(std::strlen(buffer));
}

int32_t IsSupported(const char* file_name, const void*) {
  LogCall("archive IsSupported %s", file_name);
  return 1;
}

int32_t GetArchiveInfo(const char*, intptr_t, uint32_t, void**) {
  LogCall("archive GetArchiveInfo");
  return SUSIE_NOT_IMPLEMENTED;
}

int32_t GetFileInfo(const char*, intptr_t, const char*, uint32_t, void*) {
  LogCall("archive GetFileInfo");
  return SUSIE_NOT_IMPLEMENTED;
}

int32_t GetFile(const char*, intptr_t, char*, uint32_t, SusieProgressCallback, intptr_t) {
  LogCall("archive GetFile");
  return SUSIE_NOT_IMPLEMENTED;
}

}  // extern "C"
