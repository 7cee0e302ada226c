// A module named .spi without GetPluginInfo: the host must skip it.
#include <cstdint>

extern "C" int32_t IsSupported(const char*, const void*) { return 1; }
