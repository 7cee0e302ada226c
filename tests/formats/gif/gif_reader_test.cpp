// GIF input: the first frame, transparency as white, interlacing.
#include <gtest/gtest.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::Decode;
using test::MagickFilesTest;

TEST_F(MagickFilesTest, GifFirstFrameWithTransparencyAsWhite) {
  const std::string gif = Make("t.gif", "-size 8x8 xc:none -fill '#ff0000' -draw 'rectangle 0,0 3,7'");
  const auto img = Decode(loader, gif);
  EXPECT_EQ(img.At(0, 0), 0xFF0000u);
  EXPECT_EQ(img.At(7, 7), 0xFFFFFFu);
  const std::string anim = Make("a.gif", "-delay 10 -size 5x5 xc:green xc:blue -loop 0");
  EXPECT_EQ(Decode(loader, anim).At(2, 2), 0x008000u);
  const std::string interlaced = Make("i.gif", "-size 9x13 gradient:black-white -colors 8 -interlace GIF");
  EXPECT_EQ(test::MaxDifference(Decode(loader, interlaced), test::ReadWithMagick(interlaced)), 0);
}

}  // namespace
}  // namespace velmora
