// The secondary windows on Qt's offscreen platform: the order dialog and its
// sortable grid, the transparent-colour picker, the settings dialog with the
// Send-To entry, and the clipboard capture and watch.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QProcess>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/gui/file_dialogs.h"
#include "app/gui/main_window.h"
#include "app/gui/order_dialog.h"
#include "app/gui/picker_window.h"
#include "app/gui/qt_clipboard.h"
#include "app/gui/results_window.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/sort_grid.h"
#include "app/gui/velmora_app.h"
#include "app/send_to.h"
#include "app/sort_rows.h"
#include "ui_main_window.h"
#include "ui_order_dialog.h"
#include "ui_picker_window.h"
#include "ui_settings_dialog.h"

using namespace velmora;
using namespace velmora::gui;
namespace fs = std::filesystem;

namespace {

struct Scratch {
  Scratch() {
    path = fs::temp_directory_path() / ("velmora-dialogs-" + std::to_string(QCoreApplication::applicationPid()) +
                                        "-" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~Scratch() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
  fs::path path;
  static inline int counter = 0;
};

using Rows = std::vector<std::vector<std::string>>;

Rows Names(const Rows& rows, size_t column = 0) {
  Rows out;
  for (size_t i = 1; i < rows.size(); ++i) out.push_back({rows[i][column]});
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void SortFollowsTheGridsRules();
  void HeaderClicksSortDescendingFirstAndDrawTheArrow();
  void ButtonsStopAtTheEndsAndDeletingEveryRowIsAllowed();
  void NameBoxCarriesToTheNextBatch();
  void PickerTakesAnyButtonAndResetsItsPoint();
  void SettingsDialogRoundTripAndFolderRules();
  void SendToEntriesAreWrittenAndRemoved();
  void ClipboardCaptureWithPictureTextAndNothing();
  void WatcherIgnoresTheStartUpState();
  void OpenDialogTakesSeveralFilesPreviewsAsideAndRemembersItsSize();
};

void DialogsTest::SortFollowsTheGridsRules() {
  Rows rows = {{"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ"}, {"b.png", "900 Byte"}, {"A.png", "1000 Byte"}, {"a.png", "5 Byte"}};
  SortGridRows(rows, 0, 1, 3, true);
  // Upper-cased keys: A.png and a.png compare equal and come first.
  QCOMPARE(rows[3][0], std::string("b.png"));
  QVERIFY((rows[1][0] == "A.png" && rows[2][0] == "a.png") || (rows[1][0] == "a.png" && rows[2][0] == "A.png"));
  QCOMPARE(rows[0][0], std::string("ﾌｧｲﾙ名"));  // the header stays
  // Sizes compare as text: 1000 Byte before 900 Byte before 5 Byte.
  SortGridRows(rows, 1, 1, 3, true);
  QCOMPARE(Names(rows, 1), (Rows{{"1000 Byte"}, {"5 Byte"}, {"900 Byte"}}));
  // Larger ranges go through the quicksort; bytes compare unsigned.
  Rows many = {{"h"}};
  for (const char* name : {"k", "c", "é", "a", "j", "b", "i", "d", "h", "e", "g", "f", "Z", "z"}) many.push_back({name});
  SortGridRows(many, 0, 1, static_cast<int>(many.size()) - 1, true);
  QCOMPARE(many[1][0], std::string("a"));
  QCOMPARE(many.back()[0], std::string("é"));
  SortGridRows(many, 0, 1, static_cast<int>(many.size()) - 1, false);
  QCOMPARE(many[1][0], std::string("é"));
}

void DialogsTest::HeaderClicksSortDescendingFirstAndDrawTheArrow() {
  OrderDialog dialog;
  OrderDialogData data;
  data.caption = "pdf一括出力時出力順設定";
  data.rows = {{"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ", "ﾌｧｲﾙ日付", "ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）"},
               {"b.png", "900 Byte", "", "/p/b.png"},
               {"c.png", "1000 Byte", "", "/p/c.png"},
               {"a.png", "20 Byte", "", "/p/a.png"}};
  dialog.Fill(data);
  dialog.show();
  SortGrid& grid = dialog.Grid();
  QCOMPARE(grid.columnWidth(0), 235);
  QCOMPARE(grid.columnWidth(3), 329);
  QCOMPARE(grid.horizontalHeaderItem(3)->text(), QString("ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）"));
  // A press on the header: the first sorts descending, the next ascending.
  const QHeaderView* header = grid.horizontalHeader();
  // A size and a date are whole in their cells.
  data.rows.push_back({"d.png", "611894 Byte", "2026/12/07 12:53:28", "/p/d.png"});
  dialog.Fill(data);
  for (int c : {1, 2})
    QVERIFY(grid.columnWidth(c) >= grid.fontMetrics().horizontalAdvance(grid.item(3, c)->text()) + 6);
  data.rows.pop_back();
  dialog.Fill(data);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  QVERIFY(grid.Sorted() && !grid.Ascending());
  QCOMPARE(Names(grid.Rows()), (Rows{{"c.png"}, {"b.png"}, {"a.png"}}));
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionPosition(0) + 5, 5));
  QTest::qWait(QApplication::doubleClickInterval() + 50);
  QVERIFY(grid.Ascending());
  QCOMPARE(Names(grid.Rows()), (Rows{{"a.png"}, {"b.png"}, {"c.png"}}));
  // The arrow sits after the header text: text width + 10 + 1.
  QCOMPARE(grid.SortedHeaderText(), std::string("ﾌｧｲﾙ名"));
  QCOMPARE(grid.ArrowOffset(), header->fontMetrics().horizontalAdvance("ﾌｧｲﾙ名") + 10 + 1);
  QVERIFY(!grid.Arrow(true).isNull() && !grid.Arrow(false).isNull());
  // And it is drawn there in the header's text colour, pointing up: few
  // pixels at its top, many at its foot.
  const QImage shot = header->viewport()->grab().toImage();
  auto dark_in_row = [&](int y) {
    const int left = header->sectionPosition(0) + grid.ArrowOffset();
    const QColor text = header->palette().color(QPalette::ButtonText);
    int n = 0;
    for (int x = left; x < left + 9; ++x) n += qAbs(QColor(shot.pixel(x, y)).lightness() - text.lightness()) < 60;
    return n;
  };
  QVERIFY(dark_in_row(3) >= 1);
  QVERIFY(dark_in_row(8) > dark_in_row(3) + 3);
  // The direction is shared by all columns.
  grid.HeaderClicked(1);
  QVERIFY(!grid.Ascending());
  QCOMPARE(Names(grid.Rows(), 1), (Rows{{"900 Byte"}, {"20 Byte"}, {"1000 Byte"}}));
}

void DialogsTest::ButtonsStopAtTheEndsAndDeletingEveryRowIsAllowed() {
  OrderDialog dialog;
  OrderDialogData data;
  data.rows = {{"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ", "ﾌｧｲﾙ日付"}, {"/a", "", ""}, {"/b", "", ""}, {"/c", "", ""}};
  data.entry_mode = false;
  dialog.Fill(data);
  SortGrid& grid = dialog.Grid();
  Ui::OrderDialog& u = dialog.ui();
  grid.SetCurrentGridRow(1);
  u.Button1->click();  // up on the first row: nothing
  QCOMPARE(Names(grid.Rows()), (Rows{{"/a"}, {"/b"}, {"/c"}}));
  u.Button2->click();  // down: /a moves and stays selected
  QCOMPARE(Names(grid.Rows()), (Rows{{"/b"}, {"/a"}, {"/c"}}));
  QCOMPARE(grid.CurrentGridRow(), 2);
  u.Button2->click();
  u.Button2->click();  // on the last row: nothing
  QCOMPARE(Names(grid.Rows()), (Rows{{"/b"}, {"/c"}, {"/a"}}));
  QCOMPARE(grid.CurrentGridRow(), 3);
  u.Button1->click();
  QCOMPARE(grid.CurrentGridRow(), 2);
  for (int i = 0; i < 4; ++i) u.Button4->click();
  QCOMPARE(grid.RowCount(), 1);  // only the header row
  OrderDialogData out;
  dialog.Read(out);
  QCOMPARE(out.rows.size(), size_t{1});
  // "並び替え終了" sits at the bar's right edge.
  dialog.resize(700, 300);
  dialog.show();
  QCOMPARE(u.Button3->x() + u.Button3->width() + 2, u.Panel2->width());
}

void DialogsTest::NameBoxCarriesToTheNextBatch() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  {
    std::ofstream out(ini, std::ios::binary);
    out << "[Format]\r\ngif=1\r\n[Effect]\r\nanimegif=1\r\n[Config_Active]\r\ndialog=1\r\n";
  }
  for (const char* name : {"trip/a.bmp", "trip/b.bmp", "more/c.bmp", "more/d.bmp"}) {
    fs::create_directories((dir.path / name).parent_path());
    DibImage image;
    image.SaveToFile(dir / name);
  }
  VelmoraApp app(ini, false);
  int shown = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<OrderDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    ++shown;
    QCOMPARE(dialog->windowTitle(), QString("gifｱﾆﾒ出力時出力順設定"));
    if (shown == 1) {
      QVERIFY(!dialog->ui().multi_outfile->isEnabled());
      dialog->ui().C_multi_fn->setChecked(true);
      QVERIFY(dialog->ui().multi_outfile->isEnabled());
      dialog->ui().multi_outfile->setText("holiday");
    } else {
      // The next batch finds the box as the last one left it.
      QVERIFY(dialog->ui().C_multi_fn->isChecked());
      QCOMPARE(dialog->ui().multi_outfile->text(), QString("holiday"));
      dialog->ui().C_multi_fn->setChecked(false);
    }
    dialog->ui().Button3->click();
  });
  timer.start(20);
  app.Main().DropFiles({dir / "trip"});
  QVERIFY(app.Main().WaitUntilIdle());
  QVERIFY(fs::exists(dir / "holiday.gif"));
  app.Main().DropFiles({dir / "more"});
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(shown, 2);
  QVERIFY(fs::exists(dir / "more.gif"));
  QVERIFY(ReadText(dir / "holiday.gif").size() > 6);
}

void DialogsTest::PickerTakesAnyButtonAndResetsItsPoint() {
  PickerWindow picker;
  QCOMPARE(picker.windowTitle(), QString("透過色指定"));
  const QColor face = picker.PickedColor();
  Bitmap b(40, 30, Bitmap::Format::k24Bit);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) b.SetPixel(x, y, MakeColor(x * 6, y * 8, 77));
  picker.Present(b);
  picker.show();
  QCOMPARE(picker.ui().X_point->text(), QString("0"));
  QVERIFY(!picker.LastPress());
  QCOMPARE(picker.PickedColor(), face);
  QTest::mousePress(picker.ui().Image1, Qt::LeftButton, {}, QPoint(12, 34 % 30));
  QTest::mousePress(picker.ui().Image1, Qt::RightButton, {}, QPoint(5, 6));
  QCOMPARE(picker.ui().X_point->text(), QString("5"));
  QCOMPARE(picker.ui().Y_point->text(), QString("6"));
  QCOMPARE(picker.PickedColor(), QColor(30, 48, 77));
  QCOMPARE(picker.ui().Panel1->palette().color(QPalette::Window), QColor(30, 48, 77));
  QTest::mousePress(picker.ui().Image1, Qt::MiddleButton, {}, QPoint(1, 1));
  QCOMPARE(picker.LastPress()->x, 1);
  // OK closes it; the next showing starts at (0, 0) with the last colour.
  picker.ui().Button1->click();
  QVERIFY(!picker.isVisible());
  picker.Present(b);
  picker.show();
  QCOMPARE(picker.ui().X_point->text(), QString("0"));
  QCOMPARE(picker.PickedColor(), QColor(6, 8, 77));
  QVERIFY(!picker.LastPress());
}

void DialogsTest::SettingsDialogRoundTripAndFolderRules() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  {
    VelmoraApp app(ini, false);
    SettingsDialog& d = app.SettingsDlg();
    Ui::SettingsDialog& u = d.ui();
    QCOMPARE(d.windowTitle(), QString("設定"));
    QVERIFY(u.S_sourcefile->isChecked() && !u.S_folder_n->isEnabled() && !u.Button1->isEnabled());
    QVERIFY(u.S_folder_n->text().endsWith('/'));  // preset to the program's folder
    u.S_folder->setChecked(true);
    QVERIFY(u.S_folder_n->isEnabled() && u.Button1->isEnabled());
    d.TakeFolder("/tmp/out");
    QCOMPARE(u.S_folder_n->text(), QString("/tmp/out/"));
    d.TakeFolder("/");
    QCOMPARE(u.S_folder_n->text(), QString("/"));
    d.TakeFolder("/tmp/out");
    u.S_sourcefile->setChecked(true);
    QVERIFY(!u.S_folder_n->isEnabled() && !u.Button1->isEnabled());
    QCOMPARE(u.S_folder_n->text(), QString("/tmp/out/"));  // the text stays
    u.S_folder->setChecked(true);
    for (QCheckBox* box : {u.A_dialog, u.A_delete, u.V_over, u.V_adds, u.V_olddate, u.V_transparent, u.V_metadata,
                           u.V_profile, u.V_alpha})
      box->setChecked(true);
    // Changes take effect at once.
    QVERIFY(app.CurrentSettings().V_over && app.CurrentSettings().S_folder);
    QCOMPARE(app.CurrentSettings().S_folder_n, std::string("/tmp/out/"));
    // Closing saves, then applies the topmost rule.
    u.A_front->setChecked(true);
    d.show();
    u.Button2->click();
    QVERIFY(app.Main().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  }
  const std::string saved = ReadText(ini);
  for (const char* line : {"sourcefile=0\r\n", "folder=1\r\n", "folder_n=/tmp/out/\r\n", "dialog=1\r\n", "front=1\r\n",
                           "delete=1\r\n", "over=1\r\n", "adds=1\r\n", "olddate=1\r\n", "transparent=1\r\n",
                           "keep_metadata=1\r\n", "keep_profile=1\r\n", "keep_alpha=1\r\n"})
    QVERIFY2(saved.find(line) != std::string::npos, (std::string(line) + saved).c_str());
  VelmoraApp again(ini, false);
  QVERIFY(again.SettingsDlg().ui().S_folder->isChecked());
  QVERIFY(again.SettingsDlg().ui().V_transparent->isChecked());
  QVERIFY(again.SettingsDlg().ui().V_alpha->isChecked() && again.CurrentSettings().keep_profile);
  QCOMPARE(again.SettingsDlg().ui().S_folder_n->text(), QString("/tmp/out/"));
}

void DialogsTest::SendToEntriesAreWrittenAndRemoved() {
  Scratch dir;
  setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  const std::string ini = dir / "Velmora.ini";
  const std::string thunar = dir / "data/Thunar/sendto/Velmoraを起動.desktop";
  const std::string apps = dir / "data/applications/Velmoraを起動.desktop";
  {
    VelmoraApp app(ini, false);
    app.SettingsDlg().ui().A_send->setChecked(true);
    QVERIFY(fs::exists(thunar) && fs::exists(apps));
    const std::string entry = ReadText(thunar);
    QVERIFY(entry.find("[Desktop Entry]\nType=Application\nName=Velmoraを起動\n") == 0);
    QVERIFY(entry.find("%F\n") != std::string::npos);
    QVERIFY(entry.find("MimeType=image/bmp;") != std::string::npos);
    // Folders are sent through the file managers' own menus only: an
    // applications entry claiming them may become their default handler.
    QVERIFY(entry.find("inode/directory;") != std::string::npos);
    QVERIFY(ReadText(apps).find("inode/directory") == std::string::npos);
    const std::string nautilus = dir / "data/nautilus/scripts/Velmoraで変換";
    const std::string dolphin = dir / "data/kio/servicemenus/io.github.velmora.Velmora.desktop";
    const std::string nemo = dir / "data/nemo/actions/io.github.velmora.Velmora.nemo_action";
    for (const std::string& file : {nautilus, dolphin, nemo}) QVERIFY2(fs::exists(file), file.c_str());
    // Nautilus runs the script and Dolphin loads the menu only when they are executable.
    for (const std::string& file : {nautilus, dolphin})
      QVERIFY((fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none);
    QVERIFY(ReadText(nautilus).find("exec '" + platform::ProgramPath() + "' \"$@\"") != std::string::npos);
    QVERIFY(ReadText(dolphin).find("MimeType=image/bmp;") != std::string::npos);
    QVERIFY(ReadText(dolphin).find("inode/directory;") != std::string::npos);
    QVERIFY(ReadText(nemo).find("Selection=notnone\nMimetypes=image/bmp;") != std::string::npos);
    // Dolphin's menu is a KDE service (Type=Service with MimeType and
    // Actions), a type the freedesktop validator does not know.
    if (QFile::exists("/usr/bin/desktop-file-validate"))
      for (const std::string& file : {thunar, apps}) {
        QProcess validate;
        validate.start("desktop-file-validate", {QString::fromStdString(file)});
        QVERIFY(validate.waitForFinished());
        QVERIFY2(validate.exitCode() == 0, validate.readAllStandardOutput().constData());
      }
    app.SettingsDlg().ui().A_send->setChecked(false);
    QVERIFY(!fs::exists(thunar) && !fs::exists(apps));
    for (const std::string& file : {nautilus, dolphin, nemo}) QVERIFY2(!fs::exists(file), file.c_str());
    app.SettingsDlg().ui().A_send->setChecked(true);
    app.SettingsDlg().ui().Button2->click();  // saves "send=1"
  }
  // Stored as ticked, the entry is written again at the next start.
  fs::remove(thunar);
  { VelmoraApp app(ini, false); }
  QVERIFY(fs::exists(thunar));
  // A SendTo folder named in the registry stand-in takes precedence.
  fs::create_directories(dir / "config/velmora");
  {
    std::ofstream reg(dir / "config/velmora/registry.ini", std::ios::binary);
    reg << "[Software\\MicroSoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders]\r\nSendTo=" << (dir / "sendto")
        << "\r\n";
  }
  QCOMPARE(SendToFolders(), std::vector<std::string>{dir / "sendto/"});
  UpdateSendToEntry(true, "/opt/velmora/velmora");
  QVERIFY(fs::exists(dir / "sendto/Velmoraを起動.desktop"));
  QVERIFY(ReadText(dir / "sendto/Velmoraを起動.desktop").find("Exec=\"/opt/velmora/velmora\" %F\n") !=
          std::string::npos);
  // A folder that cannot be made is not reported.
  setenv("XDG_CONFIG_HOME", (dir / "nothing").c_str(), 1);
  setenv("XDG_DATA_HOME", "/proc/velmora-cannot-write", 1);
  UpdateSendToEntry(true, "/opt/velmora/velmora");
}

void DialogsTest::ClipboardCaptureWithPictureTextAndNothing() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  {
    std::ofstream out(ini, std::ios::binary);
    out << "[Format]\r\npng=1\r\n[Config_Save]\r\nsourcefile=0\r\nfolder=1\r\nfolder_n=" << (dir.path.string() + "/")
        << "\r\n";
  }
  VelmoraApp app(ini, false);
  QStringList messages;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      messages << box->text();
      box->accept();
    }
  });
  timer.start(20);
  QImage picture(8, 5, QImage::Format_RGB32);
  picture.fill(QColor(10, 200, 30));
  QGuiApplication::clipboard()->setImage(picture);
  QtClipboard port;
  QVERIFY(port.HasBitmap());
  QVERIFY(!port.Formats().empty() && port.Formats().front() == kCfDib);
  app.Main().ui().N2->trigger();
  QVERIFY(app.Main().WaitUntilIdle());
  QVERIFY(fs::exists(dir / "Clip1.png"));
  QVERIFY(messages.size() == 1 && messages[0].startsWith("次のファイルとして保存しました。\n"));
  QCOMPARE(app.Results().List()->count(), 1);
  app.Main().CaptureClipboard();
  QVERIFY(app.Main().WaitUntilIdle());
  QVERIFY(fs::exists(dir / "Clip2.png"));
  // Text: no picture.
  QGuiApplication::clipboard()->setText("just words");
  app.Main().CaptureClipboard();
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(messages.back(), QString("クリップボードに画像が入っていません。"));
  QCOMPARE(app.Main().StatusText(), std::string("クリップボードに画像が入っていません。"));
  QCOMPARE(app.Results().List()->count(), 0);
  // Nothing at all.
  QGuiApplication::clipboard()->clear();
  messages.clear();
  app.Main().CaptureClipboard();
  QVERIFY(app.Main().WaitUntilIdle());
  QCOMPARE(messages, QStringList{"クリップボードに画像が入っていません。"});
}

void DialogsTest::WatcherIgnoresTheStartUpState() {
  Scratch dir;
  const std::string ini = dir / "Velmora.ini";
  {
    std::ofstream out(ini, std::ios::binary);
    out << "[Format]\r\nbmp=1\r\n[Config_Active]\r\ndialog=1\r\nclip=1\r\n[Config_Save]\r\nsourcefile=0\r\nfolder=1\r\n"
           "folder_n="
        << (dir.path.string() + "/") << "\r\n";
  }
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(Qt::blue);
  QGuiApplication::clipboard()->setImage(picture);
  VelmoraApp app(ini, false);
  QVERIFY(app.Watcher().Joined());
  QCoreApplication::processEvents();
  QVERIFY(!fs::exists(dir / "Clip1.bmp"));  // what was there at start-up stays
  picture.fill(Qt::red);
  QGuiApplication::clipboard()->setImage(picture);
  QTRY_VERIFY(fs::exists(dir / "Clip1.bmp"));
  // Without A_clip a change converts nothing.
  app.SettingsDlg().ui().A_clip->setChecked(false);
  picture.fill(Qt::green);
  QGuiApplication::clipboard()->setImage(picture);
  QCoreApplication::processEvents();
  QVERIFY(!fs::exists(dir / "Clip2.bmp"));
}

void DialogsTest::OpenDialogTakesSeveralFilesPreviewsAsideAndRemembersItsSize() {
  Scratch dir;
  // A 4000 x 3000 JPEG decodes for its preview at an eighth, on the worker.
  QImage photo(4000, 3000, QImage::Format_RGB888);
  photo.fill(QColor(30, 120, 200));
  QVERIFY(photo.save(QString::fromStdString(dir / "photo.jpg"), "JPG", 90));
  { std::ofstream(dir / "broken.jpg") << "not a picture"; }
  Loader loader;
  DecodeRequest preview;
  preview.preview_edge = PictureOpenDialog::kPreviewEdge;
  QCOMPARE(loader.LoadFile(dir / "photo.jpg", preview)->Width(), 500);  // 4000 / 8 still covers 160
  IniStore store;
  store.FileName = dir / "Velmora.ini";
  {
    PictureOpenDialog dialog(nullptr, loader);
    QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
    RestoreFileDialog(dialog, store, "open_dialog", QSize(700, 480));
    QCOMPARE(dialog.size(), QSize(700, 480));
    emit dialog.currentChanged(QString::fromStdString(dir / "photo.jpg"));
    dialog.WaitForPreview();
    const QPixmap shown = dialog.PreviewLabel()->pixmap();
    QCOMPARE(shown.size(), QSize(160, 120));
    QVERIFY(qAbs(shown.toImage().pixelColor(80, 60).blue() - 200) <= 3);
    // A later selection wins; a file that is not a picture shows "?".
    emit dialog.currentChanged(QString::fromStdString(dir / "photo.jpg"));
    emit dialog.currentChanged(QString::fromStdString(dir / "broken.jpg"));
    dialog.WaitForPreview();
    QCOMPARE(dialog.PreviewLabel()->text(), QString("?"));
    dialog.resize(650, 430);
    KeepFileDialog(dialog, store, "open_dialog");
  }
  PictureOpenDialog again(nullptr, loader);
  RestoreFileDialog(again, store, "open_dialog", QSize(700, 480));
  QCOMPARE(again.size(), QSize(650, 430));
  // The same in the settings file, for the next run.
  QVERIFY(store.Flush());
  QVERIFY(ReadText(dir / "Velmora.ini").find("open_dialog=650x430") != std::string::npos);
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
