// The settings dialog "設定": where outputs go, how the program behaves and
// how outputs are named. Every change applies at once (the converter reads
// the settings live); closing saves the dialog's settings.
#pragma once

#include <QDialog>
#include <QRect>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/ini_store.h"
#include "pipeline/settings.h"

namespace Ui {
class SettingsDialog;
}

namespace velmora::gui {

// The folder choice: a folder dialog of at least 371 x 311 pixels, centred
// the first time, then where and as large as the user left it (for the run).
class FolderBrowser {
 public:
  // The chosen folder's path; nullopt when nothing was chosen (or the dialog
  // failed). It opens at current when that folder exists, else at home.
  std::optional<std::string> Execute(QWidget* owner, const std::string& current);
  QRect Remembered() const { return remembered_; }
  // Where its size, view and columns are kept between runs.
  void SetStore(IniStore* store) { store_ = store; }

 private:
  QRect remembered_;
  IniStore* store_ = nullptr;
};

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Presets the folder to the program's folder, loads the dialog's settings
  // (ticking "send" writes the Send-To entry again). on_close runs after the
  // settings are saved (the main window's topmost rule).
  SettingsDialog(Settings& settings, IniStore& store, std::string program_path, QWidget* parent = nullptr);
  ~SettingsDialog() override;
  void SetOnClose(std::function<void()> on_close) { on_close_ = std::move(on_close); }
  Ui::SettingsDialog& ui() { return *ui_; }
  FolderBrowser& Browser() { return browser_; }
  // "フォルダ選択": takes a chosen folder, ending in "/".
  void ChooseFolder();
  // Puts a chosen folder into S_folder_n with a trailing "/".
  void TakeFolder(const std::string& folder);

 protected:
  void done(int result) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Load();
  void ApplyRadioRules();
  // The name a picture would get from the pattern, or why the pattern cannot name one.
  void ShowRenameExample(const std::string& pattern);

  std::unique_ptr<Ui::SettingsDialog> ui_;
  Settings& settings_;
  IniStore& store_;
  std::string program_path_;
  std::function<void()> on_close_;
  FolderBrowser browser_;
};

}  // namespace velmora::gui
