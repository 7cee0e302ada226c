// Every hostile file ever met: refused with its message, before the claimed
// memory is spent. Each file is kept in tests/fixtures/hostile, named after
// what it is.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "formats/loader.h"
#include "image/limits.h"
#include "test_util.h"

namespace velmora {
namespace {

std::string Hostile(const std::string& name) { return std::string(VELMORA_SOURCE_DIR) + "/tests/fixtures/hostile/" + name; }

// Peak resident memory, in KiB, of a child process that loads path.
long PeakKibLoading(const std::string& path) {
  const pid_t pid = fork();
  if (pid == 0) {
    try {
      Loader loader;
      Bitmap b;
      loader.LoadFile(path)->AssignTo(b);
    } catch (const std::exception&) {
    }
    _exit(0);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

struct Case {
  const char* file;
  const char* message;  // the whole message, or its start when it ends in "…"
};

const Case kCases[] = {
    {"jpeg_progressive_46341x46341.jpg", "JPEG image: 46341 x 46341 pixels cannot be held in 281 bytes"},
    {"png_chunk_claims_2GiB.png", "PNG image error: the data cannot be read (libpng: zTXt: chunk data is too large)"},
    {"rle8_16384x16384_in_60_bytes.bmp", "BMP image error: run-length data of 2 bytes cannot describe 16384 x 16384 pixels"},
    {"rle8_67108864x4_in_78_bytes.bmp", "BMP image: 67108864 x 4 pixels exceed the limit of 1048576 pixels per side"},
    {"bmp_10000x10000_24bit_in_70_bytes.bmp", "BMP image error: the pixel data is cut short: 16 of 300000000 bytes"},
    {"tiff_4294967295x4294967295.tif", "TIFF image error: not a readable TIFF file (libtiff: TIFFStripSize: Integer overflow)"},
    {"gif_error_giflib_cannot_name.gif", "GIF image error: the data is damaged (giflib error 0)"},
    {"psp_layer_rectangle_overflows_int.psp", "PSP image error: a chunk is longer than its block"},
    {"psp_red_channel_twice_as_long_as_green_and_blue.psp", "PSP image error: a channel's length does not fit its layer"},
    {"psp_1x1_channel_claims_1GiB.psp", "PSP image error: a channel's length does not fit its layer"},
    // Recognised by content, refused by its decoder: that refusal, not the
    // unknown extension, is the reason.
    {"tga_60000x60000_in_28_bytes.dat", "Targa image error: 60000 x 60000 pixels cannot be held in 10 bytes"},
    {"tiff_16384x16384_in_138_bytes.tif", "TIFF image: 16384 x 16384 pixels cannot be held in 138 bytes"},
    {"mag_2048x2048_in_117_bytes.mag", "MAG image: 2048 x 2048 pixels cannot be held in 84 bytes"},
    {"heic_overlay_canvas_beyond_its_declared_size.heic",
     "HEIF image error: the file asks its decoder for 37696 x 59176 pixels, more than the 12 x 7 it declares"},
    {"heic_grid_canvas_beyond_its_declared_size.heic",
     "HEIF image error: the file asks its decoder for 24950 x 26995 pixels, more than the 32780 x 7 it declares"},
};

TEST(HostileFileTest, EachIsRefusedWithItsMessage) {
  Loader loader;
  for (const Case& c : kCases) {
    EXPECT_EQ(test::ErrorOf<Error>([&] {
                Bitmap b;
                loader.LoadFile(Hostile(c.file))->AssignTo(b);
              }),
              c.message)
        << c.file;
  }
}

TEST(HostileFileTest, NoneSpendsTheMemoryItClaims) {
  const long baseline = PeakKibLoading(std::string(VELMORA_SOURCE_DIR) + "/samples/gradient.bmp");
  for (const Case& c : kCases) {
    const long peak = PeakKibLoading(Hostile(c.file));
    EXPECT_LT(peak, baseline + 64 * 1024) << c.file << " peaked at " << peak << " KiB";
  }
}

TEST(HostileFileTest, TheStrictReaderRefusesAClaimTheFileCannotHold) {
  // The .dib class (DibImage) refuses before allocating, with the stream's
  // own read error.
  test::TempDir dir;
  const auto bytes = test::ReadFile(Hostile("bmp_10000x10000_24bit_in_70_bytes.bmp"));
  test::WriteFile(dir / "claim.dib", bytes);
  Loader loader;
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "claim.dib"); }), "Stream read error");
  EXPECT_LT(PeakKibLoading(dir / "claim.dib"), PeakKibLoading(std::string(VELMORA_SOURCE_DIR) + "/samples/gradient.bmp") +
                                                   64 * 1024);
}

TEST(DecodeLimitsTest, SizesAreCheckedWithoutOverflow) {
  const std::pair<std::pair<int64_t, int64_t>, const char*> claims[] = {
      {{4294967295, 4294967295}, "x: 4294967295 x 4294967295 pixels exceed the limit of 1048576 pixels per side"},
      {{int64_t{1} << 62, 3}, "x: 4611686018427387904 x 3 pixels exceed the limit of 1048576 pixels per side"},
      {{0, 5}, "x: 0 x 5 pixels is not a picture size"},
      {{-7, 5}, "x: -7 x 5 pixels is not a picture size"},
      {{20000, 20000}, "x: 20000 x 20000 pixels exceed the limit of 268435456 pixels per picture"},
  };
  for (const auto& claim : claims) {
    const auto [width, height] = claim.first;
    EXPECT_EQ(test::ErrorOf([w = width, h = height] { CheckImageSize(DecodeLimits{}, w, h, "x"); }), claim.second);
  }
  EXPECT_EQ(test::ErrorOf([&] { CheckImageSize(DecodeLimits{}, 16384, 16384, "x"); }), "(nothing raised)");
  EXPECT_EQ(test::ErrorOf([&] { CheckAllocation(DecodeLimits{}, int64_t{3} << 30, "x"); }),
            "x: 3221225472 bytes exceed the limit of 1073741824 bytes for one allocation");
}

TEST(DecodeLimitsTest, LimitsCanBeChanged) {
  DecodeLimits small;
  small.max_pixels = 100;
  Loader loader(small);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(std::string(VELMORA_SOURCE_DIR) + "/samples/gradient.bmp"); }),
            "BMP image: 96 x 64 pixels exceed the limit of 100 pixels per picture");
  // Another loader keeps its own.
  EXPECT_EQ(test::ErrorOf([&] { Loader().LoadFile(std::string(VELMORA_SOURCE_DIR) + "/samples/gradient.bmp"); }),
            "(nothing raised)");
}

}  // namespace
}  // namespace velmora
