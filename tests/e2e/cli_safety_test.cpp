// velmora-cli never loses or damages a picture, and behaves as scripts
// expect: exact exit statuses and streams, validation, the folder options.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e/cli_fixture.h"
#include "platform/platform.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::Result;

constexpr const char* kFailed = " × could not be converted";

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (platform::IsOurTemporary(e.path().filename().string())) found.push_back(e.path().string());
  return found;
}

class CliSafetyTest : public CliTest {
 protected:
  std::string Data() const { return "XDG_DATA_HOME='" + (dir / "data") + "'"; }
  size_t InTrash() const {
    const fs::path files = fs::path(dir / "data") / "Trash" / "files";
    if (!fs::exists(files)) return 0;
    return static_cast<size_t>(std::distance(fs::directory_iterator(files), fs::directory_iterator()));
  }
};

TEST_F(CliSafetyTest, AConversionNeverReplacesItsOwnSource) {
  const std::string p = Small("p.bmp");
  const auto before = test::ReadFile(p);
  Result r = Cli("-f bmp,png --overwrite --trash-source p.bmp", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::ReadFile(p), before);
  EXPECT_EQ(r.out, p + kFailed + "\n" + p + " → " + (dir / "p.png") + " 173 B\n");
  EXPECT_NE(r.err.find("velmora-cli: " + p + ": \"" + p + "\" is the source file itself; it is not overwritten\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(InTrash(), 0u) << "a source whose output failed stays";

  // The same file under another name (a hard link) is the same picture.
  const std::string h = Small("h.bmp");
  ASSERT_EQ(link(h.c_str(), (dir / "h.png").c_str()), 0);
  r = Cli("-f png --overwrite h.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::ReadFile(dir / "h.png"), test::ReadFile(h));

  // A three-frame animated GIF converted to GIF in place keeps its frames.
  for (const char* f : {"f1", "f2", "f3"}) Small(std::string("frames/") + f + ".bmp", MakeColor(f[1] * 40, 9, 9));
  ASSERT_EQ(Cli("-f gif --animgif --name anim --color full frames").status, 0);
  const auto anim = test::ReadFile(dir / "anim.gif");
  r = Cli("-f gif --overwrite anim.gif");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(test::ReadFile(dir / "anim.gif"), anim);
}

TEST_F(CliSafetyTest, OneBatchNeverOverwritesItsOwnOutputs) {
  const std::string a = Small("a.bmp", MakeColor(255, 0, 0));
  const std::string d = Small("a.dib", MakeColor(0, 255, 0));
  const std::string e = Small("a.rle", MakeColor(0, 0, 255));
  Result r = Cli("-f png --overwrite --color full a.bmp a.dib a.rle");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, a + " → " + (dir / "a.png") + " 163 B\n" + d + kFailed + "\n" + e + kFailed + "\n");
  EXPECT_NE(r.err.find("velmora-cli: " + d + ": \"" + (dir / "a.png") + "\" was already written in this batch from " +
                       a + "; it is not overwritten\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(test::ReadWithMagick(dir / "a.png").At(0, 0), 0xFF0000u) << "the first source's picture stays";

  // Another source of the batch is never an output either.
  const std::string q = Small("q.png.bmp");
  fs::rename(q, dir / "q.png");
  Small("q.bmp");
  r = Cli("-f png --overwrite q.png q.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is a source of this batch; it is not overwritten"), std::string::npos) << r.err;

  // Files from before the batch are still replaced with --overwrite.
  test::WriteText(dir / "b.png", "old");
  Small("b.bmp");
  EXPECT_EQ(Cli("-f png --overwrite b.bmp").status, 0);
  EXPECT_GT(test::ReadFile(dir / "b.png").size(), 3u);
}

TEST_F(CliSafetyTest, ASourceGoesToTheTrashOnlyWhenAllItsOutputsExist) {
  Small("set/a.bmp"), Small("set/b.bmp");
  // The combined PDF cannot be written: nothing is trashed.
  test::WriteText(dir / "set.pdf", "read-only");
  chmod((dir / "set.pdf").c_str(), 0444);
  Result r = Cli("-f pdf --multipdf --overwrite --trash-source set", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the file is read-only"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(dir / "set/a.bmp") && fs::exists(dir / "set/b.bmp"));
  EXPECT_EQ(InTrash(), 0u);
  // Declined (it exists, no --overwrite): nothing is trashed either.
  chmod((dir / "set.pdf").c_str(), 0644);
  r = Cli("-f pdf --multipdf --trash-source set", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(InTrash(), 0u);
  // A single output skipped because it exists keeps its source.
  Small("c.bmp");
  test::WriteText(dir / "c.png", "old");
  r = Cli("-f png --trash-source c.bmp", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(dir / "c.bmp"));
  EXPECT_EQ(InTrash(), 0u);
  // When every output exists, the sources go, after the combined outputs.
  fs::remove(dir / "set.pdf");
  r = Cli("-f pdf,gif,png --multipdf --animgif --trash-source set", Data());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "set.pdf") && fs::exists(dir / "set.gif"));
  EXPECT_FALSE(fs::exists(dir / "set/a.bmp") || fs::exists(dir / "set/b.bmp"));
  EXPECT_EQ(InTrash(), 2u);
}

TEST_F(CliSafetyTest, ATrashThatCannotBeWrittenIsAFailure) {
  test::WriteText(dir / "data", "not a folder");
  const std::string a = Small("a.bmp");
  Result r = Cli("-f png --trash-source a.bmp", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(dir / "a.png")) << "the output stays";
  EXPECT_NE(r.out.find(a + kFailed), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("velmora-cli: " + a + ": Cannot move \"" + a + "\" to the trash: "), std::string::npos) << r.err;
}

TEST_F(CliSafetyTest, ALinkIsTheNameTheUserChose) {
  const std::string precious = Small("B/precious.bmp");
  const auto bytes = test::ReadFile(precious);
  fs::create_directories(dir / "A");
  fs::create_symlink("../B/precious.bmp", dir / "A/shortcut.bmp");
  // Given in a folder and as an argument: outputs beside the link, and the
  // link, not the picture behind it, goes to the trash.
  Result r = Cli("-f png --trash-source A", Data());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "A/shortcut.png"));
  EXPECT_FALSE(fs::exists(dir / "B/precious.png"));
  EXPECT_EQ(test::ReadFile(precious), bytes);
  EXPECT_FALSE(fs::is_symlink(dir / "A/shortcut.bmp"));
  const fs::path trashed = fs::path(dir / "data") / "Trash/files/shortcut.bmp";
  EXPECT_TRUE(fs::is_symlink(trashed));
  EXPECT_EQ(fs::read_symlink(trashed), "../B/precious.bmp");
  const auto info = test::ReadFile(fs::path(dir / "data") / "Trash/info/shortcut.bmp.trashinfo");
  EXPECT_NE(std::string(info.begin(), info.end()).find("Path=" + (dir / "A/shortcut.bmp") + "\n"), std::string::npos);
  fs::create_symlink("../B/precious.bmp", dir / "A/again.bmp");
  r = Cli("-f jpg A/again.bmp");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (dir / "A/again.bmp") + " → " + (dir / "A/again.jpg") + " " +
                       std::to_string(fs::file_size(dir / "A/again.jpg")) + " B\n");
  // The trash is private; a trashed file keeps its mode.
  for (const char* folder : {"Trash", "Trash/files", "Trash/info"}) {
    struct stat st {};
    ASSERT_EQ(stat((fs::path(dir / "data") / folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
  }
  const std::string mode = Small("m.bmp");
  chmod(mode.c_str(), 0640);
  ASSERT_EQ(Cli("-f png --trash-source m.bmp", Data()).status, 0);
  struct stat st {};
  ASSERT_EQ(stat((fs::path(dir / "data") / "Trash/files/m.bmp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(CliSafetyTest, ARecursiveWalkNeverLoops) {
  Small("tree/a.bmp");
  Small("tree/sub/b.bmp");
  Small("tree/.cache/c.bmp");
  Small("outside/d.bmp");
  fs::create_directory_symlink(".", dir / "tree/loop1");
  fs::create_directory_symlink(".", dir / "tree/sub/loop2");
  fs::create_directory_symlink("../outside", dir / "tree/elsewhere");
  Result r = Cli("-f png --recursive tree");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, (dir / "tree/a.bmp") + " → " + (dir / "tree/a.png") + " 173 B\n" + (dir / "tree/sub/b.bmp") +
                       " → " + (dir / "tree/sub/b.png") + " 173 B\n");
  EXPECT_FALSE(fs::exists(dir / "outside/d.png")) << "a link to a folder is not followed";
  fs::remove(dir / "tree/a.png"), fs::remove(dir / "tree/sub/b.png");
  r = Cli("-f png --recursive --hidden tree");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "tree/.cache/c.png"));
}

// Starts velmora-cli on a big conversion, waits until its temporary exists,
// then sends sig; returns the exit status.
int InterruptMidWrite(const test::TempDir& dir, int sig) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0), dup2(null, 1), dup2(null, 2);
    const std::string ini = dir / "Velmora.ini";
    const std::string big = dir / "big.bmp";
    const std::string out = dir / "out";
    execl(test::kCli.c_str(), "velmora-cli", "--ini", ini.c_str(), "-f", "png,pdf", "--color", "full", "--quality", "1",
          "--out", out.c_str(), big.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // The output folder appears as the conversion starts; the files wait
  // unnamed while they are encoded, so the signal comes a little later,
  // in the middle of the encoding.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline && !fs::exists(dir / "out"))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
}

TEST_F(CliSafetyTest, InterruptedRunsLeaveNothingBehind) {
  Bitmap big(2400, 2400, Bitmap::Format::k24Bit);
  for (int y = 0; y < 2400; ++y) {
    uint8_t* row = big.Row(y);
    for (int x = 0; x < 2400 * 3; ++x) row[x] = static_cast<uint8_t>((x * 7919 + y * 104729) >> 3);
  }
  DibImage image;
  image.Assign(big);
  image.SaveToFile(dir / "big.bmp");
  for (const auto& [sig, code] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}, std::pair{SIGHUP, 129}}) {
    fs::remove_all(dir / "out");
    EXPECT_EQ(InterruptMidWrite(dir, sig), code) << "signal " << sig;
    EXPECT_TRUE(Temporaries(dir.Path()).empty()) << "signal " << sig;
  }
}

TEST_F(CliSafetyTest, TemporariesOfAKilledRunAreNeverSources) {
  Small("in/a.bmp");
  fs::copy_file(dir / "in/a.bmp", dir / "in/.b.bmp.velmora-Xy12Zq");
  Result r = Cli("-f png in");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\n"), 1u) << r.out;
  r = Cli("-f png in/.b.bmp.velmora-Xy12Zq");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("temporary file left by an interrupted conversion"), std::string::npos) << r.err;
}

TEST_F(CliSafetyTest, LongNamesAndReadOnlyTargets) {
  const std::string name = std::string(247, 'L') + ".bmp";
  Small(name);
  Result r = Cli("-f png '" + name + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / (std::string(247, 'L') + ".png")));
  Small("ro.bmp");
  test::WriteText(dir / "ro.png", "mine");
  chmod((dir / "ro.png").c_str(), 0444);
  r = Cli("-f png --overwrite ro.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot replace \"" + (dir / "ro.png") + "\": the file is read-only"), std::string::npos)
      << r.err;
}

TEST_F(CliSafetyTest, DamagedInputIsReportedNotSilentlyConverted) {
  // A TIFF whose strip cannot be decoded fails the file.
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 7, 0};
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    for (uint16_t v : {tag, type}) tiff.push_back(v & 0xFF), tiff.push_back(v >> 8);
    for (uint32_t v : {1u, value})
      for (int i = 0; i < 4; ++i) tiff.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  entry(256, 4, 8), entry(257, 4, 8), entry(258, 4, 8), entry(259, 4, 5), entry(262, 4, 1), entry(273, 4, 98);
  entry(279, 4, 8);
  for (int i = 0; i < 4; ++i) tiff.push_back(0);
  for (uint8_t b : {0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}) tiff.push_back(b);
  test::WriteFile(dir / "bad.tif", tiff);
  Result r = Cli("-f png --trash-source bad.tif", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(dir / "bad.png"));
  EXPECT_TRUE(fs::exists(dir / "bad.tif"));
  EXPECT_NE(r.err.find("TIFF image error"), std::string::npos) << r.err;
}

TEST_F(CliSafetyTest, AFailingAdditionFailsItsOutputAloneAndLeavesNothing) {
  // Wider than WebP allows: the WebP output fails, PNG and JPEG XL are still
  // written, the source stays where it was.
  test::SaveBmp(dir / "wide.bmp", Bitmap(16400, 2, Bitmap::Format::k1Bit));
  Result r = Cli("-f webp,PNG,Jxl --trash-source wide.bmp", Data());
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("wide.bmp: Cannot write the WebP image: the picture is larger than WebP allows (16383 x 16383 "
                       "pixels) (libwebp: VP8_ENC_ERROR_BAD_DIMENSION)\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("wide.bmp × could not be converted"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(dir / "wide.png") && fs::exists(dir / "wide.jxl") && fs::exists(dir / "wide.bmp"));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.Path())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"wide.bmp", "wide.jxl", "wide.png"}));
}

TEST_F(CliSafetyTest, DatesPastTheYear2038) {
  const std::string a = Small("a.bmp");
  const struct timespec times[2] = {{0, UTIME_OMIT}, {10413792000, 0}};  // 2300-01-01
  ASSERT_EQ(utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
  ASSERT_EQ(Cli("-f png --keep-date a.bmp").status, 0);
  struct stat st;
  ASSERT_EQ(stat((dir / "a.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 10413792000);
}

TEST_F(CliSafetyTest, StreamsCarryExactlyWhatScriptsRead) {
  const std::string a = Small("s/a.bmp");
  test::WriteText(dir / "s/b.bmp", "junk");
  const std::string c = Small("s/c.bmp");
  Result r = Cli("-f png s nope.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, a + " → " + (dir / "s/a.png") + " 173 B\n" + (dir / "s/b.bmp") + kFailed + "\n" + c + " → " +
                       (dir / "s/c.png") + " 173 B\nnope.bmp" + kFailed + "\n");
  EXPECT_EQ(r.err,
            "velmora-cli: note: pictures are reduced to 256 colours, the desktop program's default; --color full "
            "keeps full colour\n"
            "velmora-cli: " + (dir / "s/b.bmp") + ": BMP image error: not a BMP file\n"
            "velmora-cli: nope.bmp: Cannot open file \"nope.bmp\": No such file or directory\n"
            "Conversion finished.\n");
  // Quiet: nothing but the list and the reasons.
  fs::remove(dir / "s/a.png"), fs::remove(dir / "s/c.png");
  r = Cli("-q -f png s");
  EXPECT_EQ(r.err, "velmora-cli: " + (dir / "s/b.bmp") + ": BMP image error: not a BMP file\n");
  // One file is one line, whatever its name holds.
  Small("t/x\ny\t.bmp");
  r = Cli("-q -f png t");
  EXPECT_EQ(r.out, dir / "t/x\\ny\\t.bmp" + std::string(" → ") + (dir / "t/x\\ny\\t.png") + " 173 B\n");
}

TEST_F(CliSafetyTest, ValidationNamesTheOption) {
  Small("a.bmp");
  const std::pair<const char*, const char*> bad[] = {
      {"-f png --delay -5 a.bmp", "--delay"},        {"-f png --delay 65536 a.bmp", "--delay"},
      {"-f png --delay 1x a.bmp", "--delay"},        {"-f png --pick -1,2 --trans a.bmp", "--pick"},
      {"-f png --pick 1,2 a.bmp", "--pick"},         {"-f png --quality 0 a.bmp", "--quality"},
      {"-f png,xyz a.bmp", "-f"},                    {"--formats= a.bmp", "No target format is selected."},
      {"-f png --skip-existing --overwrite a.bmp", "--skip-existing"}};
  for (const auto& [args, name] : bad) {
    Result r = Cli(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.err.find(name), std::string::npos) << args << ": " << r.err;
    EXPECT_EQ(Count(r.err, "\n"), 1u) << r.err;
  }
  // No format chosen anywhere is a usage error too.
  Result r = Cli("a.bmp");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "velmora-cli: No target format is selected. (-f chooses the formats) (see --help)\n");
  // Case and spaces in the list; --name with the extension.
  r = Cli("-f ' PNG, Bmp' --suffix-s a.bmp");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "as.png") && fs::exists(dir / "as.bmp"));
  Small("m/a.bmp"), Small("m/b.bmp");
  r = Cli("-f pdf --multipdf --name trip.pdf m");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "trip.pdf"));
  EXPECT_FALSE(fs::exists(dir / "trip.pdf.pdf"));
}

TEST_F(CliSafetyTest, FolderOptionsDryRunAndOrder) {
  Small("pics/B10.bmp"), Small("pics/b2.bmp"), Small("pics/a1.bmp"), Small("pics/A3.bmp");
  Small("pics/sub/deep.bmp");
  // Name order as a file manager shows it; no subfolders without --recursive.
  Result r = Cli("-q -f png --out new/nested pics");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> order;
  for (size_t at = 0; (at = r.out.find("/pics/", at)) != std::string::npos; ++at)
    order.push_back(r.out.substr(at + 6, r.out.find(' ', at) - at - 6));
  EXPECT_EQ(order, (std::vector<std::string>{"a1.bmp", "A3.bmp", "b2.bmp", "B10.bmp"}));
  EXPECT_TRUE(fs::exists(dir / "new/nested/a1.png"));
  EXPECT_FALSE(fs::exists(dir / "new/nested/deep.png"));
  // --recursive keeps the layout under --out.
  r = Cli("-q -f png --recursive --out rec pics");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "rec/sub/deep.png"));
  EXPECT_TRUE(fs::exists(dir / "rec/a1.png"));
  // A dry run lists and changes nothing.
  r = Cli("-f png,jpg --dry-run --out dry pics");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir / "dry"));
  EXPECT_NE(r.out.find((dir / "pics/a1.bmp") + " → " + (dir / "dry/a1.jpg") + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(Count(r.out, "\n"), 8u);
}

TEST_F(CliSafetyTest, SaveAndHelpTellWhereAndWhat) {
  // [Window] is the desktop program's: written back exactly as read.
  const std::string window = "[Window]\r\nPos.X=17\r\nPos.Y=23\r\nSize.XSize=900\r\nSize.YSize=700\r\nWindow_State=Max\r\n";
  test::WriteText(dir / "Velmora.ini", window);
  Result r = Cli("--save -f png --color full");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "velmora-cli: settings saved to " + (dir / "Velmora.ini") + "\n");
  const auto ini = test::ReadFile(dir / "Velmora.ini");
  EXPECT_EQ(std::string(ini.begin(), ini.end()).substr(0, window.size()), window);
  // --help shows the values in effect and where they come from.
  r = Cli("--help --quality 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find(dir / "Velmora.ini"), std::string::npos);
  EXPECT_NE(r.out.find("[now: png]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("[now: full]"), std::string::npos);
  EXPECT_NE(r.out.find("[now: 3]"), std::string::npos);
  // No 256-colour note once the colour depth is chosen.
  Small("a.bmp");
  r = Cli("-f bmp a.bmp");
  EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
  // Failures to save are reported with the reason.
  chmod((dir / "Velmora.ini").c_str(), 0444);
  r = Cli("--save --quality 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the file is read-only"), std::string::npos) << r.err;
  fs::create_directories(dir / "folder.ini");
  r = Cli("--ini folder.ini --save --quality 4");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it is a folder"), std::string::npos) << r.err;
}

// The window's settings never move a script's sources; --no-settings reads
// and writes no settings file at all.
TEST_F(CliSafetyTest, TheWindowsSettingsNeverMoveAScriptsSources) {
  test::WriteText(dir / "Velmora.ini", "[Config_Active]\r\ndelete=1\r\n");
  const std::string a = Small("a.bmp");
  Result r = Cli("-f png --color full a.bmp", Data());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(a));
  EXPECT_EQ(InTrash(), 0u);
  EXPECT_NE(r.err.find("velmora-cli: note: the settings file asks to move sources to the trash; velmora-cli does so "
                       "only with --trash-source\n"),
            std::string::npos)
      << r.err;
  // --save writes the window's wish back as it was.
  ASSERT_EQ(Cli("--save --quality 4").status, 0);
  const auto ini = test::ReadFile(dir / "Velmora.ini");
  EXPECT_NE(std::string(ini.begin(), ini.end()).find("delete=1"), std::string::npos);
  r = Cli("-f png --color full --overwrite --trash-source a.bmp", Data());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(InTrash(), 1u);
  EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;

  const std::string config = dir / "config";
  const std::string run = "cd '" + dir.Path().string() + "' && HOME='" + config + "' XDG_CONFIG_HOME='" + config +
                          "' LANG=en_US.UTF-8 '" + test::kCli + "' --no-settings ";
  Small("b.bmp");
  std::string out;
  EXPECT_EQ(test::Run(run + "-f png b.bmp 2>/dev/null", &out), 0);
  EXPECT_TRUE(fs::exists(dir / "b.png"));
  EXPECT_FALSE(fs::exists(config)) << "nothing read or written there";
  EXPECT_EQ(test::Run(run + "--help", &out), 0);
  EXPECT_NE(out.find("none (--no-settings): the desktop program's defaults apply"), std::string::npos) << out;
  EXPECT_EQ(test::Run(run + "--ini x.ini -f png b.bmp 2>&1", &out), 2);
  EXPECT_NE(out.find("--no-settings cannot be used with --ini or --save"), std::string::npos) << out;
}

TEST_F(CliSafetyTest, TruncatedJpegConvertsWithAWarning) {
  Bitmap b(160, 120, Bitmap::Format::k24Bit);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) b.SetPixel(x, y, MakeColor(x, y * 2, (x * y) & 255));
  DibImage image;
  image.Assign(b);
  image.SaveToFile(dir / "src.bmp");
  ASSERT_EQ(Cli("-f jpg --color full src.bmp").status, 0);
  auto jpeg = test::ReadFile(dir / "src.jpg");
  jpeg.resize(jpeg.size() * 6 / 10);
  test::WriteFile(dir / "cut.jpg", jpeg);
  Result r = Cli("-f png --color full cut.jpg");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("velmora-cli: warning: " + (dir / "cut.jpg") + ": JPEG warning: the picture is damaged; what could be read is converted (libjpeg: Premature end of JPEG file)\n"),
            std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(CliSafetyTest, SpecialFilesAreRefusedAndTheBatchGoesOn) {
  const std::string a = Small("in/a.bmp");
  ASSERT_EQ(mkfifo((dir / "in/pipe.bmp").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/dev/zero", (dir / "zero.bmp").c_str()), 0);
  // A FIFO inside a folder and as an argument, and a device behind a link:
  // none blocks, none fills memory, the good file converts.
  Result r = Cli("-q -f png in in/pipe.bmp zero.bmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(fs::exists(dir / "in/a.png"));
  EXPECT_NE(r.err.find("velmora-cli: " + (dir / "in/pipe.bmp") + ": Cannot read \"" + (dir / "in/pipe.bmp") +
                       "\": it is a FIFO, not a picture file\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(": it is a character device, not a picture file\n"), std::string::npos) << r.err;
  EXPECT_EQ(Count(r.out, kFailed), 3u) << r.out;
}

TEST_F(CliSafetyTest, HostileFilesFailOneByOneAndTheBatchGoesOn) {
  const std::string hostile = std::string(VELMORA_SOURCE_DIR) + "/tests/fixtures/hostile";
  fs::create_directories(dir / "mixed");
  // These convert, what is damaged in them left out (see cli_hostile_test).
  const std::set<std::string> converted = {
      "avif_icc_curv_count_1000_holds_2.avif", "jpeg_icc_claims_1000000_bytes_holds_310.jpg", "png_1x1048576_grey.png",
      "png_icc_curv_count_1000_holds_2.png",   "png_icc_lut_claims_255_cubed_grid_of_15_outputs.png",
      "png_ztxt_comment_inflates_to_17MiB.png"};
  size_t count = 0;
  for (const auto& e : fs::directory_iterator(hostile)) {
    fs::copy_file(e.path(), dir / "mixed" / e.path().filename());
    count += converted.count(e.path().filename().string()) == 0;
  }
  Small("mixed/zz_good.bmp");
  Result r = Cli("-q -f png --color full --out conv mixed");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, kFailed), count) << r.out;
  EXPECT_NE(r.out.find((dir / "mixed/zz_good.bmp") + " → "), std::string::npos) << r.out;
  // One line a file; a library's own chatter is folded into it, except
  // under the sanitizer, which keeps standard error to itself.
  EXPECT_EQ(test::kAddressSanitizer ? Count("\n" + r.err, "\nvelmora-cli: ") : Count(r.err, "\n"), count) << r.err;
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(CliSafetyTest, CombinedOutputsNeedTheMemoryOfAFewPictures) {
  if (test::kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer keeps freed memory: peak memory says nothing here";
  for (int i = 0; i < 30; ++i) {
    const Bitmap noise = test::NoiseBitmap(800, 600, Bitmap::Format::k24Bit, static_cast<unsigned>(i));
    test::SaveBmp(dir / ("many/" + std::to_string(100 + i) + ".bmp"), noise);
    if (i < 2) test::SaveBmp(dir / ("two/" + std::to_string(100 + i) + ".bmp"), noise);
  }
  for (const char* kind : {"pdf", "gif"}) {
    const std::vector<std::string> common = {"--ini", dir / "Velmora.ini", "-q", "--overwrite", "-f", kind,
                                             std::string(kind) == "pdf" ? "--multipdf" : "--animgif"};
    auto run = [&](const char* folder) {
      std::vector<std::string> args = common;
      args.insert(args.end(), {"--name", std::string(folder) + "_" + kind, dir / folder});
      return test::PeakKib(dir.Path().string(), args);
    };
    const long two = run("two"), thirty = run("many");
    ASSERT_GT(two, 0) << kind;
    ASSERT_GT(thirty, 0) << kind;
    EXPECT_LT(thirty, two * 3 / 2) << kind << ": 2 pictures " << two << " KiB, 30 pictures " << thirty << " KiB";
  }
}

}  // namespace
}  // namespace velmora
