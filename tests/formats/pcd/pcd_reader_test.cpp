// Photo CD input on ImageMagick's image packs. ImageMagick shows PhotoYCC by
// scaling its whole range down, which darkens white; this reader maps
// reference white to white and clips the highlights above it. So the test
// takes ImageMagick's raw YCC samples (layout, chroma placement and the
// upright turn are its independent part) and applies the PhotoYCC equations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::MagickFilesTest;

int Clip(double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); }

TEST_F(MagickFilesTest, PcdBaseImageMatchesThePhotoYccEquations) {
  for (const char* size : {"96x64", "64x96"}) {  // landscape, and portrait stored turned
    const std::string pcd = Make(std::string("p") + size + ".pcd", std::string("-size ") + size + " gradient:red-blue");
    std::string raw;
    ASSERT_EQ(test::Run("convert '" + pcd + "' -set colorspace sRGB -depth 8 rgb:-", &raw), 0);
    const auto ours = test::Decode(loader, pcd);
    ASSERT_EQ(raw.size(), ours.rgb.size()) << size;
    EXPECT_EQ(ours.width, size[0] == '9' ? 768 : 512);
    int worst = 0;
    for (size_t i = 0; i < raw.size(); i += 3) {
      const double l = 1.3584 * static_cast<uint8_t>(raw[i]);
      const double c1 = 2.2179 * (static_cast<uint8_t>(raw[i + 1]) - 156);
      const double c2 = 1.8215 * (static_cast<uint8_t>(raw[i + 2]) - 137);
      const int expected[3] = {Clip(l + c2), Clip(l - 0.194 * c1 - 0.509 * c2), Clip(l + c1)};
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(expected[k] - ours.rgb[i + k]));
    }
    // Chroma interpolation between the half-resolution samples may differ.
    EXPECT_LE(worst, 2) << size;
  }
}

TEST(PcdReaderTest, ShortPacksAndOtherFiles) {
  test::TempDir dir;
  Loader loader;
  test::ByteBuilder b;
  b.PadTo(0x800).Text("PCD_IPI").PadTo(0x30000 + 1000);
  test::WriteFile(dir / "a.pcd", b.bytes);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "a.pcd"); }),
            "PCD image error: 768 x 512 pixels cannot be held in 1000 bytes");
  test::WriteText(dir / "b.pcd", "not a photo cd");
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "b.pcd"); }), "PCD image error: not a Photo CD image pack");
}

}  // namespace
}  // namespace velmora
