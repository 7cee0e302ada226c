// The file-system stand-ins that guard the user's files: the atomic write and
// the trash, including their failure paths.
#include "platform/library_output.h"
#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <ostream>

#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using test::ErrorOf;

size_t CountFiles(const fs::path& folder) {
  size_t n = 0;
  for (const auto& e : fs::directory_iterator(folder)) n += e.is_regular_file();
  return n;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(AtomicWriteTest, KeepsModesAndRespectsTheUmask) {
  test::TempDir dir;
  const mode_t old_mask = umask(027);
  platform::WriteFileAtomically(dir / "new.bin", [](std::ostream& out) { out << "x"; });
  umask(old_mask);
  EXPECT_EQ(ModeOf(dir / "new.bin"), 0640u);
  test::WriteText(dir / "mine.bin", "old");
  chmod((dir / "mine.bin").c_str(), 0600);
  platform::WriteFileAtomically(dir / "mine.bin", [](std::ostream& out) { out << "new"; });
  EXPECT_EQ(ModeOf(dir / "mine.bin"), 0600u);
  EXPECT_EQ(test::ReadFile(dir / "mine.bin").size(), 3u);
  EXPECT_EQ(CountFiles(dir.Path()), 2u);
}

TEST(AtomicWriteTest, ReadOnlyTargetsAndFoldersAreReportedAsSuch) {
  test::TempDir dir;
  test::WriteText(dir / "locked.png", "precious");
  chmod((dir / "locked.png").c_str(), 0444);
  EXPECT_EQ(ErrorOf([&] { platform::WriteFileAtomically(dir / "locked.png", [](std::ostream& o) { o << "x"; }); }),
            "Cannot replace \"" + (dir / "locked.png") + "\": the file is read-only");
  EXPECT_EQ(test::ReadFile(dir / "locked.png").size(), 8u);
  fs::create_directories(dir / "folder.png");
  EXPECT_EQ(ErrorOf([&] { platform::WriteFileAtomically(dir / "folder.png", [](std::ostream& o) { o << "x"; }); }),
            "Cannot create file \"" + (dir / "folder.png") + "\": it is a folder");
  EXPECT_EQ(
      ErrorOf([&] { platform::WriteFileAtomically(dir / "no/such/folder.png", [](std::ostream& o) { o << "x"; }); }),
      "Cannot create file \"" + (dir / "no/such/folder.png") + "\": No such file or directory");
}

TEST(AtomicWriteTest, NamesUpToTheLimitFitTheirTemporary) {
  test::TempDir dir;
  for (size_t length : {240u, 250u, 255u}) {
    const std::string name = std::string(length - 4, 'n') + ".png";
    ASSERT_NO_THROW(platform::WriteFileAtomically(dir / name, [](std::ostream& out) { out << "ok"; })) << length;
    EXPECT_TRUE(fs::exists(dir / name));
  }
  // A multi-byte name is cut on a character boundary.
  std::string wide;
  while (wide.size() < 246) wide += "写";
  ASSERT_NO_THROW(platform::WriteFileAtomically(dir / (wide + ".png"), [&](std::ostream& out) {
    bool seen = false;
    for (const auto& e : fs::directory_iterator(dir.Path())) {
      const std::string n = e.path().filename().string();
      if (!platform::IsOurTemporary(n)) continue;
      seen = true;
      EXPECT_LE(n.size(), 255u);
    }
    EXPECT_TRUE(seen) << "the temporary exists while writing";
    out << "ok";
  }));
}

TEST(AtomicWriteTest, AFailedWriteLeavesNothingAndTheOldFileIntact) {
  test::TempDir dir;
  test::WriteText(dir / "a.png", "old");
  EXPECT_EQ(ErrorOf([&] {
              platform::WriteFileAtomically(dir / "a.png", [](std::ostream& out) {
                out << "partial";
                throw std::runtime_error("encoder failed");
              });
            }),
            "encoder failed");
  EXPECT_EQ(test::ReadFile(dir / "a.png").size(), 3u);
  EXPECT_EQ(CountFiles(dir.Path()), 1u);
}

platform::PendingFile Pending(const std::string& folder, const std::string& text) {
  platform::PendingFile file(folder);
  EXPECT_TRUE(file.Valid());
  EXPECT_TRUE(file.Write([&](std::ostream& out) { out << text; }));
  return file;
}

TEST(AtomicWriteTest, APendingFileIsNamedWithTheSamePromises) {
  test::TempDir dir;
  fs::create_directories(dir / "other");
  const mode_t old_mask = umask(027);
  platform::PendingFile fresh = Pending(dir.Path(), "abc");
  umask(old_mask);
  EXPECT_EQ(CountFiles(dir.Path()), 0u) << "nothing named before the commit";
  platform::CommitFileAtomically(dir / "new.bin", fresh);
  EXPECT_EQ(ModeOf(dir / "new.bin"), 0640u);
  EXPECT_EQ(test::ReadFile(dir / "new.bin").size(), 3u);
  // Made in one folder, named in another of the same file system; replacing
  // keeps the old file's mode.
  test::WriteText(dir / "other/mine.bin", "old");
  chmod((dir / "other/mine.bin").c_str(), 0604);
  platform::PendingFile moved = Pending(dir.Path(), "newer");
  platform::CommitFileAtomically(dir / "other/mine.bin", moved);
  EXPECT_EQ(ModeOf(dir / "other/mine.bin"), 0604u);
  EXPECT_EQ(test::ReadFile(dir / "other/mine.bin").size(), 5u);
  EXPECT_EQ(CountFiles(dir / "other"), 1u);
  // A read-only target is refused as by the writer that encodes in place.
  test::WriteText(dir / "locked.png", "precious");
  chmod((dir / "locked.png").c_str(), 0444);
  platform::PendingFile refused = Pending(dir.Path(), "x");
  EXPECT_EQ(ErrorOf([&] { platform::CommitFileAtomically(dir / "locked.png", refused); }),
            "Cannot replace \"" + (dir / "locked.png") + "\": the file is read-only");
  EXPECT_EQ(test::ReadFile(dir / "locked.png").size(), 8u);
  EXPECT_EQ(CountFiles(dir.Path()), 2u);
  // An encoder's failure passes through and leaves nothing behind.
  platform::PendingFile failing(dir.Path());
  EXPECT_EQ(ErrorOf([&] {
              failing.Write([](std::ostream& out) {
                out << "partial";
                throw std::runtime_error("encoder failed");
              });
            }),
            "encoder failed");
  EXPECT_FALSE(failing.Valid());
  EXPECT_FALSE(platform::PendingFile(dir / "no/such").Valid());
}

TEST(AtomicWriteTest, AFullDiskIsNamedAsSuch) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  test::TempDir dir;
  const std::string mnt = dir / "small";
  fs::create_directories(mnt);
  if (mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << platform::ErrnoText(errno);
  const std::string target = mnt + "/big.bin";
  const std::string error = ErrorOf([&] {
    platform::WriteFileAtomically(target, [](std::ostream& out) {
      const std::string block(1 << 16, 'x');
      for (int i = 0; i < 8 && out; ++i) out << block;
    });
  });
  EXPECT_EQ(error, "Cannot write file \"" + target + "\": No space left on device");
  EXPECT_EQ(CountFiles(mnt), 0u);
  // A pending file the disk cannot hold is dropped; one on another file
  // system than its target is copied there.
  platform::PendingFile big(mnt);
  EXPECT_FALSE(big.Write([](std::ostream& out) { out << std::string(1 << 19, 'x'); }));
  EXPECT_FALSE(big.Valid());
  platform::PendingFile small = Pending(mnt, "across");
  platform::CommitFileAtomically(dir / "copied.bin", small);
  EXPECT_EQ(test::ReadFile(dir / "copied.bin").size(), 6u);
  EXPECT_EQ(CountFiles(mnt), 0u);
  umount(mnt.c_str());
}

TEST(TemporaryNameTest, RecognisesOnlyOurOwn) {
  EXPECT_TRUE(platform::IsOurTemporary(".a.png.velmora-Ab3xYz"));
  EXPECT_FALSE(platform::IsOurTemporary("a.png.velmora-Ab3xYz"));
  EXPECT_FALSE(platform::IsOurTemporary(".a.png.velmora-Ab3x"));
  EXPECT_FALSE(platform::IsOurTemporary(".a.png.velmora-Ab3x!z"));
  EXPECT_FALSE(platform::IsOurTemporary(".hidden.png"));
}

TEST(DateTest, FarFutureDatesKeepTheirYear) {
  test::TempDir dir;
  test::WriteText(dir / "f", "x");
  for (int64_t unix_seconds : {int64_t{2209075200} /* 2040 */, int64_t{10413792000} /* 2300 */}) {
    const double date = platform::PackedLocalDate(unix_seconds);
    platform::SetFileWriteTime(dir / "f", platform::LocalDateToFileTime(date));
    struct stat st;
    ASSERT_EQ(stat((dir / "f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, unix_seconds) << unix_seconds;
  }
}

class TrashTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_DATA_HOME");
    if (old) saved_ = old, had_ = true;
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    if (had_)
      setenv("XDG_DATA_HOME", saved_.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
    for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) umount(it->c_str());
  }
  std::string Trash(const std::string& rest) const { return dir / ("data/Trash/" + rest); }
  // A tmpfs of options at dir/name, unmounted when the test ends; the
  // reason it cannot be, or "".
  std::string Mount(const std::string& name, const char* options) {
    if (geteuid() != 0) return "mounting a tmpfs needs root";
    const std::string path = dir / name;
    fs::create_directories(path);
    if (mount("tmpfs", path.c_str(), "tmpfs", 0, options) != 0)
      return "cannot mount a tmpfs here: " + platform::ErrnoText(errno);
    mounted_.push_back(path);
    return "";
  }
  test::TempDir dir;
  std::vector<std::string> mounted_;
  std::string saved_;
  bool had_ = false;
};

TEST_F(TrashTest, AnOrphanInFilesIsNeverOverwritten) {
  test::WriteText(dir / "a.bmp", "first");
  platform::MoveToTrash(dir / "a.bmp");
  // An orphan: a file in files/ whose info is gone.
  fs::remove(Trash("info/a.bmp.trashinfo"));
  test::WriteText(dir / "a.bmp", "second");
  platform::MoveToTrash(dir / "a.bmp");
  EXPECT_EQ(test::ReadFile(Trash("files/a.bmp")).size(), 5u);
  EXPECT_EQ(test::ReadFile(Trash("files/a.bmp.2")).size(), 6u);
  const auto info = test::ReadFile(Trash("info/a.bmp.2.trashinfo"));
  const std::string text(info.begin(), info.end());
  EXPECT_NE(text.find("[Trash Info]\nPath=" + (dir / "a.bmp") + "\nDeletionDate="), std::string::npos) << text;
}

TEST_F(TrashTest, AnUnwritableTrashIsAFailureAndTheFileStays) {
  test::WriteText(dir / "data", "a file where the data folder should be");
  test::WriteText(dir / "a.bmp", "keep");
  const std::string error = ErrorOf([&] { platform::MoveToTrash(dir / "a.bmp"); });
  EXPECT_EQ(error.rfind("Cannot move \"" + (dir / "a.bmp") + "\" to the trash: Cannot create folder", 0), 0u) << error;
  EXPECT_EQ(test::ReadFile(dir / "a.bmp").size(), 4u);
}

TEST_F(TrashTest, AKilledCopyLeavesNothingUnderTheSourcesNameAndTheNextMoveClearsIt) {
  if (const std::string why = Mount("card", "size=300m"); !why.empty()) GTEST_SKIP() << why;
  const std::string mnt = dir / "card";
  const std::string photo = mnt + "/photo.jpg";
  test::WriteFile(photo, std::vector<uint8_t>(size_t{256} << 20, 0x5A));
  // Each move in a process of its own, as each run of the program is.
  auto move_in_child = [&](const std::string& path) {
    const pid_t pid = fork();
    if (pid == 0) {
      try {
        platform::MoveToTrash(path);
      } catch (...) {
        _exit(1);
      }
      _exit(0);
    }
    return pid;
  };
  const pid_t pid = move_in_child(photo);
  // Killed while the copy is being made, under its hidden name.
  for (int i = 0; i < 5000; ++i) {
    bool copying = false;
    if (fs::exists(Trash("files")))
      for (const auto& e : fs::directory_iterator(Trash("files"))) copying |= platform::IsOurTemporary(e.path().filename());
    if (copying) break;
    usleep(1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(fs::exists(Trash("files/photo.jpg"))) << "no partial copy under the source's name";
  EXPECT_EQ(fs::file_size(photo), size_t{256} << 20) << "the original is untouched";
  EXPECT_EQ(CountFiles(Trash("files")), 1u) << "the hidden copy the kill left";
  // The next run's move clears what the killed one left, its reserved
  // .trashinfo too, and moves the file whole.
  test::WriteText(mnt + "/small.jpg", "small");
  int status = 0;
  waitpid(move_in_child(mnt + "/small.jpg"), &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(CountFiles(Trash("files")), 1u);
  EXPECT_TRUE(fs::exists(Trash("files/small.jpg")));
  EXPECT_FALSE(fs::exists(Trash("info/photo.jpg.trashinfo")));
}

TEST_F(TrashTest, AcrossFileSystemsTheCopyIsCheckedBeforeTheSourceGoes) {
  if (const std::string why = Mount("card", "size=1m"); !why.empty()) GTEST_SKIP() << why;
  const std::string mnt = dir / "card";
  // The photo lives on the "card"; the trash is on a full small file system.
  const std::string photo = mnt + "/photo.jpg";
  test::WriteFile(photo, std::vector<uint8_t>(300000, 0x5A));
  chmod(photo.c_str(), 0640);
  struct timespec times[2] = {{1500000000, 0}, {1600000000, 0}};
  utimensat(AT_FDCWD, photo.c_str(), times, 0);
  if (const std::string why = Mount("fullfs", "size=128k"); !why.empty()) GTEST_SKIP() << why;
  const std::string full = dir / "fullfs";
  setenv("XDG_DATA_HOME", full.c_str(), 1);
  const std::string error = ErrorOf([&] { platform::MoveToTrash(photo); });
  EXPECT_EQ(error, "Cannot move \"" + photo + "\" to the trash: No space left on device");
  EXPECT_EQ(test::ReadFile(photo).size(), 300000u) << "the original is untouched";
  EXPECT_EQ(CountFiles(full + "/Trash/files"), 0u) << "no partial copy stays";
  EXPECT_EQ(CountFiles(full + "/Trash/info"), 0u);

  // With room the move succeeds, keeping content, mode and date.
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  platform::MoveToTrash(photo);
  EXPECT_FALSE(fs::exists(photo));
  EXPECT_EQ(test::ReadFile(Trash("files/photo.jpg")), std::vector<uint8_t>(300000, 0x5A));
  EXPECT_EQ(ModeOf(Trash("files/photo.jpg")), 0640u);
  struct stat st;
  ASSERT_EQ(stat(Trash("files/photo.jpg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1600000000);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {


}  // namespace
TEST(LibraryOutputTest, WhatALibraryPrintsJoinsTheReasonAndOurMessagesStillShow) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "under the sanitizers descriptor 2 is theirs";
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDERR_FILENO);
    unsetenv("VELMORA_LIBRARY_OUTPUT");
    platform::CaptureLibraryOutput();
    const uint64_t mark = platform::LibraryOutputMark();
    std::fprintf(stderr, "./lib/jxl/enc_xyb.cc:271: JXL_CHECK: TransformIfNeeded\nsecond line\n");
    std::fflush(stderr);
    const std::string folded = platform::LibraryOutputSince(mark);
    std::cerr << "ours: " << folded << std::endl;
    _exit(folded == "./lib/jxl/enc_xyb.cc:271: JXL_CHECK: TransformIfNeeded; second line" ? 0 : 1);
  }
  close(pipe_fds[1]);
  std::string seen;
  char buffer[512];
  for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, static_cast<size_t>(n));
  close(pipe_fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  // Only our own line reached the real standard error.
  EXPECT_EQ(seen, "ours: ./lib/jxl/enc_xyb.cc:271: JXL_CHECK: TransformIfNeeded; second line\n");
}

}  // namespace velmora
