// Helpers shared by the tests: scratch folders, files, external checkers and an
// independent PNG reader (libpng) for reference pictures.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/dib_image.h"

namespace velmora::test {

std::filesystem::path TestData(const std::string& relative);

// Declares var as the path of a folder of the public suites beside the
// project and skips the test, saying so, when it is not there.
#define VELMORA_REQUIRE_TESTDATA(var, relative)                        \
  const std::filesystem::path var = ::velmora::test::TestData(relative); \
  if (!std::filesystem::exists(var)) GTEST_SKIP() << "test data not found: " << var

// Whether this build runs under AddressSanitizer, whose quarantine keeps
// freed memory resident: peak-memory checks say nothing there.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// The message of the E that f raises, or "(nothing raised)"; anything else
// f raises passes through.
template <typename E = std::exception>
std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  return "(nothing raised)";
}

// Pictures made in code.
// A 24-bit bitmap whose pixel (x, y) is color(x, y).
Bitmap RgbBitmap(int w, int h, const std::function<ColorValue(int, int)>& color);
// A 1, 4 or 8-bit bitmap on the palette with index(x, y) at each pixel.
Bitmap IndexedBitmap(int w, int h, Bitmap::Format format, std::vector<RgbQuad> palette,
                     const std::function<int(int, int)>& index);
// Reproducible random bytes in every row, and a palette for indexed formats.
Bitmap NoiseBitmap(int w, int h, Bitmap::Format format, unsigned seed);
// The bitmap captured into a DibImage as it is.
DibImage DibOf(const Bitmap& bitmap);
// One DIB of every layout a writer may be handed, w x h, with a name for
// messages: 1, 4, 8 and 24 bits bottom-up, 8 and 24 bits top-down, and the
// 4 and 8-bit RLE formats.
std::vector<std::pair<std::string, DibImage>> EveryDibLayout(int w, int h);
// The bitmap written as a BMP file (folders made as needed); returns path.
std::string SaveBmp(const std::string& path, const Bitmap& bitmap);

std::vector<uint8_t> Bytes(const std::string& s);

// A fresh empty folder under the system's temporary folder, removed on destruction.
// Sets an environment variable for the scope, then puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (saved_)
      setenv(name_, saved_->c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

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
// Writes a file through an encoder.
void WriteWith(const std::string& path, const std::function<void(std::ostream&)>& encode);

// Runs a shell command; returns its exit status and fills output with stdout.
int Run(const std::string& command, std::string* output = nullptr);
bool HaveTool(const std::string& name);
// Skips the rest of the test when a tool it needs is missing, saying which;
// the checks before it still count.
#define REQUIRE_TOOL(tool) \
  if (!::velmora::test::HaveTool(tool)) GTEST_SKIP() << (tool) << " is not installed; the rest of this test needs it"
// Makes a file with ImageMagick: convert ARGS CODER:PATH. Tests that need it
// skip first when HaveTool("convert") is false.
std::string MagickFile(const std::string& path, const std::string& args, const std::string& coder = "");

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

// The largest channel difference of two pictures; 1000 when their sizes differ.
int MaxDifference(const RgbImage& a, const RgbImage& b);

// A picture of w x h whose pixel (x, y) is rgb(x, y) as 0xRRGGBB.
RgbImage MakeRgb(int w, int h, const std::function<uint32_t(int, int)>& rgb);

// Bytes built field by field, for files made in code.
class ByteBuilder {
 public:
  ByteBuilder& U8(uint32_t v) { return Put(v, 1, false); }
  ByteBuilder& U16Le(uint32_t v) { return Put(v, 2, true); }
  ByteBuilder& U16Be(uint32_t v) { return Put(v, 2, false); }
  ByteBuilder& U32Le(uint32_t v) { return Put(v, 4, true); }
  ByteBuilder& U32Be(uint32_t v) { return Put(v, 4, false); }
  ByteBuilder& Text(const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    return *this;
  }
  ByteBuilder& Raw(const std::vector<uint8_t>& raw) {
    bytes.insert(bytes.end(), raw.begin(), raw.end());
    return *this;
  }
  ByteBuilder& Zeros(size_t count) {
    bytes.insert(bytes.end(), count, 0);
    return *this;
  }
  // Pads with zeros up to an absolute size.
  ByteBuilder& PadTo(size_t size) { return Zeros(size > bytes.size() ? size - bytes.size() : 0); }
  size_t Size() const { return bytes.size(); }
  std::vector<uint8_t> bytes;

 private:
  ByteBuilder& Put(uint32_t v, int n, bool little) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * (little ? i : n - 1 - i))));
    return *this;
  }
};

// The first keep bytes of a file, written to a new file; returns its path.
std::string TruncatedCopy(const std::string& from, size_t keep, const std::string& to);

uint16_t Le16(const std::vector<uint8_t>& b, size_t at);
uint32_t Le32(const std::vector<uint8_t>& b, size_t at);
uint32_t Be32(const std::vector<uint8_t>& b, size_t at);

}  // namespace velmora::test
