#include "pipeline/batch_session.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "base/messages.h"
#include "image/dib_image.h"
#include "pipeline/fakes.h"
#include "platform/platform.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::FakeUi;

Bitmap Pattern(int w, int h) {
  return test::RgbBitmap(w, h, [](int x, int y) { return MakeColor(x * 20, y * 30, 90); });
}

class BatchSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.C_bmp = true;
    settings.C_PixelColor = 0;
    settings.S_folder_n = dir.Path().string() + "/";
  }
  std::string File(const std::string& name, int w = 4, int h = 3) { return test::SaveBmp(dir / name, Pattern(w, h)); }
  // The converter under test, made on first use with the fixture's settings,
  // user interface, clipboard and loader.
  BatchSession& C() {
    if (!converter_) {
      converter_ = std::make_unique<BatchSession>(settings, ui, &clipboard, loader);
      converter_->SetOptions(BatchOptions{}, dir.Path().string() + "/app/");
    }
    return *converter_;
  }

  test::TempDir dir;
  Settings settings;
  FakeUi ui;
  test::FakeClipboard clipboard;
  Loader loader;
  std::unique_ptr<BatchSession> converter_;
};

TEST(SizeTextTest, KilobytesOnlyAbove1024) {
  EXPECT_EQ(SizeText(0), "0 B");
  EXPECT_EQ(SizeText(1024), "1024 B");
  EXPECT_EQ(SizeText(1025), "1 KB");
  EXPECT_EQ(SizeText(2047), "1 KB");
  EXPECT_EQ(SizeText(53000), "51 KB");
}

TEST_F(BatchSessionTest, WritesBmpAndAddsResultLine) {
  const std::string src = File("a.bmp");
  fs::rename(src, dir / "a.jpg.bmp");
  const std::string source = dir / "a.jpg.bmp";
  settings.V_over = true;
  settings.V_adds = true;
  BatchSession& c = C();
  c.RunBatch({source});
  const std::string out = dir / "a.jpgs.bmp";
  ASSERT_TRUE(fs::exists(out));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.results[0], source + " → " + out + " " + SizeText(static_cast<int64_t>(fs::file_size(out))));
  EXPECT_EQ(ui.StatusText(), kBatchDone);
  EXPECT_EQ(ui.captions.back(), kDropCaption);
  EXPECT_EQ(ui.captions.front(), source + "を変換中");
  ASSERT_EQ(ui.Count(MessageKind::kFinal), 1);
  EXPECT_EQ(ui.messages[0].second, "次のファイルとして保存しました。\n\r" + ui.results[0] + "\r\n");
  EXPECT_FALSE(ui.progress_visible);
}

TEST_F(BatchSessionTest, NamingRules) {
  BatchSession& c = C();
  c.Commits().ResolveOutputPath("/p/a.b.jpg", "png");
  EXPECT_EQ(c.Commits().OutputPath(), "/p/a.b.png");
  settings.V_adds = true;
  c.Commits().ResolveOutputPath("/p/a.b.jpg", "png");
  EXPECT_EQ(c.Commits().OutputPath(), "/p/a.bs.png");
  c.Commits().ResolveOutputPath("/p.d/noext", "gif");
  EXPECT_EQ(c.Commits().OutputPath(), "/p.d/noexts.gif");
  settings.V_adds = false;
  // A clipboard picture: in the current folder, named in full; in the
  // pictures folder when the current one cannot be written (here: gone).
  const fs::path here = fs::current_path();
  fs::create_directories(dir / "cwd");
  fs::current_path(dir / "cwd");
  c.Commits().ResolveOutputPath("Clip2", "png");
  EXPECT_EQ(c.Commits().OutputPath(), (dir / "cwd") + "/Clip2.png");
  fs::create_directories(dir / "home/Pictures");
  {
    test::ScopedEnv home("HOME", dir / "home");
    test::ScopedEnv config("XDG_CONFIG_HOME", dir / "home/.config");
    fs::remove(dir / "cwd");
    c.Commits().ResolveOutputPath("Clip2", "png");
    EXPECT_EQ(c.Commits().OutputPath(), (dir / "home/Pictures") + "/Clip2.png");
  }
  fs::current_path(here);
  settings.S_sourcefile = false;
  settings.S_folder = true;
  settings.S_folder_n = "/out/";
  c.Commits().ResolveOutputPath("/p/a.jpg", "png");
  EXPECT_EQ(c.Commits().OutputPath(), "/out/a.png");
  settings.S_folder = false;
  settings.S_app = true;
  c.Commits().ResolveOutputPath("/p/a.jpg", "png");
  EXPECT_EQ(c.Commits().OutputPath(), dir.Path().string() + "/app/a.png");
  settings.S_app = false;
  settings.S_sourcefile = true;
  settings.C_multi_fn = true;
  settings.multi_outfile = "trip";
  c.Commits().ResolveOutputPath("/p/a.jpg", "pdf");
  EXPECT_EQ(c.Commits().OutputPath(), "/p/a.pdf") << "the name box names combined outputs only";
  c.Commits().ResolveOutputPath("/p/a.jpg", "pdf", true);
  EXPECT_EQ(c.Commits().OutputPath(), "/p/trip.pdf");
  c.Commits().ResolveOutputPath("/trip", "gif", true);
  EXPECT_EQ(c.Commits().OutputPath(), "/trip.gif");
  EXPECT_TRUE(c.Commits().OutputAllowed());
  EXPECT_TRUE(ui.confirmations.empty());
}

TEST_F(BatchSessionTest, DeclinedOverwriteLeavesFileAndOtherFormatsGoOn) {
  const std::string source = File("a.dib");
  const std::string existing = File("a.bmp");
  // A second writer ("tst") after bmp: the bmp output exists and is declined.
  settings.C_jpg = true;
  BatchSession& c = C();
  auto writers = DefaultWriters();
  writers[1].encode = [](const DibImage&, const WriterContext&, std::ostream& out) { out << "jpeg stand-in"; };
  c.SetWriters(writers);
  const auto before = test::ReadFile(existing);
  ui.confirm_answers = {false};
  c.RunBatch({source});
  ASSERT_EQ(ui.confirmations.size(), 1u);
  EXPECT_EQ(ui.confirmations[0], "File : " + existing + "が既にあります。上書きしますか？");
  EXPECT_EQ(test::ReadFile(existing), before);
  EXPECT_EQ(ui.skipped, (std::vector<std::pair<std::string, std::string>>{{source, existing}}));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_NE(ui.results[0].find("a.jpg 13 B"), std::string::npos) << ui.results[0];
  // Accepting replaces it.
  ui.confirm_answers = {true, true};
  c.RunBatch({source});
  EXPECT_EQ(ui.results.size(), 2u);
}

TEST_F(BatchSessionTest, EveryOutputDeclinedEndsWithStatusAndNoFinalMessage) {
  const std::string source = File("a.dib");
  File("a.bmp");
  BatchSession& c = C();
  c.RunBatch({source});
  EXPECT_EQ(ui.Count(MessageKind::kFinal), 0);
  EXPECT_EQ(ui.StatusText(), kBatchDone);
  EXPECT_TRUE(ui.results.empty());
}

TEST_F(BatchSessionTest, FailingWriteLeavesNoPartialFileAndKeepsTheOldOne) {
  const std::string source = File("in/a.bmp");
  const std::string target = dir / "a.jpg";
  test::WriteText(target, "precious");
  settings.C_bmp = false;
  settings.C_jpg = true;
  settings.V_over = true;
  BatchSession& c = C();
  auto writers = DefaultWriters();
  writers[1].encode = [](const DibImage&, const WriterContext&, std::ostream& out) {
    out << "half";
    throw std::runtime_error("encoder broke");
  };
  c.SetWriters(writers);
  settings.S_sourcefile = false;
  settings.S_folder = true;
  c.RunBatch({source});
  EXPECT_EQ(test::ReadFile(target), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.Path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u) << "no temporary file stays behind";
  ASSERT_EQ(ui.failures.size(), 1u);
  EXPECT_EQ(ui.failures[0].second, "encoder broke");
  EXPECT_EQ(ui.results, std::vector<std::string>{source + " × 変換できませんでした"});
}

TEST_F(BatchSessionTest, BatchOfFilesAndFolders) {
  settings.V_over = true;
  const std::string a = File("a.dib");
  const std::string bad = dir / "bad.dib";
  test::WriteText(bad, "not a picture");
  const std::string f1 = File("folder/x.dib");
  File("folder/sub/deep.dib");
  const std::string missing = dir / "missing.bmp";
  BatchSession& c = C();
  c.RunBatch({a, bad, dir / "folder", missing});
  // Failures in processing order; the subfolder is not entered.
  std::vector<std::string> failed;
  for (const auto& line : ui.results)
    if (line.find(" × 変換できませんでした") != std::string::npos) failed.push_back(line);
  EXPECT_EQ(failed, (std::vector<std::string>{bad + " × 変換できませんでした", missing + " × 変換できませんでした"}));
  EXPECT_EQ(ui.results.size(), 4u);
  EXPECT_FALSE(fs::exists(dir / "folder/sub/deep.bmp"));
  EXPECT_EQ(ui.Count(MessageKind::kFailure), 2);
  EXPECT_EQ(ui.messages[0].second, bad + "\n\rこのファイルは変換できません");
  EXPECT_TRUE(ui.dialogs.empty()) << "no combined output, no order dialog";
}

TEST_F(BatchSessionTest, FourJobsGiveTheFilesAndLinesOfOne) {
  test::ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");  // PNG and PDF record when they were made
  settings.C_png = settings.C_jpg = true;
  settings.C_pdf = settings.C_Multipdf = true;
  settings.V_over = true;
  settings.A_dialog = true;
  settings.S_folder = true;
  std::vector<std::string> sources;
  for (int i = 0; i < 7; ++i) sources.push_back(File("in/p" + std::to_string(i) + ".bmp", 5 + i, 4));
  test::WriteText(dir / "in/broken.bmp", "BM not a picture");
  sources.insert(sources.begin() + 3, dir / "in/broken.bmp");
  auto run = [&](int jobs, const std::string& out) {
    settings.S_folder_n = dir / out + "/";
    FakeUi fresh;
    BatchSession c(settings, fresh, nullptr, loader);
    BatchOptions options;
    options.jobs = jobs;
    c.SetOptions(options);
    c.RunBatch(sources);
    std::vector<std::string> lines = fresh.lines;
    for (auto& line : lines) line = std::regex_replace(line, std::regex(out + "/"), "OUT/");
    return lines;
  };
  fs::create_directories(dir / "one"), fs::create_directories(dir / "four");
  const auto one = run(1, "one");
  EXPECT_EQ(run(4, "four"), one);
  ASSERT_EQ(one.size(), 7u * 3 + 1 + 1) << "bmp, jpg and png per picture, the failure, the combined PDF";
  for (const auto& entry : fs::directory_iterator(dir / "one")) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(test::ReadFile(dir / ("four/" + name)), test::ReadFile(entry.path().string())) << name;
  }
}

TEST_F(BatchSessionTest, QuietSuppressesEverythingButQuestions) {
  settings.A_dialog = true;
  const std::string a = File("a.dib");
  File("a.bmp");
  test::WriteText(dir / "bad.dib", "junk");
  BatchSession& c = C();
  ui.confirm_answers = {false};
  c.RunBatch({a, dir / "bad.dib"});
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ui.confirmations.size(), 1u);
  EXPECT_EQ(ui.failures.size(), 1u);
}

TEST_F(BatchSessionTest, NoFormatTickedOnlySetsStatus) {
  settings.C_bmp = false;
  const std::string a = File("a.bmp");
  BatchSession& c = C();
  c.RunBatch({a});
  EXPECT_EQ(ui.StatusText(), kNoFormat);
  EXPECT_TRUE(ui.results.empty());
  EXPECT_EQ(ui.captions, std::vector<std::string>{kDropCaption});
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(BatchSessionTest, ClipboardCapturesAreNumbered) {
  DibImage image;
  image.Assign(Pattern(3, 2));
  clipboard.items = {{kCfDib, image.SaveToClipboardFormat()}};
  settings.S_sourcefile = false;
  settings.S_folder = true;
  settings.V_adds = true;
  BatchSession& c = C();
  c.CaptureClipboard();
  c.RunBatch({File("between.bmp")});
  c.CaptureClipboard();
  EXPECT_TRUE(fs::exists(dir / "Clip1s.bmp"));
  EXPECT_TRUE(fs::exists(dir / "Clip2s.bmp"));
  EXPECT_EQ(c.ClipCounter(), 2);
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.results[0].rfind("Clip2 → " + (dir / "Clip2s.bmp"), 0), 0u) << ui.results[0];
  // Text on the clipboard.
  clipboard.items = {{1, {'h', 'i'}}};
  c.CaptureClipboard();
  EXPECT_EQ(ui.messages.back().second, "クリップボードに画像が入っていません。");
  EXPECT_EQ(ui.StatusText(), "クリップボードに画像が入っていません。");
  // A bitmap format without a registered reader for any listed format.
  clipboard.items = {{kCfBitmap, {1, 2, 3}}};
  c.CaptureClipboard();
  EXPECT_EQ(ui.StatusText(), "クリップボードから保存できません。");
}

TEST_F(BatchSessionTest, KeepDateStampsEveryOutputWithEvenSeconds) {
  const std::string a = File("a.bmp");
  const std::string folder_file = File("f/b.bmp");
  struct timespec times[2] = {{0, UTIME_OMIT}, {1700000001, 0}};
  utimensat(AT_FDCWD, a.c_str(), times, 0);
  utimensat(AT_FDCWD, folder_file.c_str(), times, 0);
  settings.V_olddate = true;
  settings.V_adds = true;
  BatchSession& c = C();
  c.RunBatch({a, dir / "f"});
  for (const std::string& out : {dir / "as.bmp", dir / "f/bs.bmp"}) {
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0) << out;
    EXPECT_EQ(st.st_mtim.tv_sec, 1700000000) << out;
  }
  EXPECT_EQ(c.Commits().SourceDate(), platform::PackedLocalDate(1700000001));
}

TEST(LocalDateTest, RoundTripsThroughFileTime) {
  const double date = platform::UnixToLocalDate(1700000000);
  const int64_t ft = platform::LocalDateToFileTime(date);
  EXPECT_EQ(ft, (1700000000LL + 11644473600LL) * 10000000LL);
  EXPECT_EQ(platform::LocalDateToFileTime(25569.0 + 0.0) % 10000000, 0);
}

TEST_F(BatchSessionTest, SourceGoesToTrashOnlyAfterSuccess) {
  setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
  settings.A_delete = true;
  settings.V_adds = true;
  const std::string a = File("a.bmp");
  const std::string bad = dir / "bad.bmp";
  test::WriteText(bad, "junk");
  BatchSession& c = C();
  c.RunBatch({a, bad});
  EXPECT_FALSE(fs::exists(a));
  EXPECT_TRUE(fs::exists(dir / "as.bmp"));
  EXPECT_TRUE(fs::exists(dir / "data/Trash/files/a.bmp"));
  const auto info = test::ReadFile(dir / "data/Trash/info/a.bmp.trashinfo");
  const std::string text(info.begin(), info.end());
  EXPECT_NE(text.find("[Trash Info]\nPath=" + a), std::string::npos) << text;
  EXPECT_TRUE(fs::exists(bad)) << "a failed source stays";
  unsetenv("XDG_DATA_HOME");
}

TEST_F(BatchSessionTest, BatchRequestedDuringBatchIsQueued) {
  settings.V_adds = true;
  const std::string a = File("a.bmp");
  const std::string b = File("b.bmp");
  BatchSession& c = C();
  std::vector<std::string> during;
  ui.on_pending_events = [&] {
    c.RunBatch({b});
    during = ui.results;
  };
  c.RunBatch({a});
  EXPECT_TRUE(during.empty()) << "the second batch did not run inside the first";
  EXPECT_TRUE(fs::exists(dir / "bs.bmp"));
  EXPECT_EQ(ui.clear_results, 2);
}

TEST_F(BatchSessionTest, PickerShownForPngOrGifOnly) {
  settings.V_transparent = true;
  settings.V_adds = true;
  const std::string a = File("a.bmp", 5, 4);
  BatchSession& c = C();
  c.RunBatch({a});
  EXPECT_TRUE(ui.picker_shown.empty());
  settings.C_png = true;
  auto writers = DefaultWriters();
  ColorValue seen = kNoColor;
  writers[2].encode = [&](const DibImage&, const WriterContext& ctx, std::ostream& out) {
    seen = ctx.picked_color;
    out << "png";
  };
  c.SetWriters(writers);
  settings.V_over = true;
  ui.pick = PickerClick{2, 1};
  c.RunBatch({a});
  ASSERT_EQ(ui.picker_shown.size(), 1u);
  EXPECT_EQ(ui.picker_shown[0], std::make_pair(5, 4));
  EXPECT_EQ(seen, Pattern(5, 4).GetPixel(2, 1));
  EXPECT_EQ(c.PickedColor(), seen);
}

TEST_F(BatchSessionTest, OrderDialogForSeveralEntriesWithCombinedOutputs) {
  settings.C_pdf = true;
  settings.C_Multipdf = true;
  settings.C_gif = true;
  settings.C_animegif = true;
  settings.C_bmp = true;
  settings.V_adds = true;
  const std::string a = File("a.bmp");
  const std::string b = File("b.bmp");
  ui.on_order_dialog = [](OrderDialogData& d) { std::swap(d.rows[1], d.rows[2]); };
  BatchSession& c = C();
  c.RunBatch({a, b});
  ASSERT_GE(ui.dialogs.size(), 2u);
  EXPECT_EQ(ui.dialogs[0].caption, "pdf一括出力時出力順設定");
  EXPECT_EQ(ui.dialogs[1].caption, "gifｱﾆﾒ出力時出力順設定");
  EXPECT_EQ(ui.dialogs[0].rows[0], (std::vector<std::string>{"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ", "ﾌｧｲﾙ日付", "ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）"}));
  EXPECT_EQ(ui.dialogs[0].rows[2][0], "a.bmp");  // recorded after the swap
  EXPECT_EQ(ui.dialogs[0].rows[2][1], std::to_string(fs::file_size(a)) + " Byte");
  // Swapped twice: the original order again.
  EXPECT_EQ(ui.dialogs[1].rows[1][3], a);
}

TEST_F(BatchSessionTest, EmptyCombinedBatchEndsSilently) {
  settings.C_gif = true;
  settings.C_animegif = true;
  fs::create_directories(dir / "empty");
  BatchSession& c = C();
  c.RunBatch({dir / "empty"});
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.status_history.back().empty());
  EXPECT_FALSE(ui.progress_visible);
}

TEST_F(BatchSessionTest, CombinedFileNoSourceFedIsNamedAsNotWritten) {
  settings.C_pdf = settings.C_Multipdf = true;
  const std::string bad = dir / "bad.dib";
  test::WriteText(bad, "not a picture");
  BatchSession& c = C();
  c.RunBatch({bad});
  const std::string note = Tr("The combined PDF {1} was not written: no source gave it a page.", {dir / "bad.pdf"});
  EXPECT_FALSE(fs::exists(dir / "bad.pdf"));
  ASSERT_EQ(ui.Count(MessageKind::kFinal), 1);
  const std::string& text = ui.messages.back().second;
  EXPECT_EQ(text.substr(text.size() - note.size()), note) << text;
  EXPECT_EQ(ui.warnings, (std::vector<std::pair<std::string, std::string>>{{bad, note}}));
}

TEST_F(BatchSessionTest, StoppedBatchSaysHowFarItGotAndWritesNoCombinedPdf) {
  settings.C_pdf = true;
  settings.C_Multipdf = true;
  const std::string a = File("a.dib"), b = File("b.dib");
  BatchSession& c = C();
  // Pressed while the first file is converted: seen before the second.
  ui.on_pending_events = [&] { ui.on_pending_events = [&] { c.RequestStop(); }; };
  c.RunBatch({a, b});
  EXPECT_TRUE(c.LastBatchStopped());
  EXPECT_TRUE(fs::exists(dir / "a.bmp"));
  EXPECT_FALSE(fs::exists(dir / "b.bmp"));
  EXPECT_FALSE(fs::exists(dir / "b.pdf"));
  ASSERT_EQ(ui.Count(MessageKind::kFinal), 1);
  const std::string& text = ui.messages.back().second;
  EXPECT_NE(text.find(Tr("Stopped: {1} of the files were converted.", {"1"}) + "\n\r" +
                      Tr("The combined PDF collected so far was not written.")),
            std::string::npos)
      << text;
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.results[0].rfind(a + " → " + (dir / "a.bmp"), 0), 0u) << ui.results[0];
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

TEST_F(BatchSessionTest, GifPointIsScaledToThePreparedImage) {
  settings.C_bmp = false;
  settings.C_gif = true;
  settings.C_Trans = true;
  settings.V_transparent = true;
  settings.O_gsize = 1;  // 1/2
  // 8 x 4 source: left half red, right half blue; the pick at (6, 1) is blue.
  const std::string a = dir / "a.bmp";
  Bitmap b(8, 4, Bitmap::Format::k24Bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) b.SetPixel(x, y, x < 4 ? MakeColor(255, 0, 0) : MakeColor(0, 0, 255));
  test::SaveBmp(a, b);
  ui.pick = PickerClick{6, 1};
  C().RunBatch({a});
  ASSERT_TRUE(ui.failures.empty()) << ui.failures[0].second;
  fs::rename(dir / "a.gif", dir / "scaled.gif");
  // A point outside the loaded image fails the source.
  ui.pick = PickerClick{9, 1};
  C().RunBatch({a});
  ASSERT_EQ(ui.failures.size(), 1u);
  EXPECT_EQ(ui.failures[0].second, "Invalid pixel coordinates");
  REQUIRE_TOOL("identify");
  // Scaled to (3, 0) on the 4 x 2 frame: the blue column became transparent
  // and was cropped away; the blended middle columns stay.
  std::string geometry;
  test::Run("identify -format '%w %h %X %Y' '" + (dir / "scaled.gif") + "'", &geometry);
  EXPECT_EQ(geometry, "3 2 +0 +0");
}

TEST_F(BatchSessionTest, SingleColourTransparentGifIsOneClearFrame) {
  settings.C_bmp = false;
  settings.C_gif = true;
  settings.C_Trans = true;
  const std::string a = dir / "a.bmp";
  test::SaveBmp(a, Bitmap(3, 3, Bitmap::Format::k24Bit));
  C().RunBatch({a});
  EXPECT_TRUE(ui.failures.empty());
  ASSERT_TRUE(fs::exists(dir / "a.gif"));
  REQUIRE_TOOL("identify");
  std::string info;
  test::Run("identify -format '%w %h %A' '" + (dir / "a.gif") + "'", &info);
  EXPECT_EQ(info, "3 3 True") << "the full size, with transparency";
}

TEST_F(BatchSessionTest, AnimatedGifIsNamedAfterTheLastEntry) {
  settings.C_bmp = false;
  settings.C_gif = true;
  settings.C_animegif = true;
  settings.C_delay = "12";
  const std::string a = File("a.bmp", 4, 3);
  File("trip/b.bmp", 4, 3);
  File("trip/c.bmp", 5, 2);
  C().RunBatch({a, dir / "trip"});
  ASSERT_EQ(ui.results.size(), 1u) << "no per-source GIF lines";
  EXPECT_EQ(ui.results[0].rfind((dir / "trip") + " → " + (dir / "trip.gif") + " ", 0), 0u) << ui.results[0];
  ASSERT_EQ(ui.dialogs.size(), 2u) << "entry mode for the two entries, folder mode for the folder";
  EXPECT_FALSE(ui.dialogs[1].entry_mode);
  EXPECT_EQ(ui.dialogs[1].caption, "gifｱﾆﾒ出力時出力順設定");
  // The name box names the combined output.
  settings.C_multi_fn = true;
  settings.multi_outfile = "holiday";
  C().RunBatch({a});
  EXPECT_TRUE(fs::exists(dir / "holiday.gif"));
  REQUIRE_TOOL("identify");
  std::string frames;
  test::Run("identify -format '%T ' '" + (dir / "trip.gif") + "'", &frames);
  EXPECT_EQ(frames.substr(0, 3), "12 ") << frames;
}

}  // namespace
}  // namespace velmora
