// What a hostile file or a hostile machine may do to a batch, through
// velmora-cli as a user runs it: a damaged profile, oversized text and
// metadata, an encoder the memory limit cannot hold, a size that would wrap,
// temporaries of killed runs, and a usage error before any folder is made.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "cli_fixture.h"
#include "formats/tiff/tiff_writer.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

std::string Hostile(const std::string& name) { return std::string(VELMORA_SOURCE_DIR) + "/tests/fixtures/hostile/" + name; }

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class CliHostileTest : public CliTest {};

TEST_F(CliHostileTest, ADamagedProfileIsDroppedWithOneWarningAndEveryOutputIsWritten) {
  // Each of these ended the whole process in libjxl before (SIGILL): a
  // profile whose curve claims more entries than it holds, from a PNG and
  // from an AVIF, and one whose header claims 1,000,000 bytes.
  for (const char* file : {"png_icc_curv_count_1000_holds_2.png", "avif_icc_curv_count_1000_holds_2.avif",
                           "jpeg_icc_claims_1000000_bytes_holds_310.jpg"}) {
    fs::remove_all(dir / "out");
    const Result r = Cli("-f png,jpg,tif,pdf,webp,avif,jxl --color full --keep-profile --keep-metadata --keep-alpha "
                         "--out out '" + Hostile(file) + "'");
    EXPECT_EQ(r.status, 0) << file << "\n" << r.err;
    EXPECT_EQ(Count(r.err, "its colour profile is damaged and was ignored: "), 1u) << file << "\n" << r.err;
    EXPECT_EQ(Count(r.out, " → "), 7u) << file << "\n" << r.out;
    EXPECT_EQ(Files(dir / "out").size(), 7u) << file << ": no temporary beside the outputs";
  }
}

TEST_F(CliHostileTest, TextAndMetadataBeyondTheirLimitsAreLeftOutNotTheirPicture) {
  // A comment that inflates to 17 MiB: skipped, never a reason to refuse.
  Result r = Cli("-f png --keep-metadata --out out '" + Hostile("png_ztxt_comment_inflates_to_17MiB.png") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
  // An XMP packet over 1 MiB: left out with one warning naming its size.
  Bitmap small(16, 16, Bitmap::Format::k24Bit);
  DibImage image;
  image.Assign(small);
  OutputExtras extras;
  extras.xmp = std::make_shared<const std::string>("<x:xmpmeta>" + std::string(size_t{2} << 20, 'A') + "</x:xmpmeta>");
  WriteWith(dir / "big_xmp.tif", [&](std::ostream& out) { EncodeTiff(image, out, extras); });
  r = Cli("-f png,tif --keep-metadata --out kept big_xmp.tif");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("its XMP of 2097175 bytes is larger than the 1048576 bytes carried, and is left out"),
            std::string::npos)
      << r.err;
  EXPECT_LT(fs::file_size(dir / "kept/big_xmp.tif"), 4096u);
}

TEST_F(CliHostileTest, AnOutputTheMemoryLimitCannotHoldFailsAloneNamingItsFormatAndSize) {
  SaveBmp(dir / "big.bmp", NoiseBitmap(2000, 2000, Bitmap::Format::k24Bit, 7));
  WriteText(dir / "Velmora.ini", "[Limits]\r\nMaxMemory=100000000\r\n");
  const Result r = Cli("-f png,jxl --color full --out out big.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("big.bmp: writing 2000 x 2000 pixels as JPEG XL needs about "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("more than the memory limit of 95 MB"), std::string::npos) << r.err;
  EXPECT_EQ(Files(dir / "out"), std::vector<std::string>{"big.png"});
}

TEST_F(CliHostileTest, ASizeThatWouldWrapIsSaidAsAsked) {
  const Result r = Cli("-f png --size 2049 --enlarge --out out '" + Hostile("png_1x1048576_grey.png") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("1 x 1048576 pixels sized to 2049: 2049 x 2148532224 pixels exceed the limit of 1048576 pixels per side"),
            std::string::npos)
      << r.err;
}

TEST_F(CliHostileTest, TemporariesOfKilledRunsGoWhenABatchWritesThereAgain) {
  Small("a.bmp");
  fs::create_directories(dir / "out");
  WriteText(dir / "out/.old.png.velmora-AbC123", "left by a killed run");
  WriteText(dir / "out/.live.png.velmora-XyZ789", "being written");
  for (const char* name : {".old.png.velmora-AbC123", ".live.png.velmora-XyZ789"})
    ASSERT_EQ(system(("touch -d '2 hours ago' '" + (dir / "out") + "/" + name + "'").c_str()), 0);
  // A writer still alive holds its temporary's lock.
  const int held = open((dir / "out/.live.png.velmora-XyZ789").c_str(), O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  const Result r = Cli("-f png --out out a.bmp");
  close(held);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Files(dir / "out"), (std::vector<std::string>{".live.png.velmora-XyZ789", "a.png"}));
}

TEST_F(CliHostileTest, AUsageErrorMakesNoFolder) {
  const Result r = Cli("-f png --out new/folder -");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("a picture from standard input (-) needs --stdout"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "new"));
}

TEST_F(CliHostileTest, AProfileIsReadWithinWhatItsBytesCanHold) {
  if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer keeps freed memory: peak memory says nothing here";
  // Its table claims a 255-point grid of 15 outputs (497 MB) in 240 bytes.
  const long peak = PeakKib(dir.Path().string(), {"--ini", dir / "Velmora.ini", "-f", "png", "--out", "out",
                                                  Hostile("png_icc_lut_claims_255_cubed_grid_of_15_outputs.png")});
  ASSERT_GT(peak, 0);
  EXPECT_LT(peak, 40 * 1024) << peak << " KiB";
}

}  // namespace
}  // namespace velmora::test
