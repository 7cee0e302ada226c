// Renders each window of the desktop program into a PNG for the README, the
// help page and review: the main window with both bars shown, the settings
// dialog, the size and quality dialogs, the order dialog filled as a
// combined PDF batch fills it, the
// transparent-colour picker on a sample and the results window after a batch.
// Runs on Qt's offscreen platform, so no display is needed, in the
// language of the environment (LANG=en_US.UTF-8 for the English ones):
//   velmora-screenshots SAMPLES_FOLDER OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QSpinBox>
#include <QPixmap>
#include <QWidget>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/gui/format_quality_dialog.h"
#include "app/gui/main_window.h"
#include "app/gui/order_dialog.h"
#include "app/gui/picker_window.h"
#include "app/gui/file_dialogs.h"
#include "app/gui/results_window.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/size_fit_dialog.h"
#include "app/gui/velmora_app.h"
#include "base/messages.h"
#include "formats/loader.h"
#include "image/bitmap.h"
#include "ui_main_window.h"

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::gui;

namespace {

bool Save(QWidget& window, const fs::path& file) {
  QApplication::processEvents();
  const bool ok = window.grab().save(QString::fromStdString(file.string()), "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "could not write", file.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SAMPLES_FOLDER OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path samples = fs::absolute(argv[1]);
  const fs::path out = argv[2];
  QApplication app(argc, argv);
  SetUpApplication(app);
  fs::create_directories(out);
  const fs::path scratch = fs::temp_directory_path() / "velmora-screenshots";
  fs::create_directories(scratch / "out");
  bool ok = true;
  {
    VelmoraApp velmora((scratch / "Velmora.ini").string(), false);
    MainWindow& main = velmora.Main();
    Settings& settings = velmora.CurrentSettings();
    settings.S_folder = true;
    settings.S_folder_n = (scratch / "out").string() + "/";
    main.ui().C_png->setChecked(true);
    main.ui().C_pdf->setChecked(true);
    main.ui().C_Multipdf->setChecked(true);
    velmora.Show();
    if (!main.ui().Effect_Panel->isVisible()) main.ToggleEffectBar();
    if (!main.ui().option_Panel->isVisible()) main.ToggleOptionBar();
    if (!main.ui().Extra_Panel->isVisible()) main.ToggleExtraBar();
    main.ui().E_rotate->setCurrentIndex(1);
    ok &= Save(main, out / "main-window.png");
    main.ui().E_rotate->setCurrentIndex(0);

    SettingsDialog& settings_dialog = velmora.SettingsDlg();
    if (auto* rename = settings_dialog.findChild<QLineEdit*>("rename")) rename->setText("{name}_web");
    settings_dialog.show();
    ok &= Save(settings_dialog, out / "settings-dialog.png");
    settings_dialog.hide();
    if (auto* rename = settings_dialog.findChild<QLineEdit*>("rename")) rename->setText("");

    {
      SizeFitDialog size_fit(&main);
      size_fit.fitEdit()->setText("320x320");
      size_fit.fitModeBox()->setCurrentIndex(1);
      size_fit.show();
      ok &= Save(size_fit, out / "size-fit-dialog.png");
    }
    {
      FormatQualityDialog quality(&main);
      quality.OwnBox("jpg")->setChecked(true);
      quality.ValueBox("jpg")->setValue(9);
      quality.OwnBox("webp")->setChecked(true);
      quality.ValueBox("webp")->setValue(7);
      quality.show();
      ok &= Save(quality, out / "format-quality-dialog.png");
    }

    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(samples))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());

    OrderDialog& order = velmora.Order();
    OrderDialogData data;
    data.caption = Tr("pdf一括出力時出力順設定");
    data.rows.push_back({Tr("ﾌｧｲﾙ名"), Tr("ﾌｧｲﾙｻｲｽﾞ"), Tr("ﾌｧｲﾙ日付")});
    for (const std::string& file : files)
      data.rows.push_back({file, std::to_string(fs::file_size(file)) + " Byte", "2026/12/07 10:00:00"});
    order.Fill(data);
    order.show();
    ok &= Save(order, out / "order-dialog.png");
    order.hide();

    Loader loader;
    for (const std::string& file : files) {
      if (file.size() < 4 || file.compare(file.size() - 4, 4, ".png") != 0) continue;
      Bitmap picture;
      loader.LoadFile(file)->AssignTo(picture);
      PickerWindow& picker = velmora.Picker();
      picker.Present(picture);
      picker.show();
      picker.Press(12, 9);
      ok &= Save(picker, out / "picker-window.png");
      // A dark colour picked: the labels on its swatch stay readable.
      for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
          if (x < 24 && y < 24) picture.SetPixel(x, y, MakeColor(20, 24, 60));
      picker.Present(picture);
      picker.Press(12, 9);
      ok &= Save(picker, out / "picker-window-dark.png");
      picker.hide();
      break;
    }

    // The Open dialog on the samples, the photo's preview shown.
    for (const std::string& file : files) {
      if (file.size() < 4 || file.compare(file.size() - 4, 4, ".jpg") != 0) continue;
      Loader preview_loader;
      PictureOpenDialog open(&main, preview_loader);
      IniStore none;
      none.FileName = (scratch / "open-dialog.ini").string();
      RestoreFileDialog(open, none, "open_dialog", QSize(960, 560));
      open.setDirectory(QString::fromStdString(fs::path(file).parent_path().string()));
      open.selectFile(QString::fromStdString(file));
      emit open.currentChanged(QString::fromStdString(file));
      open.WaitForPreview();
      open.show();
      for (int i = 0; i < 20; ++i) QApplication::processEvents();  // the folder's listing arrives
      ok &= Save(open, out / "open-dialog.png");
      break;
    }

    // A real batch fills the results window, with one file that is not a
    // picture: its line shows once, whatever number of outputs it had.
    main.ui().C_Multipdf->setChecked(false);
    settings.A_dialog = true;
    {
      std::ofstream broken(scratch / "broken.jpg");
      broken << "not a picture";
    }
    files.push_back((scratch / "broken.jpg").string());
    main.DropFiles(files);
    main.WaitUntilIdle();
    ResultsWindow& results = velmora.Results();
    results.show();
    ok &= Save(results, out / "results-window.png");
    results.hide();
    ok &= Save(main, out / "main-window-after-batch.png");
  }
  std::error_code ignored;
  fs::remove_all(scratch, ignored);
  return ok ? 0 : 1;
}
