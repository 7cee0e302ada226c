// Every writer's bytes and every reader's pixels for a fixed set of inputs,
// compared with a stored list: a change to either shows here. Run with
// VELMORA_WRITE_CHECKSUMS=1 to write the list anew after an intended change.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "image/prepare.h"
#include "pipeline/writers.h"
#include "formats/loader.h"
#include "test_util.h"

namespace velmora {

const OutputFormat& GifOutput();
namespace {

const std::string kList = std::string(VELMORA_SOURCE_DIR) + "/tests/formats/output_checksums.txt";

// A picture with smooth and hard edges, so that every encoder has work.
Bitmap Picture() {
  Bitmap b(37, 23, Bitmap::Format::k24Bit);
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      b.SetPixel(x, y, (x / 5 + y / 4) % 3 == 0 ? MakeColor(250, 250, 250) : MakeColor(x * 7, y * 11, (x * y) % 256));
  return b;
}

DibImage Prepared(int pixel_color, PixelFormat format) {
  DibImage image;
  PreparePixelColor(Picture(), image, pixel_color);
  if (image.GetPixelFormat() != format) image.SetPixelFormat(format);
  return image;
}

// The bytes without what depends on the clock: the PNG tIME chunk and PDF dates.
std::string Normalised(const std::string& ext, std::string bytes) {
  if (ext == "png") {
    std::string out = bytes.substr(0, 8);
    for (size_t at = 8; at + 12 <= bytes.size();) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
      const size_t length = (size_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
      if (bytes.compare(at + 4, 4, "tIME") != 0) out += bytes.substr(at, 12 + length);
      at += 12 + length;
    }
    return out;
  }
  if (ext == "pdf") return std::regex_replace(bytes, std::regex("D:[0-9]{14}"), "D:00000000000000");
  return bytes;
}

std::string Checksum(const std::string& bytes) {
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%08lx %zu", static_cast<unsigned long>(crc), bytes.size());
  return buf;
}

std::string BitmapBytes(const Bitmap& b) {
  std::string s = std::to_string(b.Width()) + "x" + std::to_string(b.Height()) + "x" + std::to_string(b.Bits()) + ":";
  for (const RgbQuad& q : b.Palette()) s += std::string{char(q.red), char(q.green), char(q.blue)};
  for (int y = 0; y < b.Height(); ++y) s.append(reinterpret_cast<const char*>(b.Row(y)), static_cast<size_t>(b.Stride()));
  return s;
}

std::map<std::string, std::string> Compute() {
  std::map<std::string, std::string> sums;
  const struct {
    const char* name;
    int pixel_color;
    PixelFormat format;
  } images[] = {{"rgb24", 0, PixelFormat::k24Bit}, {"pal8", 1, PixelFormat::k8Bit},
                {"pal4", 1, PixelFormat::k4Bit},   {"pal1", 0, PixelFormat::k1Bit},
                {"rle8", 1, PixelFormat::k8BitRLE}, {"grey", 2, PixelFormat::k24Bit}};
  for (const auto& img : images) {
    const DibImage image = Prepared(img.pixel_color, img.format);
    for (bool trans : {false, true}) {
      Settings settings;
      settings.C_Trans = trans;
      settings.O_quality_t = 4;
      settings.O_icosize = 1;
      const WriterContext context{settings, MakeColor(250, 250, 250), FrameOptions{trans, false, 0, 0}};
      for (const FormatWriter& writer : DefaultWriters()) {
        const std::string extension = writer.Extension();
        // The newer codecs' bytes follow the library's version and the
        // CPU it dispatches to: they are checked by round trip instead.
        if (extension == "webp" || extension == "avif" || extension == "jxl") continue;
        // Transparency only changes png, gif and ico.
        if (trans && extension != "png" && extension != "gif" && extension != "ico") continue;
        std::ostringstream out;
        std::string sum;
        try {
          writer.encode(image, context, out);
          sum = Checksum(Normalised(extension, out.str()));
        } catch (const std::exception& e) {
          sum = "error " + std::regex_replace(e.what(), std::regex(" "), "_");
        }
        sums[std::string(img.name) + (trans ? "+trans." : ".") + extension] = sum;
      }
    }
  }
  // An animated GIF of three frames.
  Settings settings;
  settings.C_delay = "25";
  const EncodeOptions frame = OptionsFor(settings, WriterContext{settings, kNoColor, FrameOptions{}});
  auto gif = GifOutput().combine(frame);
  for (const auto& img : images)
    if (img.format != PixelFormat::k8BitRLE) gif->Add(Prepared(img.pixel_color, img.format), frame);
  std::ostringstream out;
  gif->Save(out);
  sums["animated.gif"] = Checksum(out.str());

  // What the readers make of the samples.
  Loader loader;
  for (const char* sample : {"checker.gif", "gradient.bmp", "photo.jpg", "shapes.png", "triangle.tif"}) {
    Bitmap b;
    loader.LoadFile(std::string(VELMORA_SOURCE_DIR) + "/samples/" + sample)->AssignTo(b);
    sums[std::string("read:") + sample] = Checksum(BitmapBytes(b));
  }
  return sums;
}

TEST(OutputChecksumTest, WritersAndReadersGiveTheStoredBytes) {
  const auto sums = Compute();
  if (std::getenv("VELMORA_WRITE_CHECKSUMS")) {
    std::ofstream out(kList);
    for (const auto& [name, sum] : sums) out << name << " " << sum << "\n";
    GTEST_SKIP() << "wrote " << kList;
  }
  std::ifstream in(kList);
  ASSERT_TRUE(in) << kList;
  std::map<std::string, std::string> stored;
  std::string name, crc, size;
  while (in >> name >> crc >> size) stored[name] = crc + " " + size;
  EXPECT_EQ(stored.size(), sums.size());
  for (const auto& [n, sum] : sums) EXPECT_EQ(sum, stored[n]) << n;
}

}  // namespace
}  // namespace velmora
