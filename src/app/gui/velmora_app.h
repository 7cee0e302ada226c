// The desktop program as start-up builds it: the main window (which reads
// its settings), then the order dialog, the settings dialog (which reads
// its own), the picker and the results window, and the clipboard watcher.
#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "app/gui/qt_clipboard.h"
#include "app/ini_store.h"
#include "app/startup.h"
#include "formats/loader.h"
#include "formats/susie/susie_host.h"
#include "pipeline/settings.h"

namespace velmora::gui {

class MainWindow;
class OrderDialog;
class SettingsDialog;
class PickerWindow;
class ResultsWindow;

// Application title, font (with a metric twin where the desktop's font is
// missing) and icon.
void SetUpApplication(QApplication& app);

// The settings file: $VELMORA_INI when set, else beside the program (or in
// ~/.config/velmora/ when the program's folder cannot be written).
std::string SettingsFile();

class VelmoraApp {
 public:
  // show_hint: whether a missing settings file brings up the first-start
  // hint (tests turn it off).
  explicit VelmoraApp(const std::string& ini_path = SettingsFile(), bool show_hint = true);
  ~VelmoraApp();

  MainWindow& Main() { return *main_; }
  OrderDialog& Order() { return *order_; }
  SettingsDialog& SettingsDlg() { return *settings_dialog_; }
  PickerWindow& Picker() { return *picker_; }
  ResultsWindow& Results() { return *results_; }
  Settings& CurrentSettings() { return settings_; }
  IniStore& Store() { return store_; }
  ClipboardWatcher& Watcher() { return watcher_; }
  SusiePlugins& Plugins() { return startup_->plugins(); }

  // Shows the main window as the settings left it: maximised, or in place.
  void Show();

 private:
  Settings settings_;
  IniStore store_;
  // Before the windows: a running batch uses its loader and plug-ins until
  // the main window has ended it.
  std::unique_ptr<Startup> startup_;
  QtClipboard clipboard_;
  std::unique_ptr<MainWindow> main_;
  std::unique_ptr<OrderDialog> order_;
  std::unique_ptr<SettingsDialog> settings_dialog_;
  std::unique_ptr<PickerWindow> picker_;
  std::unique_ptr<ResultsWindow> results_;
  ClipboardWatcher watcher_;
};

}  // namespace velmora::gui
