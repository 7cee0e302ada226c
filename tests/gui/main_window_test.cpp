// The desktop program's main window and results window on Qt's offscreen
// platform: enabling rules, the delay field's key filter, the quality twins,
// the bar toggles, settings in and out, drops and a command-line start that
// go through the real pipeline, and the results list's horizontal extent.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QGuiApplication>
#include <QListWidget>
#include <QScreen>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QWindow>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "app/gui/final_message.h"
#include "app/gui/format_quality_dialog.h"
#include "app/gui/main_window.h"
#include "app/gui/order_dialog.h"
#include "app/gui/picker_window.h"
#include "app/gui/results_window.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/size_fit_dialog.h"
#include "app/gui/velmora_app.h"
#include "base/messages.h"
#include "formats/input_format.h"
#include "formats/loader.h"
#include "image/dib_image.h"
#include "ui_main_window.h"
#include "ui_picker_window.h"

using namespace velmora;
using namespace velmora::gui;
namespace fs = std::filesystem;

namespace {

// A scratch folder for one test.
struct Scratch {
  Scratch() {
    path = fs::temp_directory_path() / ("velmora-gui-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
                                        std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Scratch() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  fs::path path;
  static inline int counter = 0;
};

std::string Picture(const std::string& path, int w = 6, int h = 4) {
  fs::create_directories(fs::path(path).parent_path());
  Bitmap b(w, h, Bitmap::Format::k24Bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, MakeColor(x * 40, y * 60, 100));
  DibImage image;
  image.Assign(b);
  image.SaveToFile(path);
  return path;
}

void WriteIni(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Accepts every modal window that comes up while it lives (the order
// dialog, message boxes), as a user pressing its default button would.
class AcceptModals {
 public:
  AcceptModals() {
    QObject::connect(&timer_, &QTimer::timeout, [] {
      if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dialog->accept();
    });
    timer_.start(20);
  }

 private:
  QTimer timer_;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void EnablingRulesFollowTheFormats();
  void DelayFieldTakesOnlyDigits();
  void QualityTwinsFollowEachOther();
  void BarTogglesSetBothCheckMarks();
  void EveryKeyLoadsAndSavesAndWindowKeysSurvive();
  void FirstStartShowsTheHintOnce();
  void DroppedFilesAndFolderConvert();
  void CommandLineStartConvertsAndQuits();
  void ResultsShowLinesWholeOneFailurePerSourceWithItsReasonAndOpenTheirFiles();
  void StopEndsTheBatchBeforeTheNextFile();
  void OpenFilterListsEveryFormatTheLoaderReads();
  void EnglishReplacesEveryJapaneseText();
  void WindowsKeepTheirCaptionsPlacesAndState();
  void ALongFinalMessageFitsTheScreenAndScrolls();
  void FailureBoxesCanBeQuietedForTheBatch();
  void AWindowOffTheScreenComesBackWhole();
  void EveryControlHasATooltip();
  void TheSizeListsLastEntryAsksForAnySize();
  void TheWindowSaysWhereFilesGoKeepsItsCaptionAndASecondOneStandsBeside();
  void NamesTurnsFitsQualitiesAndPresetsFromTheWindow();
  void StoppingShowsAtOnceDialogsKeepTheirPlaceAndTheSwatchStaysReadable();
};

void MainWindowTest::OpenFilterListsEveryFormatTheLoaderReads() {
  // The desktop program's 37 pieces as they always were, made from the
  // formats' descriptors; then today's formats and every file.
  const std::string of_old =
      "|*.bmp;*.bw;*.cel;*.cut;*.dib;*.eps;*.fax;*.icb;*.jfif;*.jpe;*.jpeg;*.jpg;*.mag;*.pbm;*.pcc;*.pcd;*.pcx;*.pdd;"
      "*.pgm;*.pic;*.png;*.ppm;*.psd;*.psp;*.rgb;*.rgba;*.rla;*.rle;*.rpf;*.scr;*.sgi;*.tga;*.tif;*.tiff;*.vda;*.vst;"
      "*.win;";
  const std::string pieces =
      "|Windows bitmaps (*.bmp)|*.bmp|SGI black/white images (*.bw)|*.bw|Autodesk images (*.cel)|*.cel"
      "|Dr. Halo images (*.cut)|*.cut|Device independant Windows bitmaps (*.dib)|*.dib"
      "|Encapsulated Postscript images (*.eps)|*.eps|GFI fax images (*.fax)|*.fax|Truevision images (*.icb)|*.icb"
      "|JFIF images (*.jfif)|*.jfif|JPE images (*.jpe)|*.jpe|JPEG images (*.jpeg)|*.jpeg|JPG images (*.jpg)|*.jpg"
      "|MAki chan Graphic format (*.mag)|*.mag|Portable bitmap images (*.pbm)|*.pbm"
      "|ZSoft Paintbrush images (*.pcc)|*.pcc|Kodak Photo-CD images (*.pcd)|*.pcd"
      "|ZSoft Paintbrush images (*.pcx)|*.pcx|Photoshop images (*.pdd)|*.pdd|Portable gray map images (*.pgm)|*.pgm"
      "|Autodesk images (*.pic)|*.pic|Portable network graphic images (*.png)|*.png"
      "|Portable pixel map images (*.ppm)|*.ppm|Photoshop images (*.psd)|*.psd|Paintshop Pro images (*.psp)|*.psp"
      "|SGI true color images (*.rgb)|*.rgb|SGI true color images with alpha (*.rgba)|*.rgba"
      "|Alias/Wavefront images (*.rla)|*.rla|Run length encoded Windows bitmaps (*.rle)|*.rle"
      "|Alias/Wavefront images (*.rpf)|*.rpf|Word 5.x screen capture images (*.scr)|*.scr"
      "|SGI true color images (*.sgi)|*.sgi|Truevision images (*.tga)|*.tga|PC TIF images (*.tif)|*.tif"
      "|Macintosh TIFF images (*.tiff)|*.tiff|Truevision images (*.vda)|*.vda|Truevision images (*.vst)|*.vst"
      "|Truevision images (*.win)|*.win";
  const std::string filter = OpenDialogFilter();
  QVERIFY(filter.rfind(of_old, 0) == 0);
  QVERIFY(filter.find(pieces) != std::string::npos);
  const QStringList filters = MainWindow::OpenFilter().split(";;");
  QCOMPARE(filters.size(), 1 + 37 + 6 + 1);
  QVERIFY(filters[0].startsWith("対応可能なファイル (*.bmp *.bw *.cel "));
  QCOMPARE(filters[38], QString("WebP images (*.webp)"));
  QCOMPARE(filters[42], QString("JPEG XL images (*.jxl)"));
  QCOMPARE(filters[43], QString("GIF Image (*.gif)"));
  QCOMPARE(filters.back(), QString("すべてのファイル (*)"));
  // Every pattern of the first entry names an extension some class reads.
  Loader loader;
  const QString all = filters[0].mid(filters[0].indexOf('(') + 1).chopped(1);
  for (const QString& pattern : all.split(' ')) {
    const std::string extension = pattern.mid(2).toStdString();
    QVERIFY2(loader.Registry().FindExtension(extension) != nullptr, extension.c_str());
  }
}

// Under an English locale the program installs the windows' translation
// and the pipeline's catalog: then no Japanese is left on any control.
void MainWindowTest::EnglishReplacesEveryJapaneseText() {
  QTranslator translator;
  QVERIFY(translator.load("velmora_en", QString(VELMORA_BINARY_DIR) + "/src/translations"));
  platform::MessageTable catalog;
  QVERIFY(platform::ReadMessageFile(std::string(VELMORA_BINARY_DIR) + "/src/locale/en/LC_MESSAGES/velmora.mo", catalog));
  platform::SetMessageTable(std::move(catalog));
  QCoreApplication::installTranslator(&translator);
  Scratch dir;
  {
    VelmoraApp app(dir / "Velmora.ini", false);
    Ui::MainWindow& u = app.Main().ui();
    QCOMPARE(u.File1->title(), QString("&File"));
    QCOMPARE(u.C_PixelColor->itemText(0), QString("Full col."));
    QVERIFY(MainWindow::OpenFilter().startsWith("Supported files (*.bmp "));
    auto japanese = [](const QString& text) {
      for (const QChar c : text)
        if (c.unicode() >= 0x3000 && c.unicode() <= 0xFFEF) return true;
      return false;
    };
    QStringList left;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (japanese(top->windowTitle())) left << top->windowTitle();
      for (auto* w : top->findChildren<QAbstractButton*>())
        if (japanese(w->text())) left << w->text();
      for (auto* w : top->findChildren<QLabel*>())
        if (japanese(w->text())) left << w->text();
      for (auto* w : top->findChildren<QGroupBox*>())
        if (japanese(w->title())) left << w->title();
      for (auto* w : top->findChildren<QComboBox*>())
        for (int i = 0; i < w->count(); ++i)
          if (japanese(w->itemText(i))) left << w->itemText(i);
      for (auto* a : top->findChildren<QAction*>())
        if (japanese(a->text())) left << a->text();
      for (auto* m : top->findChildren<QMenu*>())
        if (japanese(m->title())) left << m->title();
    }
    QVERIFY2(left.isEmpty(), qPrintable(left.join(" | ")));
  }
  QCoreApplication::removeTranslator(&translator);
  platform::SetMessageTable({});
}

void MainWindowTest::EnablingRulesFollowTheFormats() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  Ui::MainWindow& u = app.Main().ui();
  QVERIFY(!u.C_Trans->isEnabled());
  QVERIFY(!u.O_quality_c->isEnabled());
  QVERIFY(u.O_gsize->isEnabled() && u.Label5->isEnabled() && u.C_PixelColor->isEnabled());
  u.C_png->setChecked(true);
  QVERIFY(u.C_Trans->isEnabled());
  for (QWidget* w : {static_cast<QWidget*>(u.O_quality_c), static_cast<QWidget*>(u.O_quality_t),
                     static_cast<QWidget*>(u.Label3), static_cast<QWidget*>(u.Label4)})
    QVERIFY(w->isEnabled());
  u.C_jpg->setChecked(true);
  u.C_png->setChecked(false);
  QVERIFY(u.O_quality_c->isEnabled());  // jpg keeps the quality controls
  QVERIFY(!u.C_Trans->isEnabled());
  u.C_gif->setChecked(true);
  QVERIFY(u.C_animegif->isEnabled() && u.C_delay->isEnabled() && u.Label1->isEnabled() && u.C_Trans->isEnabled());
  u.C_animegif->setChecked(true);
  u.C_gif->setChecked(false);
  QVERIFY(!u.C_animegif->isEnabled() && !u.C_delay->isEnabled() && !u.Label1->isEnabled());
  QVERIFY(u.C_animegif->isChecked());  // disabling never unticks
  QVERIFY(app.CurrentSettings().C_animegif);
  QVERIFY(!app.CurrentSettings().AnyCombined());
  u.C_ico->setChecked(true);
  QVERIFY(u.O_icosize->isEnabled() && u.Label2->isEnabled() && u.C_Trans->isEnabled());
  u.C_pdf->setChecked(true);
  QVERIFY(u.C_Multipdf->isEnabled());
  QVERIFY(!u.C_bmp->isChecked() && !u.C_mag->isChecked() && !u.C_tif->isChecked());
  // The additions: lossless for WebP and JPEG XL only; AVIF takes quality.
  QVERIFY(!u.C_lossless->isEnabled());
  u.C_avif->setChecked(true);
  QVERIFY(!u.C_lossless->isEnabled() && app.CurrentSettings().C_avif);
  u.C_jxl->setChecked(true);
  u.C_lossless->setChecked(true);
  QVERIFY(u.C_lossless->isEnabled() && app.CurrentSettings().C_jxl && app.CurrentSettings().C_lossless);
}

void MainWindowTest::DelayFieldTakesOnlyDigits() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  QLineEdit* delay = app.Main().ui().C_delay;
  delay->setEnabled(true);
  delay->setText("30");
  delay->setCursorPosition(2);
  QTest::keyClick(delay, Qt::Key_A);
  QTest::keyClicks(delay, "x!");
  QCOMPARE(delay->text(), QString("30"));
  QTest::keyClick(delay, Qt::Key_7);
  QCOMPARE(delay->text(), QString("307"));
  QTest::keyClick(delay, Qt::Key_Backspace);
  QCOMPARE(delay->text(), QString("30"));
  QCOMPARE(app.CurrentSettings().C_delay, std::string("30"));
  // Text that arrives another way (pasting, a settings file) is not filtered.
  delay->setText("3a0");
  QCOMPARE(app.CurrentSettings().C_delay, std::string("3a0"));
}

void MainWindowTest::QualityTwinsFollowEachOther() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  Ui::MainWindow& u = app.Main().ui();
  QCOMPARE(u.O_quality_t->value(), 5);
  QCOMPARE(u.O_quality_c->currentText(), QString("6"));
  u.O_quality_t->setValue(2);
  QCOMPARE(u.O_quality_c->currentIndex(), 2);
  u.O_quality_c->setCurrentIndex(8);
  QCOMPARE(u.O_quality_t->value(), 8);
  QCOMPARE(app.CurrentSettings().O_quality_t, 8);
  QCOMPARE(app.CurrentSettings().O_quality_c, 8);
}

void MainWindowTest::BarTogglesSetBothCheckMarks() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  MainWindow& w = app.Main();
  Ui::MainWindow& u = w.ui();
  QVERIFY(!u.Effect_Panel->isVisibleTo(&w));
  u.E1->trigger();
  QVERIFY(u.Effect_Panel->isVisibleTo(&w));
  QVERIFY(u.E1->isChecked() && u.P1->isChecked());
  u.P1->trigger();
  QVERIFY(!u.Effect_Panel->isVisibleTo(&w));
  QVERIFY(!u.E1->isChecked() && !u.P1->isChecked());
  u.O1->trigger();
  QVERIFY(u.option_Panel->isVisibleTo(&w) && u.O1->isChecked() && u.O2->isChecked());
  // The additions' bar, hidden at first, from either place.
  QVERIFY(!u.Extra_Panel->isVisibleTo(&w));
  u.X2->trigger();
  QVERIFY(u.Extra_Panel->isVisibleTo(&w) && u.X1->isChecked() && u.X2->isChecked());
  QVERIFY(app.CurrentSettings().extra_panel);
  QCOMPARE(w.popupMenu()->actions().size(), 3);
  QCOMPARE(w.popupMenu()->actions()[0]->text(), QString("エフェクトパネルを表示(&P)"));
  QCOMPARE(u.File1->title(), QString("ﾌｧｲﾙ(&F)"));
  QCOMPARE(u.N2->text(), QString("ｸﾘｯﾌﾟﾎﾞｰﾄﾞからﾌｧｲﾙ作成(&C)"));
}

void MainWindowTest::EveryKeyLoadsAndSavesAndWindowKeysSurvive() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  const std::string text =
      "[Window]\r\nPos.X=11\r\nPos.Y=22\r\nSize.XSize=500\r\nSize.YSize=400\r\nWindow_State=Max\r\n"
      "[Format]\r\nbmp=1\r\njpg=0\r\npng=1\r\nmag=1\r\ngif=0\r\nico=1\r\npdf=1\r\ntif=0\r\n"
      "[Effect]\r\nPanel=1\r\nTrans=1\r\nMultipdf=1\r\nanimegif=1\r\nPixelColor=2\r\ndelay=45\r\n"
      "[Option]\r\nPanel=1\r\nquality=7\r\nicosize=3\r\ngsize=7\r\n"
      "[Config_Save]\r\nsourcefile=0\r\napp=0\r\nfolder=1\r\nfolder_n=/tmp/out/\r\n"
      "[Config_Active]\r\ndialog=1\r\nfront=0\r\nsend=0\r\nclip=1\r\ndelete=1\r\n"
      "[Config_Conv]\r\nover=1\r\nadds=1\r\nolddate=1\r\ntransparent=1\r\n";
  WriteIni(ini, text);
  {
    VelmoraApp app(ini, false);
    Ui::MainWindow& u = app.Main().ui();
    QVERIFY(u.C_bmp->isChecked() && !u.C_jpg->isChecked() && u.C_png->isChecked() && u.C_mag->isChecked());
    QVERIFY(!u.C_gif->isChecked() && u.C_ico->isChecked() && u.C_pdf->isChecked() && !u.C_tif->isChecked());
    QVERIFY(u.Effect_Panel->isVisibleTo(&app.Main()) && u.P1->isChecked());
    QVERIFY(u.C_Trans->isChecked() && u.C_Multipdf->isChecked() && u.C_animegif->isChecked());
    QCOMPARE(u.C_PixelColor->currentText(), QString("白黒"));
    QCOMPARE(u.C_delay->text(), QString("45"));
    QCOMPARE(u.O_quality_c->currentIndex(), 7);
    QCOMPARE(u.O_quality_t->value(), 7);
    QCOMPARE(u.O_icosize->currentText(), QString("128"));
    QCOMPARE(u.O_gsize->currentText(), QString("3×"));
    const Settings& s = app.CurrentSettings();
    QVERIFY(s.S_folder && !s.S_sourcefile && s.S_folder_n == "/tmp/out/");
    QVERIFY(s.A_dialog && !s.A_front && s.A_clip && s.A_delete);
    QVERIFY(s.V_over && s.V_adds && s.V_olddate && s.V_transparent);
    // A file of the desktop's own keys: the additions off, their bar hidden.
    QVERIFY(!s.C_webp && !s.C_avif && !s.C_jxl && !s.C_lossless && !u.Extra_Panel->isVisibleTo(&app.Main()));
    app.Main().close();  // saves; the window was never moved or resized
  }
  const std::string saved = ReadText(ini);
  QVERIFY2(saved.rfind("[Window]\r\nPos.X=11\r\nPos.Y=22\r\nSize.XSize=500\r\nSize.YSize=400\r\nWindow_State=Max\r\n", 0) == 0,
           saved.c_str());
  // The additions' keys come after the desktop's own, which stay as they were.
  QVERIFY2(saved.find("pdf=1\r\ntif=0\r\nwebp=0\r\navif=0\r\njxl=0\r\n") != std::string::npos, saved.c_str());
  QVERIFY2(saved.find("[Config_Conv]") < saved.find("[Extra]\r\nPanel=0\r\nlossless=0\r\n"), saved.c_str());
  for (const char* line : {"bmp=1\r\n", "ico=1\r\n", "PixelColor=2\r\n", "delay=45\r\n", "quality=7\r\n",
                           "icosize=3\r\n", "gsize=7\r\n", "animegif=1\r\n"})
    QVERIFY2(saved.find(line) != std::string::npos, line);
  // The settings dialog keeps its own keys; they are written when it closes.
  QVERIFY(saved.find("folder_n=/tmp/out/\r\n") != std::string::npos);
  // A window the user moved writes its place and state.
  {
    VelmoraApp app(ini, false);
    app.Main().showNormal();
    app.Main().Activate();
    app.Main().setGeometry(40, 50, 420, 300);
    app.Main().close();
  }
  const std::string moved = ReadText(ini);
  QVERIFY2(moved.find("Window_State=Normal\r\n") != std::string::npos, moved.c_str());
  QVERIFY2(moved.find("Size.XSize=420\r\n") != std::string::npos, moved.c_str());
}

void MainWindowTest::FirstStartShowsTheHintOnce() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  QString hint;
  QTimer::singleShot(0, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      hint = box->text();
      box->accept();
    }
  });
  {
    VelmoraApp app(ini, true);
    QVERIFY(app.Main().HintShown());
    app.Main().close();
  }
  QCOMPARE(hint, QString("右クリックをすると詳細設定用バーが表示されます。\n場合に応じてお使いください。"));
  QVERIFY(fs::exists(ini));
  VelmoraApp again(ini, true);
  QVERIFY(!again.Main().HintShown());
}

void MainWindowTest::DroppedFilesAndFolderConvert() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  WriteIni(ini, "[Format]\r\npng=1\r\n[Config_Active]\r\ndialog=1\r\n");
  const std::string a = Picture(dir / "in/a.bmp"), b = Picture(dir / "in/b.bmp");
  Picture(dir / "folder/c.bmp");
  Picture(dir / "folder/d.bmp");
  VelmoraApp app(ini, false);
  app.Main().DropFiles({a, b, dir / "folder"});
  QVERIFY(app.Main().WaitUntilIdle());
  for (const char* out : {"in/a.png", "in/b.png", "folder/c.png", "folder/d.png"})
    QVERIFY2(fs::exists(dir / out), out);
  QCOMPARE(app.Results().List()->count(), 4);
  QVERIFY(app.Results().List()->item(0)->text().startsWith(QString::fromStdString(a + " → ")));
  QCOMPARE(app.Main().StatusText(), std::string("変換が終了しました。"));
  QCOMPARE(app.Main().ui().Panel1Caption->text(), QString("ここにファイルをドロップしてね。"));
  QVERIFY(!app.Main().progressBar()->isVisible());
}

void MainWindowTest::CommandLineStartConvertsAndQuits() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  WriteIni(ini, "[Format]\r\nbmp=0\r\njpg=1\r\n[Config_Active]\r\ndialog=1\r\n");
  const std::string a = Picture(dir / "a.bmp");
  VelmoraApp app(ini, false);
  app.Main().SetArguments({a, dir / "missing.bmp"});
  app.Show();
  app.Main().Activate();
  QTRY_VERIFY_WITH_TIMEOUT(!app.Main().isVisible(), 10000);
  QVERIFY(fs::exists(dir / "a.jpg"));
  // The unresolvable argument became an empty entry and failed as such.
  QCOMPARE(app.Results().List()->count(), 2);
  QCOMPARE(app.Results().List()->item(1)->text(), QString(" × 変換できませんでした"));
  // Closing saved the settings as a normal close does.
  QVERIFY(ReadText(ini).find("[Window]") != std::string::npos);
}

void MainWindowTest::ResultsShowLinesWholeOneFailurePerSourceWithItsReasonAndOpenTheirFiles() {
  Scratch dir;
  const std::string out = dir / "y.png";
  WriteIni(out, "png");
  ResultsWindow window;
  window.resize(330, 279);
  window.show();
  const QString wide = QString("/home/user/Pictures/") + QString(120, 'x') + ".jpg → " + QString::fromStdString(out) + " 12 KB";
  const std::string failed = "/in/b.jpg × 変換できませんでした";
  ResultDetails details;
  details.reasons["/in/b.jpg"] = "JPEG 画像エラー: 壊れています";
  details.outputs.insert(out);
  // One source whose three outputs were refused: one line.
  window.SetLines({"short", wide.toStdString(), failed, failed, failed}, details);
  HScrollList* list = window.List();
  QCOMPARE(list->count(), 3);
  const int expected = list->fontMetrics().horizontalAdvance(wide + " ");
  QCOMPARE(list->HorizontalExtent(), expected);
  QVERIFY(list->visualItemRect(list->item(0)).height() >= list->fontMetrics().height());  // descenders whole
  // The wide line is as wide as its text, not cut at the first line's width.
  QVERIFY(list->visualItemRect(list->item(1)).width() >= expected);
  QCOMPARE(list->horizontalScrollBar()->maximum(), expected - list->viewport()->width());
  QCOMPARE(list->item(2)->toolTip(), QString("JPEG 画像エラー: 壊れています"));
  QCOMPARE(list->item(1)->data(ResultsWindow::kPathRole).toString(), QString::fromStdString(out));
  // Opening a line opens its output; a failure's line opens nothing.
  QStringList opened;
  window.open_ = [&](const QString& path) { opened << path; };
  emit list->itemActivated(list->item(1));
  emit list->itemActivated(list->item(2));
  QCOMPARE(opened, QStringList{QString::fromStdString(out)});
  window.Clear();
  QCOMPARE(list->HorizontalExtent(), 0);
  QCOMPARE(list->horizontalScrollBar()->maximum(), 0);
  // Escape closes it.
  window.show();
  QTest::keyClick(list, Qt::Key_Escape);
  QVERIFY(!window.isVisible());
}

void MainWindowTest::StopEndsTheBatchBeforeTheNextFile() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  WriteIni(ini, "[Format]\r\npng=1\r\npdf=1\r\n[Effect]\r\nMultipdf=1\r\n");
  for (const char* name : {"p/1.bmp", "p/2.bmp", "p/3.bmp"}) Picture(dir / name);
  WriteIni(dir / "p/1.png", "kept");
  VelmoraApp app(ini, false);
  // The batch runs on its own thread: it is held at the first file's
  // overwrite question while the window stays live, and the stop button is
  // pressed there. The order dialog of the combined PDF is accepted.
  int events = 0;
  bool stop_shown = false;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++events;
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->windowTitle() == "確認") {
      stop_shown = !app.Main().stopButton()->isHidden();
      app.Main().stopButton()->click();
      box->buttons().front()->click();  // OK: overwrite
    } else if (modal) {
      modal->accept();
    }
  });
  timer.start(20);
  app.Main().DropFiles({dir / "p/1.bmp", dir / "p/2.bmp", dir / "p/3.bmp"});
  QVERIFY(app.Main().Busy());
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(app.Main().StatusText(), std::string("変換を中止しました。"));
  QVERIFY(ReadText(dir / "p/1.png") != "kept");
  QVERIFY(!fs::exists(dir / "p/2.png"));
  QVERIFY(!fs::exists(dir / "p/3.png"));
  for (const auto& entry : fs::recursive_directory_iterator(dir.path))  // the combined PDF of a stopped batch is not written
    QVERIFY2(entry.path().extension() != ".pdf", entry.path().c_str());
  QVERIFY(events > 1);
  QVERIFY(stop_shown);
  // Closing the window in the middle of a batch stops it and answers its
  // question without showing it; the window closes once the batch has
  // ended, and nothing waits for it meanwhile.
  timer.stop();
  app.Main().show();
  app.Main().DropFiles({dir / "p/1.bmp", dir / "p/2.bmp"});
  app.Main().close();
  QVERIFY(app.Main().WaitUntilIdle());
  QVERIFY(!app.Main().isVisible());
  QVERIFY(!fs::exists(dir / "p/2.png"));
}

void MainWindowTest::WindowsKeepTheirCaptionsPlacesAndState() {
  SetUpApplication(*qApp);
  // No display name is set: the platform would append it to every caption.
  QCoreApplication::setApplicationName("probe");
  QCOMPARE(QGuiApplication::applicationDisplayName(), QString("probe"));
  QCoreApplication::setApplicationName("Velmora");
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  WriteIni(ini, "[Window]\r\nWindow_State=Min\r\n");
  {
    VelmoraApp app(ini, false);
    QCOMPARE(app.Main().windowTitle(), QString("Velmora"));
    QCOMPARE(app.SettingsDlg().windowTitle(), QString("設定"));
    QCOMPARE(app.Results().windowTitle(), QString("変換結果"));
    QCOMPARE(app.Picker().windowTitle(), QString("透過色指定"));
    QCOMPARE(app.Order().windowTitle(), QString("pdf一括出力時出力順設定"));
    // Their own places, not centred over the main window.
    QCOMPARE(app.Results().pos(), QPoint(199, 128));
    QCOMPARE(app.Picker().pos(), QPoint(203, 130));
    // The application icon reaches the windows and the About box.
    QVERIFY(!QApplication::windowIcon().isNull());
    app.Main().show();
    app.Main().Activate();
    // Topmost on and off changes only the stacking.
    const QRect before = app.Main().geometry();
    app.CurrentSettings().A_front = true;
    app.Main().Activate();
    QVERIFY(app.Main().windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    app.CurrentSettings().A_front = false;
    app.Main().Activate();
    QVERIFY(!app.Main().windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(app.Main().geometry(), before);
    QVERIFY(app.Main().isVisible());
    app.Main().close();
  }
  // A "Min" start leaves the window as laid out, and that is what is saved.
  const std::string saved = ReadText(ini);
  QVERIFY2(saved.find("Window_State=Normal\r\n") != std::string::npos, saved.c_str());
}

void MainWindowTest::ALongFinalMessageFitsTheScreenAndScrolls() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  std::vector<std::string> lines;
  std::string text = "次のファイルとして保存しました。\n\r";
  for (int i = 0; i < 500; ++i) {
    lines.push_back("/photos/p" + std::to_string(i) + ".jpg → /photos/p" + std::to_string(i) + ".png 12 KB");
    text += lines.back() + "\r\n";
  }
  app.Main().SetResults(lines);
  bool seen = false, fits = false, scrolls = false, counted = false, defaults = false;
  int listed = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<FinalMessage*>(QApplication::activeModalWidget());
    if (!box) {
      if (auto* other = qobject_cast<QDialog*>(QApplication::activeModalWidget())) other->accept();
      return;
    }
    seen = true;
    fits = box->height() <= box->screen()->availableGeometry().height();
    listed = box->List()->count();
    scrolls = box->List()->verticalScrollBar()->maximum() > 0;
    for (QLabel* label : box->findChildren<QLabel*>()) counted |= label->text() == "500 件";
    // Enter is OK's, even with the focus on 変換結果表示.
    defaults = !box->ResultsButton()->autoDefault() && !box->ResultsButton()->isDefault();
    for (QPushButton* button : box->findChildren<QPushButton*>()) defaults &= button->isDefault() == (button != box->ResultsButton());
    box->accept();
  });
  app.Main().ShowMessage(MessageKind::kFinal, text);
  QVERIFY(seen);
  QVERIFY(fits);
  QCOMPARE(listed, 500);
  QVERIFY(scrolls);
  QVERIFY(counted);
  QVERIFY(defaults);
}

void MainWindowTest::FailureBoxesCanBeQuietedForTheBatch() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  WriteIni(ini, "[Format]\r\npng=1\r\n");
  Picture(dir / "in/d.bmp");
  for (const char* name : {"in/a.bmp", "in/b.bmp", "in/c.bmp"}) WriteIni(dir / name, "BM not a picture");
  VelmoraApp app(ini, false);
  int failure_boxes = 0;
  QString final_text;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    if (box->checkBox()) {
      ++failure_boxes;
      box->checkBox()->setChecked(true);  // no more of these in this batch
    } else {
      final_text = box->text();
    }
    box->accept();
  });
  timer.start(10);
  app.Main().DropFiles({dir / "in"});
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(failure_boxes, 1);
  QVERIFY2(final_text.contains("変換できなかったファイル: 3 件"), qPrintable(final_text));
  // The next batch shows its failures again.
  app.Main().DropFiles({dir / "in/a.bmp"});
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(failure_boxes, 2);
}

void MainWindowTest::AWindowOffTheScreenComesBackWhole() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  const std::string stored = "[Window]\r\nPos.X=3000\r\nPos.Y=2000\r\nSize.XSize=5000\r\nSize.YSize=300\r\nWindow_State=Normal\r\n";
  WriteIni(ini, stored);
  {
    VelmoraApp app(ini, false);
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(room.contains(app.Main().geometry()), qPrintable(QString("%1,%2 %3x%4").arg(app.Main().x()).arg(app.Main().y()).arg(app.Main().width()).arg(app.Main().height())));
    QCOMPARE(app.Main().height(), 300);
    app.Main().show();
    app.Main().Activate();
    app.Main().close();
  }
  // Brought back by the program, not moved by the user: the stored place stays.
  QVERIFY(ReadText(ini).rfind(stored, 0) == 0);
}

void MainWindowTest::EveryControlHasATooltip() {
  Scratch dir;
  VelmoraApp app(dir / "Velmora.ini", false);
  const QWidget* windows[] = {&app.Main(), &app.SettingsDlg(), &app.Order(), &app.Picker(), &app.Results()};
  int checked = 0;
  for (const QWidget* window : windows)
    for (const QWidget* w : window->findChildren<QWidget*>()) {
      const bool control = qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
                           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QSlider*>(w) ||
                           qobject_cast<const QAbstractItemView*>(w);
      // The widgets a control is made of (a combo box's list, a view's
      // scroll bars) and the stop button's place in the status bar aside.
      if (!control || w->objectName().isEmpty() || w->objectName().startsWith("qt_")) continue;
      QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
      ++checked;
    }
  QVERIFY(checked >= 35);
}

void MainWindowTest::NamesTurnsFitsQualitiesAndPresetsFromTheWindow() {
  Scratch dir;
  const QByteArray config = QByteArray::fromStdString(dir / "config");
  qputenv("XDG_CONFIG_HOME", config);
  WriteIni(dir / "Velmora.ini", "[Format]\r\npng=1\r\n[Effect]\r\nPixelColor=0\r\n[Config_Active]\r\ndialog=1\r\n");
  VelmoraApp app(dir / "Velmora.ini", false);
  Ui::MainWindow& u = app.Main().ui();
  Settings& s = app.CurrentSettings();
  // The additions bar turns and flips.
  u.E_rotate->setCurrentIndex(1);
  u.E_flip->setCurrentIndex(2);
  QCOMPARE(s.rotate, 90);
  QCOMPARE(s.flip, 'v');
  // The size dialog chooses how a box is filled.
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<SizeFitDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    dialog->fitEdit()->setText("2x2");
    dialog->fitModeBox()->setCurrentIndex(1);
    dialog->buttons()->button(QDialogButtonBox::Ok)->click();
  });
  u.O_gsize->setCurrentIndex(8);
  emit u.O_gsize->activated(8);
  QCOMPARE(int(s.fit), int(Settings::Fit::kCover));
  // The settings dialog's pattern shows what it makes, or why it makes nothing.
  auto* rename = app.SettingsDlg().findChild<QLineEdit*>("rename");
  auto* example = app.SettingsDlg().findChild<QLabel*>("RenameExample");
  QVERIFY(rename && example);
  rename->setText("{name}_web");
  QCOMPARE(example->text(), QString("例: IMG_0001.jpg → IMG_0001_web.png"));
  rename->setText("a/{name}");
  QVERIFY(example->text().contains("'/'"));
  QCOMPARE(s.rename, std::string("{name}_web"));
  // ｵﾌﾟｼｮﾝ → 形式ごとの画質.
  auto* quality = app.Main().findChild<QAction*>("FormatQuality1");
  QVERIFY(quality);
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<FormatQualityDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    QVERIFY(!dialog->ValueBox("jpg")->isEnabled());
    dialog->OwnBox("jpg")->setChecked(true);
    dialog->ValueBox("jpg")->setValue(9);
    dialog->buttons()->button(QDialogButtonBox::Ok)->click();
  });
  quality->trigger();
  QCOMPARE(s.format_quality, (std::map<std::string, int>{{"jpg", 9}}));
  // A dropped picture gets all of it: 6 x 4 turned to 4 x 6, covering 2 x 2.
  app.Main().DropFiles({Picture(dir / "in/p.bmp", 6, 4)});
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(QImage(QString::fromStdString(dir / "in/p_web.png")).size(), QSize(2, 2));
  // Presets: saved under a name, listed, loaded back.
  QVERIFY(app.Main().SavePreset("web"));
  QVERIFY(fs::exists(dir / "config/velmora/presets/web.ini"));
  QVERIFY(!app.Main().SavePreset("../up"));
  u.E_rotate->setCurrentIndex(0);
  rename->setText("");
  QVERIFY(app.Main().LoadPreset("web"));
  QCOMPARE(u.E_rotate->currentIndex(), 1);
  QCOMPARE(s.rename, std::string("{name}_web"));
  QCOMPARE(s.format_quality.at("jpg"), 9);
  auto* menu = app.Main().findChild<QMenu*>("Preset1");
  QVERIFY(menu);
  emit menu->aboutToShow();
  QStringList names;
  for (QAction* action : menu->actions()) names << action->text();
  QVERIFY(names.contains("web"));
  qunsetenv("XDG_CONFIG_HOME");
}

void MainWindowTest::StoppingShowsAtOnceDialogsKeepTheirPlaceAndTheSwatchStaysReadable() {
  Scratch dir;
  WriteIni(dir / "Velmora.ini", "[Format]\r\npng=1\r\n[Config_Active]\r\ndialog=1\r\n");
  VelmoraApp app(dir / "Velmora.ini", false);
  MainWindow& main = app.Main();
  QProgressBar* progress = main.progressBar();
  QToolButton* stop = main.stopButton();
  QVERIFY(progress && stop);
  main.ShowProgress(true);
  main.SetProgressMax(10);
  main.SetProgressPosition(3);
  QCOMPARE(progress->format(), QString("3 / 10"));
  // Pressed: said at once, and not pressed twice.
  stop->click();
  QVERIFY(!stop->isEnabled());
  QCOMPARE(stop->text(), QString("中止しています…"));
  QCOMPARE(QString::fromStdString(main.StatusText()), QString("中止しています…"));
  // The next batch starts from nothing, the button ready again.
  main.ShowProgress(false);
  main.ShowProgress(true);
  QCOMPARE(progress->value(), 0);
  QCOMPARE(progress->format(), QString());
  QVERIFY(stop->isEnabled());
  QCOMPARE(stop->text(), QString("中止"));
  main.ShowProgress(false);
  // The settings dialog opens where it opened before.
  SettingsDialog& settings = app.SettingsDlg();
  settings.show();
  const QRect first = settings.geometry();
  settings.hide();
  settings.show();
  QCOMPARE(settings.geometry(), first);
  settings.hide();
  // The swatch's labels stand out from a dark colour and a light one.
  PickerWindow& picker = app.Picker();
  Bitmap two(2, 1, Bitmap::Format::k24Bit);
  const uint8_t pixels[6] = {10, 10, 10, 240, 250, 250};  // blue, green, red
  std::copy_n(pixels, 6, two.Row(0));
  picker.Present(two);
  picker.Press(0, 0);
  QCOMPARE(picker.ui().X_point->palette().color(QPalette::WindowText), QColor(Qt::white));
  picker.Press(1, 0);
  QCOMPARE(picker.ui().X_point->palette().color(QPalette::WindowText), QColor(Qt::black));
}

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"

void MainWindowTest::TheSizeListsLastEntryAsksForAnySize() {
  Scratch dir;
  WriteIni(dir / "Velmora.ini", "[Format]\r\npng=1\r\n[Config_Active]\r\ndialog=1\r\n");
  VelmoraApp app(dir / "Velmora.ini", false);
  Ui::MainWindow& u = app.Main().ui();
  QCOMPARE(u.O_gsize->count(), 9);
  QCOMPARE(u.O_gsize->itemText(8), QString("指定…"));
  u.O_gsize->setCurrentIndex(1);
  // A size that does not read keeps OK off; cancelled, the list goes back.
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<SizeFitDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    dialog->fitEdit()->setText("12y4");
    QVERIFY(!dialog->buttons()->button(QDialogButtonBox::Ok)->isEnabled());
    dialog->reject();
  });
  emit u.O_gsize->activated(8);
  QCOMPARE(u.O_gsize->currentIndex(), 1);
  QCOMPARE(app.CurrentSettings().O_gsize, 1);
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<SizeFitDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog);
    dialog->fitEdit()->setText("x2");
    dialog->buttons()->button(QDialogButtonBox::Ok)->click();
  });
  u.O_gsize->setCurrentIndex(8);
  emit u.O_gsize->activated(8);
  QCOMPARE(app.CurrentSettings().O_gsize, 8);
  QCOMPARE(app.CurrentSettings().size_fit, std::string("x2"));
  QVERIFY(u.O_gsize->toolTip().contains("x2"));
  QCOMPARE(u.O_gsize->itemText(8), QString("指定: x2"));
  // A conversion in the window gets that size.
  app.Main().DropFiles({Picture(dir / "in/p.bmp", 6, 4)});
  QVERIFY(app.Main().WaitUntilIdle());
  QImage out(QString::fromStdString(dir / "in/p.png"));
  QCOMPARE(out.size(), QSize(3, 2));
}

void MainWindowTest::TheWindowSaysWhereFilesGoKeepsItsCaptionAndASecondOneStandsBeside() {
  Scratch dir;
  // Stored far off the screen, with every bar shown and a size given.
  WriteIni(dir / "Velmora.ini",
           "[Window]\r\nWindow_State=Normal\r\nPos.X=5000\r\nPos.Y=5000\r\n[Config_Save]\r\nfolder=1\r\nfolder_n=/srv/pictures/out/\r\n"
           "[Effect]\r\nPanel=1\r\n[Option]\r\nPanel=1\r\ngsize=8\r\n[Extra]\r\nPanel=1\r\nsize=1920x1080\r\n");
  QPoint first_place;
  {
  VelmoraApp first(dir / "Velmora.ini", false);
  first.Show();
  MainWindow& main = first.Main();
  first_place = main.pos();
  QCOMPARE(main.placeLabel()->toolTip(), QString("保存先: /srv/pictures/out/"));
  QVERIFY(main.placeLabel()->isVisible());
  QCOMPARE(main.ui().O_gsize->itemText(8), QString("指定: 1920×1080"));
  QApplication::processEvents();
  QVERIFY(main.ui().O_gsize->width() > main.ui().O_gsize->fontMetrics().horizontalAdvance("指定: 1920×1080"));  // shown whole
  // At its least size the drop caption is whole, whatever bars are shown.
  main.resize(main.minimumSize());
  QApplication::processEvents();
  QLabel* caption = main.ui().Panel1Caption;
  QVERIFY(caption->height() >= caption->sizeHint().height());
  }
  // Another instance stands where the same stored place put the first: a
  // second one stands beside it, not on it.
  const std::string other = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/velmora/1";  // pid 1 lives
  WriteIni(other, std::to_string(first_place.x()) + " " + std::to_string(first_place.y()) + " 0\n");
  VelmoraApp second(dir / "Velmora.ini", false);
  second.Show();
  fs::remove(other);
  // Pushed back by the screen's edge, the cascade goes up and left.
  QCOMPARE(second.Main().pos(), first_place - QPoint(24, 24));
}
