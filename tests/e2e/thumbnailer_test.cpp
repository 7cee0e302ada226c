// velmora-thumbnailer as a file manager runs it: the Exec line of the
// installed .thumbnailer file, with its %s, %i and %o filled in.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli_fixture.h"
#include "formats/loader.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ThumbnailerTest : public CliTest {
 protected:
  // The entry's Exec line with size, input and output in their places, run
  // with the built programs first on PATH (its TryExec must find them).
  int Thumbnail(const std::string& size, const std::string& input, const std::string& output) {
    const std::string entry = Slurp(std::string(VELMORA_SOURCE_DIR) + "/data/velmora.thumbnailer");
    const size_t exec = entry.find("\nExec=");
    std::string line = entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
    for (const auto& [code, value] : {std::pair{"%s", size}, {"%i", input}, {"%o", output}})
      line.replace(line.find(code), 2, "'" + value + "'");
    return test::Run("cd '" + dir.Path().string() + "' && PATH='" + std::string(VELMORA_BINARY_DIR) +
                     "/src':\"$PATH\" " + line + " 2>/dev/null");
  }
};

TEST_F(ThumbnailerTest, TheEntryNamesTheProgramAndThePictureTypesOnlyWeRead) {
  const std::string entry = Slurp(std::string(VELMORA_SOURCE_DIR) + "/data/velmora.thumbnailer");
  EXPECT_EQ(entry.rfind("[Thumbnailer Entry]\n", 0), 0u);
  EXPECT_NE(entry.find("\nTryExec=velmora-thumbnailer\n"), std::string::npos);
  const std::string declared = Slurp(std::string(VELMORA_SOURCE_DIR) + "/data/io.github.velmora.Velmora.xml");
  for (const char* type : {"image/x-mag", "image/x-paintshoppro", "image/x-rla", "image/x-autodesk-cel", "image/x-dr-halo"}) {
    EXPECT_NE(entry.find(std::string(type) + ";"), std::string::npos) << type;
    EXPECT_NE(declared.find(std::string("type=\"") + type + "\""), std::string::npos) << type << " is declared nowhere";
  }
  // Types every desktop already shows well are left to their own thumbnailers.
  for (const char* type : {"image/png", "image/jpeg", "image/bmp", "image/tiff"})
    EXPECT_EQ(entry.find(std::string(type) + ";"), std::string::npos) << type;
}

TEST_F(ThumbnailerTest, AMagBecomesAPngOfTheLongEdgeAndASmallPictureKeepsItsSize) {
  const std::string source = SaveBmp(dir / "wide.bmp", RgbBitmap(300, 200, [](int x, int y) {
                                       return MakeColor(x < 150 ? 250 : 10, y < 100 ? 20 : 200, 90);
                                     }));
  ASSERT_EQ(Cli("-f mag --color full wide.bmp").status, 0);
  const std::string mag = dir / "wide.mag";
  ASSERT_TRUE(fs::exists(mag));
  Loader loader;
  ASSERT_EQ(Thumbnail("128", mag, dir / "thumb.png"), 0);
  Bitmap thumb;
  loader.LoadFile(dir / "thumb.png")->AssignTo(thumb);
  EXPECT_EQ(thumb.Width(), 128);
  EXPECT_EQ(thumb.Height(), 85);
  // The quarters keep the colours the MAG holds.
  Bitmap original;
  loader.LoadFile(mag)->AssignTo(original);
  EXPECT_EQ(thumb.GetPixel(10, 10), original.GetPixel(20, 20));
  EXPECT_EQ(thumb.GetPixel(120, 80), original.GetPixel(290, 190));
  EXPECT_NE(thumb.GetPixel(10, 10), thumb.GetPixel(120, 80));
  ASSERT_EQ(Thumbnail("512", mag, dir / "large.png"), 0);
  loader.LoadFile(dir / "large.png")->AssignTo(thumb);
  EXPECT_EQ(thumb.Width(), 300);
  EXPECT_EQ(thumb.Height(), 200);
}

TEST_F(ThumbnailerTest, HostileFilesAndWrongArgumentsLeaveNothingBehind) {
  const std::string hostile = std::string(VELMORA_SOURCE_DIR) + "/tests/fixtures/hostile/";
  fs::create_directory(dir / "out");
  for (const char* name : {"mag_2048x2048_in_117_bytes.mag", "psp_1x1_channel_claims_1GiB.psp",
                           "psp_layer_rectangle_overflows_int.psp", "rle8_67108864x4_in_78_bytes.bmp",
                           "tiff_4294967295x4294967295.tif", "png_chunk_claims_2GiB.png"}) {
    EXPECT_EQ(Thumbnail("256", hostile + name, dir / "out/t.png"), 1) << name;
  }
  // A picture within the converter's limits but not a thumbnailer's.
  const std::string big = SaveBmp(dir / "big.bmp", RgbBitmap(6000, 6000, [](int, int) { return MakeColor(1, 2, 3); }));
  EXPECT_EQ(Thumbnail("256", big, dir / "out/t.png"), 1);
  EXPECT_EQ(Thumbnail("256", dir / "missing.mag", dir / "out/t.png"), 1);
  for (const char* size : {"0", "4097", "12px", ""}) EXPECT_EQ(Thumbnail(size, big, dir / "out/t.png"), 2) << size;
  EXPECT_TRUE(fs::is_empty(dir / "out")) << "no thumbnail and no temporary";
}

}  // namespace
}  // namespace velmora::test
