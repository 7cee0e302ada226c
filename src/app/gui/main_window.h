// The main window: the format, effect and option bars, the drop panel, the
// menus and the status bar. It is the pipeline's user interface: messages,
// the overwrite question, progress, and (through the other windows) the
// order dialog, the picker and the results list.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QMenu>
#include <memory>
#include <string>
#include <vector>

#include "app/gui/batch_runner.h"
#include "app/gui/size_fit_dialog.h"
#include "app/gui/results_window.h"
#include "app/gui/taskbar_progress.h"
#include "app/ini_store.h"
#include "app/instances.h"
#include "formats/loader.h"
#include "pipeline/batch_session.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"

class QCheckBox;
class QLabel;
class QMessageBox;
class QProgressBar;
class QToolButton;

namespace Ui {
class MainWindow;
}

namespace velmora::gui {

class OrderDialog;
class FormatQualityDialog;
class SettingsDialog;
class PickerWindow;

// The hint shown at the first start, before any settings file exists.
inline constexpr const char* kFirstStartHint =
    QT_TRANSLATE_NOOP("MainWindow", "右クリックをすると詳細設定用バーが表示されます。\n\r場合に応じてお使いください。");

// Makes a message box wide enough that its caption is not cut.
void WidenForCaption(QMessageBox& box, const QString& caption);

class MainWindow : public QMainWindow, public UserInterface {
  Q_OBJECT

 public:
  // Reads the main window's settings; shows the first-start hint when the
  // settings file does not exist yet (unless show_hint is false).
  MainWindow(Settings& settings, IniStore& store, const Loader& loader, Clipboard* clipboard,
             bool show_hint = true);
  ~MainWindow() override;

  // The windows created after this one (the start-up order).
  void SetWindows(OrderDialog* order, SettingsDialog* settings, PickerWindow* picker, ResultsWindow* results);
  // Command-line arguments: converted, then the program quits.
  void SetArguments(std::vector<std::string> arguments) { arguments_ = std::move(arguments); }

  BatchSession& session() { return runner_->session(); }
  Ui::MainWindow& ui() { return *ui_; }
  QProgressBar* progressBar() const { return progress_; }
  QToolButton* stopButton() const { return stop_; }
  QLabel* placeLabel() const { return place_; }
  QMenu* popupMenu() { return &popup_; }
  // The open dialog's filter in the toolkit's syntax.
  static QString OpenFilter();
  // Whether a batch (or a clipboard capture) is queued or running.
  bool Busy() const;
  // Stops the batch, drops the queued ones and ends the batch thread: before
  // the windows, the loader and the plug-ins the batch uses go away.
  void EndBatches() { runner_->Shutdown(); }
  // Serves the window's events until the batches have ended; false when
  // timeout_ms passed first. For tests and tools that drive the window.
  bool WaitUntilIdle(int timeout_ms = 120000);
  // The first-start hint was shown at creation.
  bool HintShown() const { return hint_shown_; }
  // What the program returns: 1 when a command-line start could not
  // convert because no format was ticked.
  int ExitStatus() const { return exit_status_; }

  // What activation does (topmost, progress bar, command line); public so
  // that tests can run it where no window manager activates windows.
  void Activate();
  // The window's place, size and state now, into the settings.
  void SaveSettings();

  // UserInterface.
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool ConfirmOverwrite(const std::string& text) override;
  void RunOrderDialog(OrderDialogData& data) override;
  std::optional<PickerClick> PickTransparent(const Bitmap& loaded) override;
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override;
  void SetDropCaption(const std::string& text) override;
  void ShowProgress(bool visible) override;
  void SetProgressMax(int max) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void ProcessPendingEvents() override;
  void ClearResults() override;
  void SetResults(const std::vector<std::string>& lines) override;
  void LogFailure(const std::string& source, const std::string& reason) override;
  void SourceDone(const SourceReport& report) override;

  // The menu commands.
  void Open();
  void ShowResultsWindow();
  void ShowSettingsDialog();
  void ToggleEffectBar();
  void ToggleOptionBar();
  void ToggleExtraBar();
  void ShowSizeFit();
  // The output place in the status bar.
  void ShowOutputPlace();
  void KeepCaptionWhole();
  void ShowFormatQuality();
  // ｵﾌﾟｼｮﾝ → プリセット: the settings of a preset put in place of the
  // window's (its place and bars stay), or the window's saved as one.
  bool LoadPreset(const std::string& name);
  bool SavePreset(const std::string& name);
  void OpenHelp();
  void ShowAbout();
  void CaptureClipboard();
  // The stop button and Escape: the batch stops before its next file, and
  // says so at once.
  void RequestStop();
  // Files and folders dropped on the drop panel, in the order delivered.
  void DropFiles(const std::vector<std::string>& paths);

 protected:
  void changeEvent(QEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadSettings();
  // Every control shown as settings_ says.
  void ShowSettings();
  void FillPresetMenu();
  void ApplyEnablingRules();
  // The box that ticks a format of the output table.
  QCheckBox* FormatBox(const OutputRow& row) const;
  void FitProgressBar();
  void ApplyTopmost();
  void AddFormatBoxes();
  void ConnectControls();
  void ProcessArguments();
  void ScheduleArguments();
  void ShowFailure(const std::string& text);
  void PlaceOnScreen();
  void FitOnScreen(QRect place);
  // place moved (and shrunk if it must be) wholly onto a screen.
  QRect FittedOnScreen(QRect place) const;
  void HighlightDropPanel(bool on);
  void UpdateProgressText();
  // Message boxes of ours come above a window that stays on top.
  void RaiseAboveOthers(QWidget& box) const;

  std::unique_ptr<Ui::MainWindow> ui_;
  Settings& settings_;
  IniStore& store_;
  // The pipeline's thread; made last and shut down first of all.
  std::unique_ptr<BatchRunner> runner_;
  OrderDialog* order_ = nullptr;
  SettingsDialog* settings_dialog_ = nullptr;
  PickerWindow* picker_ = nullptr;
  ResultsWindow* results_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* place_ = nullptr;  // where the outputs go
  QProgressBar* progress_ = nullptr;
  QToolButton* stop_ = nullptr;
  QMenu popup_;
  std::vector<std::string> arguments_;
  bool started_with_arguments_ = false;
  bool arguments_done_ = false;
  bool close_when_idle_ = false;  // a command-line start quits after its batch
  int exit_status_ = 0;
  bool hint_shown_ = false;
  bool loading_ = false;
  std::string last_reason_;
  ResultDetails details_;  // the reasons and files behind the results' lines
  int failures_ = 0;             // in the running batch
  bool failures_quiet_ = false;  // the user asked for no more failure boxes in this batch
  QElapsedTimer batch_clock_;
  qint64 waiting_ms_ = 0;  // of the batch's time, spent in the order dialog and the picker
  TaskbarProgress taskbar_;
  Instances instances_;
  // The window as the settings left it, to tell whether the user changed it.
  QRect initial_geometry_;
  Qt::WindowStates initial_state_;
  bool initial_recorded_ = false;
  bool frame_checked_ = false;
  SizeFitDialog* size_fit_ = nullptr;  // made when "指定…" is first chosen
  FormatQualityDialog* format_quality_ = nullptr;
  QMenu* preset_menu_ = nullptr;
};

}  // namespace velmora::gui
