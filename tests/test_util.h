// Helpers shared by the tests: scratch folders, files, external checkers and an
// independent PNG reader (libpng) for reference pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bitmap.h"

namespace velmora::test {

std::filesystem::path TestData(const std::string& relative);

// A fresh empty folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);

// Runs a shell command; returns its exit status and fills output with stdout.
int Run(const std::string& command, std::string* output = nullptr);
bool HaveTool(const std::string& name);

// Decodes a PNG with libpng into 24-bit RGB over a white background
// (alpha composited), rows top first, no padding.
struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  uint32_t At(int x, int y) const {
    const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
    return (p[0] << 16) | (p[1] << 8) | p[2];
  }
};
RgbImage ReadPngRgb(const std::string& path);
// Decodes a PNG with libpng's full reader in its stored sample values (no
// gamma applied), alpha composited over white in those values.
RgbImage ReadPngStored(const std::string& path);
// Decodes any image with ImageMagick into RGB (the first frame).
RgbImage ReadWithMagick(const std::string& path);
// Pixels of a Bitmap as RGB.
RgbImage ToRgb(const Bitmap& bitmap);

uint16_t Le16(const std::vector<uint8_t>& b, size_t at);
uint32_t Le32(const std::vector<uint8_t>& b, size_t at);
uint32_t Be32(const std::vector<uint8_t>& b, size_t at);

}  // namespace velmora::test
