// Prints the lists the build makes from the input formats' descriptors:
//   velmora-format-lists mime   the desktop entry's MimeType value
#include <cstdio>
#include <cstring>

#include "formats/input_format.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "mime") == 0) {
    std::printf("%s\n", velmora::DesktopMimeTypes().c_str());
    return 0;
  }
  std::fprintf(stderr, "usage: %s mime\n", argv[0]);
  return 2;
}
