#include "app/gui/velmora_app.h"

#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>
#include <iostream>

#include "app/gui/main_window.h"
#include "app/gui/order_dialog.h"
#include "app/gui/picker_window.h"
#include "app/gui/results_window.h"
#include "app/gui/settings_dialog.h"
#include "image/limits.h"
#include "platform/platform.h"

// The icon lives in the GUI library, a static one: its resources join the
// program only when asked for by name.
static void InitResources() { Q_INIT_RESOURCE(velmora); }

namespace velmora::gui {

void SetUpApplication(QApplication& app) {
  InitResources();
  // No display name: on X11 Qt would append it to every caption ("設定 —
  // Velmora"), and each window's caption is its own text alone.
  app.setApplicationName("Velmora");
  app.setDesktopFileName("io.github.velmora.Velmora");
  app.setQuitOnLastWindowClosed(true);
  // The window font is "ＭＳ Ｐゴシック" at 12 pixels; IPA P Gothic has its
  // metrics where the original is not installed.
  QFont::insertSubstitution("ＭＳ Ｐゴシック", "IPAPGothic");
  QFont font("ＭＳ Ｐゴシック");
  font.setPixelSize(12);
  QApplication::setFont(font);
  QApplication::setWindowIcon(QIcon(":/velmora/velmora.png"));
  // The pipeline's texts come from the message catalog, the windows' from
  // Qt's translation of the same language. The windows are written in
  // Japanese, so under Japanese only Qt's own texts change, and under the C
  // locale nothing does.
  const std::string language = platform::UseUserLanguage();
  if (!language.empty()) {
    // Qt's own texts (the file dialogs' buttons and labels), when the
    // system has them in this language.
    auto* qt = new QTranslator(&app);
    if (qt->load(QString::fromStdString("qtbase_" + language), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      QApplication::installTranslator(qt);
    else
      delete qt;
    auto* translator = new QTranslator(&app);
    const std::string folder = platform::ProgramFolder();
    for (const std::string& base : {folder + "translations/", folder + "../share/velmora/translations/"})
      if (translator->load(QString::fromStdString("velmora_" + language), QString::fromStdString(base))) {
        QApplication::installTranslator(translator);
        break;
      }
  }
}

std::string SettingsFile() {
  if (const char* ini = std::getenv("VELMORA_INI"); ini && *ini) return ini;
  return SettingsFilePath(platform::ProgramFolder() + "velmora");
}

namespace {

DecodeLimits LimitsOf(IniStore& store) {
  DecodeLimits limits;
  LoadLimits(store, limits);
  return limits;
}

}  // namespace

VelmoraApp::VelmoraApp(const std::string& ini_path, bool show_hint) {
  store_.FileName = ini_path;
  startup_ = std::make_unique<Startup>(LimitsOf(store_));
  settings_.S_folder_n = platform::ProgramFolder();
  main_ = std::make_unique<MainWindow>(settings_, store_, startup_->loader(), &clipboard_, show_hint);
  order_ = std::make_unique<OrderDialog>(main_.get());
  settings_dialog_ = std::make_unique<SettingsDialog>(settings_, store_, platform::ProgramPath(), main_.get());
  picker_ = std::make_unique<PickerWindow>(main_.get());
  results_ = std::make_unique<ResultsWindow>(main_.get());
  main_->SetWindows(order_.get(), settings_dialog_.get(), picker_.get(), results_.get());
  settings_dialog_->SetOnClose([this] { main_->Activate(); });
  // The plug-ins are searched once the windows exist, and stay for the run.
  startup_->LoadPlugins();
  for (const auto& warning : startup_->Warnings()) std::cerr << "velmora: " << warning << '\n';
  // The watcher joins with the main window; the clipboard as it is at
  // start-up is not converted.
  watcher_.SetOnClipChange([this] {
    if (settings_.A_clip) main_->CaptureClipboard();
  });
}

VelmoraApp::~VelmoraApp() {
  watcher_.SetOnClipChange(nullptr);
  main_->EndBatches();
}

void VelmoraApp::Show() {
  if (settings_.window_state == "Max")
    main_->showMaximized();
  else
    main_->show();
}

}  // namespace velmora::gui
