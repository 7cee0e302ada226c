// What the test plug-ins were asked, appended to the file named by
// $VELMORA_PLUGIN_LOG so that the tests can see the host's calls.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void LogCall(const char* format, ...) __attribute__((format(printf, 1, 2)));
#include <cstdarg>
inline void LogCall(const char* format, ...) {
  const char* path = std::getenv("VELMORA_PLUGIN_LOG");
  if (!path || !*path) return;
  FILE* log = std::fopen(path, "a");
  if (!log) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(log, format, args);
  va_end(args);
  std::fputc('\n', log);
  std::fclose(log);
}
