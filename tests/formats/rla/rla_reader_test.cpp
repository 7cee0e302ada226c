// RLA input: files built in code, checked against the values put in. No
// encoder is at hand, and ImageMagick 6.9.11's reader returns no picture for
// any RLA file, even a 1 x 1 one, so it cannot serve as the reference.
#include <gtest/gtest.h>

#include <functional>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;
using test::Decode;
using test::MaxDifference;

// One channel's scanline: runs of three or more as run packets, the rest as
// literal packets.
std::vector<uint8_t> Encode(const std::vector<uint8_t>& line) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < line.size()) {
    size_t run = 1;
    while (i + run < line.size() && line[i + run] == line[i] && run < 128) ++run;
    if (run >= 3) {
      out.push_back(static_cast<uint8_t>(run - 1));
      out.push_back(line[i]);
      i += run;
      continue;
    }
    size_t literal = 0;
    while (i + literal < line.size() && literal < 128) {
      if (i + literal + 2 < line.size() && line[i + literal] == line[i + literal + 1] &&
          line[i + literal] == line[i + literal + 2])
        break;
      ++literal;
    }
    out.push_back(static_cast<uint8_t>(-static_cast<int>(literal)));
    out.insert(out.end(), line.begin() + i, line.begin() + i + literal);
    i += literal;
  }
  return out;
}

// An RLA of w x h: colour channels (1 or 3) and an optional matte, sample(x,
// y, channel) with y counted from the top.
std::vector<uint8_t> Rla(int w, int h, int colour, bool matte, const std::function<uint8_t(int, int, int)>& sample) {
  ByteBuilder b;
  b.U16Be(0).U16Be(w - 1).U16Be(0).U16Be(h - 1);  // window
  b.U16Be(0).U16Be(w - 1).U16Be(0).U16Be(h - 1);  // active window
  b.U16Be(1).U16Be(0).U16Be(colour).U16Be(matte ? 1 : 0).U16Be(0).U16Be(0xFFFE);
  b.PadTo(580).Text(colour == 3 ? "rgb" : "mono").PadTo(658);
  b.U16Be(8).U16Be(0).U16Be(8).U16Be(0).U16Be(0).PadTo(740);
  const size_t table = b.Size();
  b.Zeros(size_t(h) * 4);
  for (int row = 0; row < h; ++row) {  // bottom row first
    const uint32_t offset = static_cast<uint32_t>(b.Size());
    for (int i = 0; i < 4; ++i) b.bytes[table + size_t(row) * 4 + i] = static_cast<uint8_t>(offset >> (24 - 8 * i));
    for (int c = 0; c < colour + (matte ? 1 : 0); ++c) {
      std::vector<uint8_t> line(w);
      for (int x = 0; x < w; ++x) line[x] = sample(x, h - 1 - row, c);
      const std::vector<uint8_t> packed = Encode(line);
      b.U16Be(static_cast<uint32_t>(packed.size())).Raw(packed);
    }
  }
  return b.bytes;
}

uint8_t Sample(int x, int y, int c) {
  if (y % 4 == 0) return static_cast<uint8_t>(60 * c + 20);  // flat rows for the runs
  return static_cast<uint8_t>(x * 29 + y * 7 + c * 71);
}

TEST(RlaReaderTest, GreyAndRgbScanlinesBottomRowFirst) {
  test::TempDir dir;
  Loader loader;
  test::WriteFile(dir / "rgb.rla", Rla(41, 13, 3, false, Sample));
  test::WriteFile(dir / "grey.rla", Rla(20, 7, 1, false, Sample));
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "rgb.rla"), test::MakeRgb(41, 13, [](int x, int y) {
              return uint32_t{Sample(x, y, 0)} << 16 | uint32_t{Sample(x, y, 1)} << 8 | Sample(x, y, 2);
            })),
            0);
  EXPECT_EQ(MaxDifference(Decode(loader, dir / "grey.rla"), test::MakeRgb(20, 7, [](int x, int y) {
              return uint32_t{Sample(x, y, 0)} * 0x010101u;
            })),
            0);
}

TEST(RlaReaderTest, MatteIsCompositedOverWhiteAndDamageIsCaught) {
  test::TempDir dir;
  Loader loader;
  test::WriteFile(dir / "m.rla", Rla(2, 1, 3, true, [](int x, int, int c) {
    return static_cast<uint8_t>(c == 3 ? (x ? 128 : 0) : (c == 0 ? 255 : 0));
  }));
  const auto picture = Decode(loader, dir / "m.rla");
  EXPECT_EQ(picture.At(0, 0), 0xFFFFFFu);
  EXPECT_EQ(picture.At(1, 0), 0xFF7F7Fu);
  // A run longer than the scanline.
  std::vector<uint8_t> bad = Rla(4, 1, 1, false, [](int, int, int) { return uint8_t{9}; });
  bad[740 + 4 + 2] = 10;  // the run count: 11 copies in a line of 4
  test::WriteFile(dir / "bad.rla", bad);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "bad.rla"); }), "RLA image error: a run goes past the end of its scanline");
  test::WriteFile(dir / "short.rla", std::vector<uint8_t>(bad.begin(), bad.begin() + 747));
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "short.rla"); }), "RLA image error: the file ends before the picture does");
}

}  // namespace
}  // namespace velmora
