// Small text helpers that must not depend on the locale: names of files,
// extensions and keys compare the same under every user's settings.
#pragma once

#include <string>

namespace velmora {

inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string LowerAscii(std::string text) {
  for (char& c : text) c = LowerAscii(c);
  return text;
}

}  // namespace velmora
