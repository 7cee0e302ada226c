#include "test_util.h"

#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

namespace velmora::test {
namespace {

// The tests expect the programs' own texts, so a tester's language must not
// reach the programs they start; the language tests set theirs per command.
const bool kOwnTexts = [] {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) unsetenv(name);
  setenv("LANG", "C", 1);
  return true;
}();

}  // namespace

std::filesystem::path TestData(const std::string& relative) {
  return std::filesystem::path(VELMORA_TESTDATA) / relative;
}

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("velmora-test-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

void WriteWith(const std::string& path, const std::function<void(std::ostream&)>& encode) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  encode(out);
}

int Run(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::array<char, 4096> buf;
  std::string text;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) text.append(buf.data(), n);
  const int status = pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) { return Run("command -v " + name + " >/dev/null 2>&1") == 0; }

std::string MagickFile(const std::string& path, const std::string& args, const std::string& coder) {
  if (Run("convert " + args + " '" + coder + path + "' 2>&1") != 0)
    throw std::runtime_error("convert " + args + " failed for " + path);
  return path;
}

Bitmap RgbBitmap(int w, int h, const std::function<ColorValue(int, int)>& color) {
  Bitmap b(w, h, Bitmap::Format::k24Bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, color(x, y));
  return b;
}

Bitmap IndexedBitmap(int w, int h, Bitmap::Format format, std::vector<RgbQuad> palette,
                     const std::function<int(int, int)>& index) {
  Bitmap b(w, h, format);
  b.SetPalette(std::move(palette));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetIndex(x, y, index(x, y));
  return b;
}

Bitmap NoiseBitmap(int w, int h, Bitmap::Format format, unsigned seed) {
  Bitmap b(w, h, format);
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < b.Stride() * h; ++i) b.Data()[i] = static_cast<uint8_t>(rng());
  if (format != Bitmap::Format::k24Bit) {
    std::vector<RgbQuad> pal(size_t{1} << b.Bits());
    for (size_t i = 0; i < pal.size(); ++i) pal[i] = RgbQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3), 0};
    b.SetPalette(pal);
  }
  return b;
}

DibImage DibOf(const Bitmap& bitmap) {
  DibImage image;
  image.Assign(bitmap);
  return image;
}

namespace {

// The same picture stored top row first: the height's sign flipped and the
// rows put in the other order.
DibImage TopDown(const DibImage& image) {
  std::ostringstream out;
  image.SaveToStream(out);
  std::string bmp = out.str();
  const uint32_t offset = Le32(Bytes(bmp.substr(10, 4)), 0);
  const int32_t height = image.Height();
  const size_t stride = static_cast<size_t>(((image.Width() * image.BitCount() + 31) / 32) * 4);
  for (int i = 0; i < 4; ++i) bmp[22 + i] = static_cast<char>(static_cast<uint32_t>(-height) >> (8 * i));
  const std::string rows = bmp.substr(offset);
  for (int32_t y = 0; y < height; ++y)
    bmp.replace(offset + stride * static_cast<size_t>(y), stride, rows, stride * static_cast<size_t>(height - 1 - y),
                stride);
  std::istringstream in(bmp);
  DibImage flipped;
  flipped.LoadFromStream(in);
  return flipped;
}

}  // namespace

std::vector<std::pair<std::string, DibImage>> EveryDibLayout(int w, int h) {
  std::vector<std::pair<std::string, DibImage>> out;
  unsigned seed = 1;
  for (auto f : {Bitmap::Format::k1Bit, Bitmap::Format::k4Bit, Bitmap::Format::k8Bit, Bitmap::Format::k24Bit})
    out.emplace_back(std::to_string(static_cast<int>(f)) + " bits", DibOf(NoiseBitmap(w, h, f, seed++)));
  out.emplace_back("8 bits top-down", TopDown(out[2].second));
  out.emplace_back("24 bits top-down", TopDown(out[3].second));
  DibImage rle4 = DibOf(NoiseBitmap(w, h, Bitmap::Format::k4Bit, seed++));
  rle4.SetPixelFormat(PixelFormat::k4BitRLE);
  out.emplace_back("4-bit RLE", rle4);
  DibImage rle8 = DibOf(NoiseBitmap(w, h, Bitmap::Format::k8Bit, seed++));
  rle8.SetPixelFormat(PixelFormat::k8BitRLE);
  out.emplace_back("8-bit RLE", rle8);
  return out;
}

std::string SaveBmp(const std::string& path, const Bitmap& bitmap) {
  const auto parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  DibOf(bitmap).SaveToFile(path);
  return path;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

int MaxDifference(const RgbImage& a, const RgbImage& b) {
  if (a.width != b.width || a.height != b.height) return 1000;
  int worst = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) worst = std::max(worst, std::abs(a.rgb[i] - b.rgb[i]));
  return worst;
}

RgbImage ReadPngRgb(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) throw std::runtime_error("libpng: " + path);
  image.format = PNG_FORMAT_RGB;
  RgbImage out;
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgb.resize(PNG_IMAGE_SIZE(image));
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, out.rgb.data(), 0, nullptr))
    throw std::runtime_error("libpng: " + std::string(image.message));
  return out;
}

RgbImage ReadPngStored(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw std::runtime_error("cannot open " + path);
  std::unique_ptr<FILE, decltype(&std::fclose)> closer(file, &std::fclose);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw std::runtime_error("libpng cannot read " + path);
  }
  png_init_io(png, file);
  png_read_png(png, info,
               PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_SCALE_16 | PNG_TRANSFORM_GRAY_TO_RGB | PNG_TRANSFORM_PACKING,
               nullptr);
  RgbImage out;
  out.width = static_cast<int>(png_get_image_width(png, info));
  out.height = static_cast<int>(png_get_image_height(png, info));
  const int channels = png_get_channels(png, info);
  png_bytepp rows = png_get_rows(png, info);
  out.rgb.reserve(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y)
    for (int x = 0; x < out.width; ++x)
      for (int c = 0; c < 3; ++c) {
        const png_byte* p = rows[y] + x * channels;
        const int a = channels == 4 ? p[3] : 255;
        out.rgb.push_back(static_cast<uint8_t>((p[c] * a + 255 * (255 - a) + 127) / 255));
      }
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

RgbImage ReadWithMagick(const std::string& path) {
  std::string out;
  const std::string cmd = "convert '" + path + "[0]' -depth 8 -background white -flatten rgb:- 2>/dev/null";
  std::string dims;
  if (Run("identify -format '%w %h' '" + path + "[0]' 2>/dev/null", &dims) != 0)
    throw std::runtime_error("identify failed for " + path);
  RgbImage img;
  if (sscanf(dims.c_str(), "%d %d", &img.width, &img.height) != 2) throw std::runtime_error("identify: " + dims);
  if (Run(cmd, &out) != 0) throw std::runtime_error("convert failed for " + path);
  img.rgb.assign(out.begin(), out.end());
  if (img.rgb.size() != static_cast<size_t>(img.width) * img.height * 3)
    throw std::runtime_error("convert gave " + std::to_string(img.rgb.size()) + " bytes for " + path);
  return img;
}

RgbImage MakeRgb(int w, int h, const std::function<uint32_t(int, int)>& rgb) {
  RgbImage out;
  out.width = w;
  out.height = h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t c = rgb(x, y);
      out.rgb.push_back(static_cast<uint8_t>(c >> 16));
      out.rgb.push_back(static_cast<uint8_t>(c >> 8));
      out.rgb.push_back(static_cast<uint8_t>(c));
    }
  return out;
}

std::string TruncatedCopy(const std::string& from, size_t keep, const std::string& to) {
  std::vector<uint8_t> bytes = ReadFile(from);
  bytes.resize(std::min(bytes.size(), keep));
  WriteFile(to, bytes);
  return to;
}

RgbImage ToRgb(const Bitmap& bitmap) {
  RgbImage out;
  out.width = bitmap.Width();
  out.height = bitmap.Height();
  out.rgb.reserve(static_cast<size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      const ColorValue c = bitmap.GetPixel(x, y);
      out.rgb.push_back(ColorRed(c));
      out.rgb.push_back(ColorGreen(c));
      out.rgb.push_back(ColorBlue(c));
    }
  }
  return out;
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (static_cast<uint32_t>(b.at(at + 3)) << 24);
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
  return (static_cast<uint32_t>(b.at(at)) << 24) | (b.at(at + 1) << 16) | (b.at(at + 2) << 8) | b.at(at + 3);
}

}  // namespace velmora::test
