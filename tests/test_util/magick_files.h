// Decoding through the loader, and a fixture for inputs made by ImageMagick,
// the independent encoder of the reader tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "formats/loader.h"
#include "test_util.h"

namespace velmora::test {

inline RgbImage Decode(const Loader& loader, const std::string& path) {
  Bitmap b;
  loader.LoadFile(path)->AssignTo(b);
  return ToRgb(b);
}

// Skipped, saying so, where ImageMagick is not installed.
class MagickFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick (convert) is not installed";
  }
  std::string Make(const std::string& name, const std::string& args, const std::string& coder = "") {
    return MagickFile(dir / name, args, coder);
  }
  TempDir dir;
  Loader loader;
};

}  // namespace velmora::test
