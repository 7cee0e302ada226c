// Runs velmora-cli as a user would, on real files in a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "test_util.h"

namespace velmora::test {

inline const std::string kCli = std::string(VELMORA_BINARY_DIR) + "/src/velmora-cli";

struct Result {
  int status;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  // Runs the program in the scratch folder with its own settings file, in
  // English unless env (VAR=value ..., prepended to the command) says
  // otherwise.
  Result Cli(const std::string& args, const std::string& env = "") {
    const std::string err = dir / "stderr.txt";
    Result r;
    r.status = test::Run("cd '" + dir.Path().string() + "' && LANG=en_US.UTF-8 " + env + " '" + kCli + "' --ini '" + (dir / "Velmora.ini") +
                       "' " + args + " </dev/null 2>'" + err + "'",
                   &r.out);
    const auto e = test::ReadFile(err);
    r.err.assign(e.begin(), e.end());
    std::filesystem::remove(err);
    return r;
  }
  // A BMP of the colours, width per row, in the scratch folder.
  std::string Bmp(const std::string& name, const std::vector<ColorValue>& colors, int width) {
    return SaveBmp(dir / name, RgbBitmap(width, static_cast<int>(colors.size()) / width,
                                         [&](int x, int y) { return colors[static_cast<size_t>(y * width + x)]; }));
  }
  std::string Small(const std::string& name, ColorValue color = MakeColor(200, 40, 40)) {
    return Bmp(name, std::vector<ColorValue>(16, color), 4);
  }
  TempDir dir;
};

// Peak resident memory, in KiB, of velmora-cli run with args in folder
// (its output thrown away); -1 when it did not end with status 0.
long PeakKib(const std::string& folder, const std::vector<std::string>& args);

}  // namespace velmora::test
