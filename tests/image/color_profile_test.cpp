// Colour profiles as a picture carries them: used only when read whole and
// a transform builds, their memory within what their bytes can hold. The
// profiles are made with lcms2 itself, then damaged.
#include "image/color_profile.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cstring>

namespace velmora {
namespace {

// An RGB profile with sRGB's primaries and a gamma of 1.8.
IccBytes Gamma18() {
  cmsCIExyY white;
  cmsWhitePointFromTemp(&white, 6504);
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(gamma);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  IccBytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

void Declare(IccBytes& icc, uint32_t size) {
  icc[0] = size >> 24, icc[1] = size >> 16 & 255, icc[2] = size >> 8 & 255, icc[3] = size & 255;
}

TEST(ColorProfileTest, AGoodProfileConvertsAndCanTravel) {
  const ColorProfile profile(Gamma18(), DecodeLimits{});
  ASSERT_TRUE(profile.Usable()) << profile.Problem();
  EXPECT_EQ(profile.Space(), ProfileSpace::kRgb);
  EXPECT_FALSE(profile.SrgbLike());
  EXPECT_TRUE(profile.Keepable());
  Bitmap picture(1, 1, Bitmap::Format::k24Bit);
  picture.Row(0)[0] = picture.Row(0)[1] = picture.Row(0)[2] = 128;
  EXPECT_TRUE(profile.ConvertToSrgb(picture));
  EXPECT_GT(picture.Row(0)[0], 128) << "a 1.8 gamma's mid-grey is lighter in sRGB";
}

TEST(ColorProfileTest, ADamagedProfileSaysWhyAndIsNotUsed) {
  IccBytes icc = Gamma18();
  const uint32_t real = static_cast<uint32_t>(icc.size());
  IccBytes claims = icc;
  Declare(claims, 1000000);
  EXPECT_EQ(ColorProfile(claims, DecodeLimits{}).Problem(),
            "it declares 1000000 bytes but holds " + std::to_string(real));
  EXPECT_EQ(ColorProfile(IccBytes(icc.begin(), icc.begin() + 100), DecodeLimits{}).Problem(),
            "it holds 100 bytes, less than a profile's header");
  // Padding after the declared end is not the profile's.
  IccBytes padded = icc;
  padded.resize(real + 40, 0);
  const ColorProfile trimmed(padded, DecodeLimits{});
  EXPECT_TRUE(trimmed.Usable()) << trimmed.Problem();
  EXPECT_EQ(trimmed.Bytes().size(), real);
  // Its tags cut off after the tag table: nothing to convert with.
  const size_t tags = size_t{icc[131]} | size_t{icc[130]} << 8;
  IccBytes cut(icc.begin(), icc.begin() + static_cast<long>(132 + 12 * tags));
  Declare(cut, static_cast<uint32_t>(cut.size()));
  const ColorProfile broken(cut, DecodeLimits{});
  EXPECT_FALSE(broken.Usable());
  EXPECT_EQ(broken.Problem().rfind("lcms2", 0), 0u) << broken.Problem();
  Bitmap picture(1, 1, Bitmap::Format::k24Bit);
  EXPECT_FALSE(broken.ConvertToSrgb(picture));
}

TEST(ColorProfileTest, ATableLargerThanTheProfileCanHoldIsRefusedBeforeItIsMade) {
  // lut16Type: 3 inputs, 15 outputs, 255 grid points: 497 MB claimed.
  std::vector<uint8_t> lut = {'m', 'f', 't', '2', 0, 0, 0, 0, 3, 15, 255, 0};
  for (int i = 0; i < 9; ++i) lut.insert(lut.end(), {0, static_cast<uint8_t>(i % 4 == 0 ? 1 : 0), 0, 0});
  lut.insert(lut.end(), {0, 2, 0, 2, 0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 255, 255});
  // Header, a tag table of one A2B0 entry, the table.
  IccBytes made(128, 0);
  std::memcpy(&made[16], "RGB ", 4);
  std::memcpy(&made[20], "Lab ", 4);
  std::memcpy(&made[36], "acsp", 4);
  made[8] = 2, made[9] = 0x10;
  const uint8_t table[] = {0, 0, 0, 1, 'A', '2', 'B', '0', 0, 0, 0, 144, 0, 0, 0, static_cast<uint8_t>(lut.size())};
  made.insert(made.end(), table, table + sizeof table);
  made.insert(made.end(), lut.begin(), lut.end());
  Declare(made, static_cast<uint32_t>(made.size()));
  const ColorProfile profile(made, DecodeLimits{});
  EXPECT_FALSE(profile.Usable());
  EXPECT_EQ(profile.Problem(), "its tables claim more memory than the profile can hold");
}

// One rule for a gamma and primaries said without a profile: 1/2.2 within
// 0.5 % with sRGB's primaries (or none) is sRGB; anything else converts.
TEST(ColorProfileTest, StatedGammaAndPrimariesFollowOneRule) {
  const std::array<double, 8> srgb = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};
  const std::array<double, 8> adobe = {0.64, 0.33, 0.21, 0.71, 0.15, 0.06, 0.3127, 0.3290};
  for (const StatedColour& s : {StatedColour{1 / 2.2, {}}, StatedColour{0.45455, srgb}, StatedColour{0.4567, {}},
                                StatedColour{0, srgb}}) {
    EXPECT_TRUE(MeansSrgb(s)) << s.gamma;
    EXPECT_TRUE(ProfileFor(s).empty()) << s.gamma;
  }
  // Beyond 0.5 %, another curve, other primaries; and what no picture can mean.
  for (const StatedColour& s : {StatedColour{0.4577, {}}, StatedColour{1.0, {}}, StatedColour{0, adobe},
                                StatedColour{1 / 2.2, adobe}})
    EXPECT_FALSE(MeansSrgb(s)) << s.gamma;
  const std::array<double, 8> line = {0.1, 0.1, 0.2, 0.2, 0.3, 0.3, 0.3127, 0.3290};
  for (const StatedColour& s : {StatedColour{50, {}}, StatedColour{-1, {}}, StatedColour{1.0, line}})
    EXPECT_TRUE(ProfileFor(s).empty()) << s.gamma;
  // Linear light: a mid-grey value is much lighter in sRGB.
  const ColorProfile linear(ProfileFor(StatedColour{1.0, {}}), DecodeLimits{});
  ASSERT_TRUE(linear.Usable()) << linear.Problem();
  Bitmap picture(1, 1, Bitmap::Format::k24Bit);
  picture.Row(0)[0] = picture.Row(0)[1] = picture.Row(0)[2] = 128;
  EXPECT_TRUE(linear.ConvertToSrgb(picture));
  EXPECT_NEAR(picture.Row(0)[1], 188, 1);
}

}  // namespace
}  // namespace velmora
