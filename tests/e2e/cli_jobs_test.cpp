// Several sources at once give what one at a time gives: the same files,
// byte for byte, and the same lines in the same order, on a batch with
// failures, a name collision, a combined PDF, an animated GIF and pictures
// that wait for memory.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "e2e/cli_fixture.h"
#include "platform/platform.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::vector<uint8_t>> FilesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = test::ReadFile(entry.path());
  return files;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// Same status, messages and files, the output folders' names aside.
void ExpectSameRuns(const test::TempDir& dir, const test::Result& one, const test::Result& four) {
  EXPECT_EQ(four.status, one.status);
  EXPECT_EQ(Replace(four.out, "out4", "out1"), one.out);
  EXPECT_EQ(Replace(four.err, "out4", "out1"), one.err);
  const auto a = FilesIn(dir / "out1"), b = FilesIn(dir / "out4");
  ASSERT_EQ(a.size(), b.size());
  for (const auto& [name, bytes] : a) {
    ASSERT_TRUE(b.count(name)) << name;
    EXPECT_TRUE(bytes == b.at(name)) << name << " differs";
  }
}

using test::CliTest;

TEST_F(CliTest, JobsChangeNothingButTheTimeTaken) {
  fs::create_directories(dir / "in/sub");
  for (int i = 0; i < 9; ++i) {
    test::SaveBmp(dir / ("in/p" + std::to_string(i) + ".bmp"), test::NoiseBitmap(40 + i * 7, 30 + i, Bitmap::Format::k24Bit, i));
  }
  test::SaveBmp(dir / "in/sub/deep.bmp", test::NoiseBitmap(20, 20, Bitmap::Format::k8Bit, 99));
  // Pictures big enough to count against the jobs' memory budget (4 MiB and
  // more), kept for the combined outputs while later ones wait for room.
  for (int i = 0; i < 2; ++i)
    test::SaveBmp(dir / ("in/big" + std::to_string(i) + ".bmp"), test::NoiseBitmap(1300, 1100 + i, Bitmap::Format::k24Bit, 50 + i));
  test::WriteText(dir / "in/broken.png", "\x89PNG\r\n\x1a\n not really");
  // p3.bmp and p3.tif both become p3.png: the second is refused.
  test::WriteFile(dir / "in/p3.tif", test::ReadFile(dir / "in/p0.bmp"));
  const std::string common = "-f png,jpg,pdf,gif --multipdf --animgif --name all --color 256 --overwrite --recursive ";
  // A fixed date makes the PDF's dates and image names repeatable.
  const test::Result one = Cli(common + "--jobs 1 --out out1 in", "SOURCE_DATE_EPOCH=1700000000");
  const test::Result four = Cli(common + "--jobs 4 --out out4 in", "SOURCE_DATE_EPOCH=1700000000");
  EXPECT_EQ(one.status, 1) << one.err;  // the broken file and the collision fail
  ExpectSameRuns(dir, one, four);
  EXPECT_NE(one.out.find("p3.tif × could not be converted"), std::string::npos) << one.out;
  EXPECT_NE(one.out.find("broken.png × could not be converted"), std::string::npos) << one.out;
  EXPECT_GT(FilesIn(dir / "out1").count("all.pdf") + FilesIn(dir / "out1").count("all.gif"), 1u);
}

TEST_F(CliTest, JobsFillANearlyFullDiskInTheBatchOrder) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  for (const char* out : {"out1", "out4"}) {
    fs::create_directories(dir / out);
    if (mount("tmpfs", (dir / out).c_str(), "tmpfs", 0, "size=2m") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << platform::ErrnoText(errno);
  }
  struct Unmount {
    std::string a, b;
    ~Unmount() { umount(a.c_str()), umount(b.c_str()); }
  } unmount{dir / "out1", dir / "out4"};
  // 600 KB each: three fit, the fourth does not, and later ones never take
  // the room of earlier ones.
  for (int i = 0; i < 6; ++i)
    test::SaveBmp(dir / ("in/p" + std::to_string(i) + ".bmp"), test::NoiseBitmap(500, 400, Bitmap::Format::k24Bit, i));
  const test::Result one = Cli("-f bmp --color full --overwrite --jobs 1 --out out1 in");
  const test::Result four = Cli("-f bmp --color full --overwrite --jobs 4 --out out4 in");
  EXPECT_EQ(one.status, 1) << one.err;
  EXPECT_NE(one.err.find("p3.bmp: Cannot write file"), std::string::npos) << one.err;
  EXPECT_EQ(FilesIn(dir / "out1").size(), 3u);
  ExpectSameRuns(dir, one, four);
}

}  // namespace
}  // namespace velmora
