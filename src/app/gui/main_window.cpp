#include "app/gui/main_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QRegularExpression>
#include <QFileInfo>
#include <QGridLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QScreen>
#include <QGuiApplication>
#include <QStatusBar>
#include <QThread>
#include <QEventLoop>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <QSpacerItem>
#include <algorithm>
#include <thread>

#include "app/gui/final_message.h"
#include "app/gui/format_quality_dialog.h"
#include "app/gui/order_dialog.h"
#include "app/gui/picker_window.h"
#include "app/gui/qt_clipboard.h"
#include "app/gui/file_dialogs.h"
#include "app/gui/results_window.h"
#include "app/gui/settings_dialog.h"
#include "app/presets.h"
#include "base/messages.h"
#include "base/version.h"
#include "formats/input_format.h"
#include "pipeline/writers.h"
#include "platform/platform.h"
#include "ui_main_window.h"

namespace velmora::gui {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// Message texts break lines with a line feed and a carriage return; a window
// shows one line break for either pair.
QString Display(const std::string& text) {
  QString t = Q(text);
  t.replace("\n\r", "\n");
  t.replace("\r\n", "\n");
  t.replace('\r', '\n');
  return t;
}

// The help file beside the program, or where an installation puts it: the
// English twin for a user whose language is neither Japanese nor unset.
QString HelpFile() {
  const std::string folder = platform::ProgramFolder();
  const std::string language = platform::MessageLanguage();
  const bool english = !language.empty() && language != "ja";
  for (const std::string& base : {folder + "help/", folder + "../share/velmora/help/"}) {
    if (english && platform::FileExists(base + "velmora.en.htm")) return Q(platform::LongPathOf(base + "velmora.en.htm"));
    if (platform::FileExists(base + "velmora.htm")) return Q(platform::LongPathOf(base + "velmora.htm"));
  }
  return Q(folder + "help/velmora.htm");
}

}  // namespace

void WidenForCaption(QMessageBox& box, const QString& caption) {
  // A message box is as wide as its text; the window manager then cuts a
  // longer caption ("Velm…mora"). The title bar's buttons and margins take
  // about 120 pixels beside the caption's own width.
  const int wanted = box.fontMetrics().horizontalAdvance(caption) + 120;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
    grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

MainWindow::MainWindow(Settings& settings, IniStore& store, const Loader& loader, Clipboard* clipboard,
                       bool show_hint)
    : ui_(std::make_unique<Ui::MainWindow>()), settings_(settings), store_(store) {
  ui_->setupUi(this);
  status_ = new QLabel(this);
  ui_->StatusBar1->addWidget(status_, 1);
  place_ = new QLabel(this);
  ui_->StatusBar1->addPermanentWidget(place_);
  progress_ = new QProgressBar(ui_->StatusBar1);
  progress_->setRange(0, 100);
  progress_->setTextVisible(true);
  progress_->setAlignment(Qt::AlignCenter);
  progress_->hide();
  stop_ = new QToolButton(ui_->StatusBar1);
  stop_->setText(QCoreApplication::translate("MainWindow", "中止"));
  stop_->setToolTip(QCoreApplication::translate("MainWindow", "変換を中止します (Esc)"));
  stop_->hide();
  connect(stop_, &QToolButton::clicked, this, &MainWindow::RequestStop);

  popup_.addAction(ui_->P1);
  popup_.addAction(ui_->O1);
  popup_.addAction(ui_->X1);
  connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { popup_.exec(mapToGlobal(at)); });

  // The hint comes before the window is shown, and only when there is no
  // settings file yet.
  if (show_hint && !store_.File().Exists()) {
    hint_shown_ = true;
    QMessageBox::information(nullptr, "Velmora", Display(QCoreApplication::translate("MainWindow", kFirstStartHint).toStdString()));
  }
  started_with_arguments_ = false;
  runner_ = std::make_unique<BatchRunner>(*this, clipboard, settings_, loader);
  runner_->SetOnIdle([this] {
    if (close_when_idle_) close();
  });
  // One source per core; the batch's thread commits them in order.
  BatchOptions options;
  options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  runner_->session().SetOptions(options);
  AddFormatBoxes();
  ConnectControls();
  LoadSettings();
  ui_->Panel1->installEventFilter(this);
  ui_->C_delay->installEventFilter(this);
  const auto open_dialog = [this, &loader] {
    PictureOpenDialog dialog(this, loader);
    RestoreFileDialog(dialog, store_, "open_dialog", QSize(960, 560));
    const bool chosen = dialog.exec() == QDialog::Accepted;
    KeepFileDialog(dialog, store_, "open_dialog");
    std::vector<std::string> files;
    if (chosen)
      for (const QString& file : dialog.selectedFiles()) files.push_back(S(file));
    if (!files.empty()) runner_->RunBatch(files);
  };
  connect(ui_->Open1, &QAction::triggered, this, open_dialog);
  // A folder, converted as a dropped one is (its subfolders per the settings).
  connect(ui_->OpenFolder1, &QAction::triggered, this, [this] {
    QFileDialog dialog(this, QCoreApplication::translate("MainWindow", "フォルダを開く"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    RestoreFileDialog(dialog, store_, "folder_dialog", QSize(640, 440));
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    KeepFileDialog(dialog, store_, "folder_dialog");
    if (chosen) runner_->RunBatch({S(dialog.selectedFiles().front())});
  });
}

MainWindow::~MainWindow() { runner_->Shutdown(); }

void MainWindow::SetWindows(OrderDialog* order, SettingsDialog* settings, PickerWindow* picker,
                            ResultsWindow* results) {
  order_ = order;
  settings_dialog_ = settings;
  picker_ = picker;
  results_ = results;
}

QString MainWindow::OpenFilter() {
  // "description|patterns|description|patterns..." becomes
  // "description (patterns);;...", patterns separated by blanks.
  // "description|patterns|description|patterns...": the first description in
  // the user's language, the rest from the formats' descriptors.
  const QStringList parts =
      (QCoreApplication::translate("MainWindow", "対応可能なファイル") + QString::fromStdString(OpenDialogFilter())).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    patterns = patterns.trimmed();
    QString description = parts[i];
    // Descriptions that already show their pattern keep it once.
    const int paren = description.indexOf(" (");
    if (paren >= 0) description = description.left(paren);
    filters << description + " (" + patterns + ")";
  }
  filters << QCoreApplication::translate("MainWindow", "すべてのファイル") + " (*)";
  return filters.join(";;");
}

QCheckBox* MainWindow::FormatBox(const OutputRow& row) const {
  return findChild<QCheckBox*>(QString("C_") + row.format().extension);
}

void MainWindow::AddFormatBoxes() {
  // An output format added to the writers' table gets its box in the
  // additions bar, before 可逆, unless the form already has one.
  for (const OutputRow* row : OutputsInBarOrder()) {
    if (row->bar_position < 8 || FormatBox(*row)) continue;
    const OutputFormat& format = row->format();
    auto* box = new QCheckBox(QString::fromUtf8(format.extension), ui_->Extra_Panel);
    box->setObjectName(QString("C_") + format.extension);
    box->setToolTip(QCoreApplication::translate("MainWindow", "%1 で書き出します").arg(QString::fromUtf8(format.name)));
    ui_->extraLayout->insertWidget(ui_->extraLayout->indexOf(ui_->C_lossless), box);
  }
}

void MainWindow::ConnectControls() {
  auto& u = *ui_;
  std::vector<std::pair<QCheckBox*, bool Settings::*>> boxes = {
      {u.C_Trans, &Settings::C_Trans},
      {u.C_Multipdf, &Settings::C_Multipdf},
      {u.C_animegif, &Settings::C_animegif},
      {u.C_lossless, &Settings::C_lossless}};
  for (const OutputRow& row : OutputTable())
    if (QCheckBox* box = FormatBox(row)) boxes.emplace_back(box, row.ticked);
  for (const auto& [box, field] : boxes) {
    connect(box, &QCheckBox::toggled, this, [this, field = field](bool on) {
      settings_.*field = on;
      ApplyEnablingRules();
    });
  }
  connect(u.C_PixelColor, &QComboBox::currentIndexChanged, this, [this](int i) { settings_.C_PixelColor = i; });
  connect(u.O_icosize, &QComboBox::currentIndexChanged, this, [this](int i) { settings_.O_icosize = i; });
  connect(u.O_gsize, &QComboBox::activated, this, [this](int i) {
    // "指定…" asks for the size each time it is chosen; cancelled, the
    // list goes back to what it was.
    if (i != Settings::kSizeFitIndex) return;
    if (!size_fit_) size_fit_ = new SizeFitDialog(this);
    if (size_fit_->Ask(settings_))
      settings_.O_gsize = i;
    else
      ui_->O_gsize->setCurrentIndex(settings_.O_gsize);
    ShowSizeFit();
  });
  connect(u.O_gsize, &QComboBox::currentIndexChanged, this, [this](int i) {
    // The size entry counts once its size is given (or when it is loaded).
    if (i != Settings::kSizeFitIndex || loading_) settings_.O_gsize = i;
    ShowSizeFit();
  });
  connect(u.C_delay, &QLineEdit::textChanged, this, [this](const QString& t) { settings_.C_delay = S(t); });
  // The quality twins: the track bar and the list follow each other.
  connect(u.O_quality_t, &QSlider::valueChanged, this, [this](int v) {
    settings_.O_quality_t = v;
    if (ui_->O_quality_c->currentIndex() != v) ui_->O_quality_c->setCurrentIndex(v);
  });
  connect(u.O_quality_c, &QComboBox::currentIndexChanged, this, [this](int i) {
    settings_.O_quality_c = i;
    if (i >= 0 && ui_->O_quality_t->value() != i) ui_->O_quality_t->setValue(i);
  });
  connect(u.N3, &QAction::triggered, this, &MainWindow::ShowResultsWindow);
  connect(u.Exit1, &QAction::triggered, this, &QWidget::close);
  connect(u.N2, &QAction::triggered, this, &MainWindow::CaptureClipboard);
  connect(u.About2, &QAction::triggered, this, &MainWindow::ShowSettingsDialog);
  connect(u.E1, &QAction::triggered, this, &MainWindow::ToggleEffectBar);
  connect(u.P1, &QAction::triggered, this, &MainWindow::ToggleEffectBar);
  connect(u.O2, &QAction::triggered, this, &MainWindow::ToggleOptionBar);
  connect(u.O1, &QAction::triggered, this, &MainWindow::ToggleOptionBar);
  connect(u.X2, &QAction::triggered, this, &MainWindow::ToggleExtraBar);
  connect(u.X1, &QAction::triggered, this, &MainWindow::ToggleExtraBar);
  connect(u.E_rotate, &QComboBox::currentIndexChanged, this, [this](int i) { settings_.rotate = 90 * std::max(i, 0); });
  connect(u.E_flip, &QComboBox::currentIndexChanged, this, [this](int i) { settings_.flip = i == 1 ? 'h' : i == 2 ? 'v' : 0; });
  // The additions to the ｵﾌﾟｼｮﾝ menu, after the described entries.
  u.Help2->addSeparator();
  QAction* quality = u.Help2->addAction(QCoreApplication::translate("MainWindow", "形式ごとの画質(&Q)..."));
  quality->setObjectName("FormatQuality1");
  connect(quality, &QAction::triggered, this, &MainWindow::ShowFormatQuality);
  preset_menu_ = u.Help2->addMenu(QCoreApplication::translate("MainWindow", "プリセット(&R)"));
  preset_menu_->setObjectName("Preset1");
  connect(preset_menu_, &QMenu::aboutToShow, this, &MainWindow::FillPresetMenu);
  FillPresetMenu();
  connect(u.HowtoUseHelp1, &QAction::triggered, this, &MainWindow::OpenHelp);
  connect(u.About1, &QAction::triggered, this, &MainWindow::ShowAbout);
}

void MainWindow::ApplyEnablingRules() {
  auto& u = *ui_;
  // An option is enabled while a ticked format takes it. Disabling never
  // unticks: the conversion honours a ticked dependent only together with
  // its format.
  bool quality = false, transparency = false, icon_size = false, lossless = false;
  for (const OutputRow& row : OutputTable()) {
    if (!(settings_.*row.ticked)) continue;
    const OutputFormat& format = row.format();
    quality |= format.takes_quality;
    transparency |= format.takes_transparency;
    icon_size |= format.takes_icon_size;
    lossless |= format.takes_lossless;
  }
  for (QWidget* w : {static_cast<QWidget*>(u.O_quality_c), static_cast<QWidget*>(u.O_quality_t),
                     static_cast<QWidget*>(u.Label3), static_cast<QWidget*>(u.Label4)})
    w->setEnabled(quality);
  u.C_Trans->setEnabled(transparency);
  for (QWidget* w : {static_cast<QWidget*>(u.C_animegif), static_cast<QWidget*>(u.C_delay),
                     static_cast<QWidget*>(u.Label1)})
    w->setEnabled(settings_.C_gif);
  u.O_icosize->setEnabled(icon_size);
  u.Label2->setEnabled(icon_size);
  u.C_Multipdf->setEnabled(settings_.C_pdf);
  u.C_lossless->setEnabled(lossless);
}

void MainWindow::LoadSettings() {
  LoadMainSettings(store_, settings_);
  const Settings& s = settings_;
  // "Normal" restores the place and size; anything else keeps the layout's.
  if (s.window_state == "Normal") {
    move(s.pos_x, s.pos_y);
    resize(s.size_x, s.size_y);
  } else {
    move(235, 288);
  }
  PlaceOnScreen();
  ShowSettings();
}

void MainWindow::ShowSettings() {
  loading_ = true;
  const Settings s = settings_;  // the handlers below write back what they set
  auto& u = *ui_;
  for (const OutputRow& row : OutputTable())
    if (QCheckBox* box = FormatBox(row)) box->setChecked(s.*row.ticked);
  u.Effect_Panel->setVisible(s.effect_panel);
  u.P1->setChecked(s.effect_panel);
  u.E1->setChecked(s.effect_panel);
  u.C_Trans->setChecked(s.C_Trans);
  u.C_Multipdf->setChecked(s.C_Multipdf);
  u.C_animegif->setChecked(s.C_animegif);
  u.C_PixelColor->setCurrentIndex(s.C_PixelColor);
  u.C_delay->setText(Q(s.C_delay));
  u.option_Panel->setVisible(s.option_panel);
  u.O1->setChecked(s.option_panel);
  u.O2->setChecked(s.option_panel);
  u.O_quality_c->setCurrentIndex(s.O_quality_c);
  u.O_quality_t->setValue(s.O_quality_t);
  u.O_icosize->setCurrentIndex(s.O_icosize);
  u.O_gsize->setCurrentIndex(s.O_gsize);
  ShowSizeFit();
  ShowOutputPlace();
  u.Extra_Panel->setVisible(s.extra_panel);
  u.X1->setChecked(s.extra_panel);
  u.X2->setChecked(s.extra_panel);
  KeepCaptionWhole();
  u.C_lossless->setChecked(s.C_lossless);
  u.E_rotate->setCurrentIndex(s.rotate / 90);
  u.E_flip->setCurrentIndex(s.flip == 'h' ? 1 : s.flip == 'v' ? 2 : 0);
  settings_ = s;
  ApplyEnablingRules();
  loading_ = false;
}

void MainWindow::ShowFormatQuality() {
  if (!format_quality_) format_quality_ = new FormatQualityDialog(this);
  format_quality_->Ask(settings_);
}

void MainWindow::FillPresetMenu() {
  preset_menu_->clear();
  QAction* save = preset_menu_->addAction(QCoreApplication::translate("MainWindow", "今の設定をプリセットとして保存(&S)..."));
  save->setObjectName("SavePreset1");
  connect(save, &QAction::triggered, this, [this] {
    // Asked again, with why, until the name can name a preset or the user cancels.
    QString label = QCoreApplication::translate("MainWindow", "プリセットの名前:");
    QString name;
    for (;;) {
      bool ok = false;
      name = QInputDialog::getText(this, QCoreApplication::translate("MainWindow", "プリセットの保存"), label,
                                   QLineEdit::Normal, name, &ok)
                 .trimmed();
      if (!ok) return;
      const std::string why = PresetProblem(name.toStdString());
      if (why.empty()) break;
      label = QString::fromStdString(why) + "\n" + QCoreApplication::translate("MainWindow", "プリセットの名前:");
    }
    SavePreset(name.toStdString());
  });
  const std::vector<std::string> names = PresetNames();
  if (!names.empty()) preset_menu_->addSeparator();
  for (const std::string& name : names) {
    QAction* load = preset_menu_->addAction(QString::fromStdString(name));
    connect(load, &QAction::triggered, this, [this, name] { LoadPreset(name); });
  }
}

bool MainWindow::LoadPreset(const std::string& name) {
  IniStore preset;
  preset.FileName = PresetPath(name);
  if (!PresetProblem(name).empty() || !platform::FileExists(preset.FileName)) return false;
  // What the preset says; the window keeps its place, its bars and its
  // save folder's fallback as they are.
  Settings loaded = settings_;
  LoadMainSettings(preset, loaded);
  LoadDialogSettings(preset, loaded);
  loaded.pos_x = settings_.pos_x, loaded.pos_y = settings_.pos_y;
  loaded.size_x = settings_.size_x, loaded.size_y = settings_.size_y;
  loaded.window_state = settings_.window_state;
  loaded.effect_panel = settings_.effect_panel, loaded.option_panel = settings_.option_panel;
  loaded.extra_panel = settings_.extra_panel;
  settings_ = loaded;
  ShowSettings();
  SetStatusText(QCoreApplication::translate("MainWindow", "プリセット「%1」を読み込みました").arg(QString::fromStdString(name)).toStdString());
  return true;
}

bool MainWindow::SavePreset(const std::string& name) {
  if (const std::string why = PresetProblem(name); !why.empty()) {
    SetStatusText(why);
    return false;
  }
  IniStore preset;
  preset.FileName = PresetPath(name);
  SaveDialogSettings(preset, settings_);
  SaveMainSettings(preset, settings_, /*window=*/false);
  std::string error;
  if (!preset.Flush(&error)) {
    QMessageBox::warning(this, "Velmora", Q(error));
    return false;
  }
  SetStatusText(QCoreApplication::translate("MainWindow", "プリセット「%1」を保存しました").arg(QString::fromStdString(name)).toStdString());
  return true;
}

void MainWindow::SaveSettings() {
  // The window's keys are written back as they were read unless the window
  // itself changed (the console program shares the file), or the state read
  // is not the window's (a "Min" start leaves the window as it was laid out).
  const std::string state = isMaximized() ? "Max" : isMinimized() ? "Min" : "Normal";
  const bool changed =
      initial_recorded_ && (windowState() != initial_state_ || (!isMaximized() && geometry() != initial_geometry_));
  const std::string stored = store_.ReadString("Window", "Window_State", "");
  if (changed || stored.empty() || (initial_recorded_ && stored != state)) {
    settings_.pos_x = x();
    settings_.pos_y = y();
    settings_.size_x = width();
    settings_.size_y = height();
    settings_.window_state = state;
    SaveMainSettings(store_, settings_, true);
  } else {
    SaveMainSettings(store_, settings_, false);
  }
}

void MainWindow::PlaceOnScreen() {
  // Beside another instance's window rather than on it, counted from where
  // a window really stands: a stored place off the screen is brought onto
  // it first, as the other instance's was. When the screen's edge pushes the
  // cascade back onto a window, it steps up and left instead.
  const QRect wanted = FittedOnScreen(QRect(pos(), size()));
  const auto [x, y] = instances_.FreePlace(wanted.x(), wanted.y());
  QRect place = FittedOnScreen(QRect(QPoint(x, y), size()));
  const auto taken = [this](const QRect& r) { return instances_.FreePlace(r.x(), r.y()) != std::pair{r.x(), r.y()}; };
  for (int step = 1; step < 64 && taken(place); ++step)
    place = FittedOnScreen(QRect(wanted.topLeft() - QPoint(24, 24) * step, size()));
  move(place.topLeft());
  resize(place.size());
}

void MainWindow::FitOnScreen(QRect place) {
  place = FittedOnScreen(place);
  move(place.topLeft());
  resize(place.size());
}

QRect MainWindow::FittedOnScreen(QRect place) const {
  // Wholly inside a screen's available area, frame included: the one the
  // window is mostly on, else the primary one; moved first, then shrunk if
  // it must be. Before the window manager has framed the window its frame
  // is not known: a title bar's height is kept free above it meanwhile.
  QScreen* screen = QGuiApplication::screenAt(place.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    if (frame.isNull()) frame = QMargins(0, qRound(32 / screen->devicePixelRatio()), 0, 0);
    const QRect room = screen->availableGeometry().marginsRemoved(frame);
    place.setSize(place.size().boundedTo(room.size()).expandedTo(minimumSize()));
    // place holds the frame's corner (where move() puts it) and the inside's size.
    place.moveLeft(std::clamp(place.left(), room.left() - frame.left(),
                              std::max(room.left(), room.right() - place.width() + 1) - frame.left()));
    place.moveTop(std::clamp(place.top(), room.top() - frame.top(),
                             std::max(room.top(), room.bottom() - place.height() + 1) - frame.top()));
  }
  return place;
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  if (isVisible()) instances_.Publish(x(), y(), settings_.A_front);
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) Activate();
}

void MainWindow::Activate() {
  if (!initial_recorded_) {
    initial_recorded_ = true;
    initial_geometry_ = geometry();
    initial_state_ = windowState();
  }
  ApplyTopmost();
  FitProgressBar();
  ScheduleArguments();
}

void MainWindow::ScheduleArguments() {
  if (arguments_done_ || arguments_.empty()) return;
  arguments_done_ = true;
  // After the activation returns: the batch may show modal windows.
  QTimer::singleShot(0, this, &MainWindow::ProcessArguments);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  instances_.Publish(x(), y(), settings_.A_front);
  // Once framed, the real frame decides; a place the program corrects is
  // not one the user chose.
  if (!event->spontaneous() && !frame_checked_) {
    frame_checked_ = true;
    QTimer::singleShot(250, this, [this] {
      if (isMaximized() || isMinimized() || !windowHandle() || windowHandle()->frameMargins().isNull()) return;
      const QRect before = geometry();
      FitOnScreen(QRect(pos(), size()));
      if (initial_recorded_ && initial_geometry_ == before) initial_geometry_ = geometry();
    });
  }
  // A window that is never made active (no window manager, or one that
  // refuses to move the focus to a program started from a file manager)
  // still converts its arguments and quits.
  if (!event->spontaneous()) ScheduleArguments();
}

void MainWindow::ProcessArguments() {
  std::vector<std::string> list;
  for (const auto& argument : arguments_) {
    started_with_arguments_ = true;
    list.push_back(platform::LongPathOf(argument));  // an empty result stays as an entry
  }
  if (!list.empty() && !settings_.AnyFormat()) {
    // The window closes before anyone reads its status bar: a start from a
    // file manager with nothing ticked would otherwise end without a word.
    if (!settings_.A_dialog)
      QMessageBox::information(this, "Velmora", Q(Tr(kNoFormat)));
    exit_status_ = 1;
  } else if (!list.empty()) {
    runner_->RunBatch(list);
  }
  if (!started_with_arguments_) return;
  if (runner_->Busy())
    close_when_idle_ = true;
  else
    close();
}

void MainWindow::ApplyTopmost() {
  const bool front = settings_.A_front;
  if (front == windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return;
  const Qt::WindowFlags flags = front ? windowFlags() | Qt::WindowStaysOnTopHint : windowFlags() & ~Qt::WindowStaysOnTopHint;
  if (QWindow* window = windowHandle()) {
    // Told to the window as it is: setWindowFlags would make the window
    // anew, which hides it and lets the window manager place it again.
    overrideWindowFlags(flags);
    window->setFlags(flags);
  } else {
    setWindowFlags(flags);
  }
}

void MainWindow::FitProgressBar() {
  QStatusBar* bar = ui_->StatusBar1;
  const int button = stop_->isVisible() ? stop_->sizeHint().width() : 0;
  progress_->setGeometry(0, 3, bar->width() - button, std::max(1, bar->height() - 3));
  stop_->setGeometry(bar->width() - button, 3, button, std::max(1, bar->height() - 3));
  progress_->raise();
  stop_->raise();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FitProgressBar();
  if (place_) ShowOutputPlace();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closing stops the batch before its next file, as the stop button does;
  // the window closes once the file in hand is done (the batch's end comes
  // back as Idle). Nothing waits meanwhile: drops and questions find the
  // closing state.
  if (runner_->Busy()) runner_->StopForClosing();
  // Only a batch already running keeps the window a moment (the queued
  // ones are dropped).
  if (runner_->Busy()) {
    close_when_idle_ = true;
    event->ignore();
    return;
  }
  SaveSettings();
  event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && progress_->isVisible()) {
    RequestStop();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->C_delay && event->type() == QEvent::KeyPress) {
    // Only digits and backspace are typed; keys without text (arrows) and
    // shortcuts (pasting is not filtered) pass.
    auto* key = static_cast<QKeyEvent*>(event);
    const QString text = key->text();
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    if (key->key() == Qt::Key_Backspace) return false;
    if (text.isEmpty() || !text[0].isPrint()) return false;
    return !(text.size() == 1 && text[0] >= '0' && text[0] <= '9');
  }
  if (watched == ui_->Panel1) {
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
      auto* drag = static_cast<QDropEvent*>(event);
      if (drag->mimeData()->hasUrls()) {
        drag->acceptProposedAction();
        HighlightDropPanel(true);
      }
      return true;
    }
    if (event->type() == QEvent::DragLeave) {
      HighlightDropPanel(false);
      return true;
    }
    if (event->type() == QEvent::Drop) {
      HighlightDropPanel(false);
      auto* drop = static_cast<QDropEvent*>(event);
      std::vector<std::string> paths;
      for (const QUrl& url : drop->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(S(url.toLocalFile()));
      drop->acceptProposedAction();
      // A failure in the handler is shown; the drop is finished either way.
      try {
        DropFiles(paths);
      } catch (const std::exception& e) {
        QMessageBox::critical(this, "Velmora", Q(e.what()));
      }
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::HighlightDropPanel(bool on) {
  // Files held over the panel light it, so the user sees where they go.
  QWidget* panel = ui_->Panel1;
  if (panel->property("dropHighlight").toBool() == on) return;
  panel->setProperty("dropHighlight", on);
  QPalette p = palette();
  if (on) p.setColor(QPalette::Window, palette().color(QPalette::Highlight).lighter(170));
  panel->setAutoFillBackground(on);
  panel->setPalette(p);
}

void MainWindow::DropFiles(const std::vector<std::string>& paths) {
  if (!paths.empty()) runner_->RunBatch(paths);
}

void MainWindow::ToggleEffectBar() {
  const bool visible = !ui_->Effect_Panel->isVisibleTo(this);
  ui_->Effect_Panel->setVisible(visible);
  ui_->P1->setChecked(visible);
  ui_->E1->setChecked(visible);
  settings_.effect_panel = visible;
  KeepCaptionWhole();
}

void MainWindow::ToggleOptionBar() {
  const bool visible = !ui_->option_Panel->isVisibleTo(this);
  ui_->option_Panel->setVisible(visible);
  ui_->O1->setChecked(visible);
  ui_->O2->setChecked(visible);
  settings_.option_panel = visible;
  KeepCaptionWhole();
}

void MainWindow::ShowSizeFit() {
  // The chosen size shows in the list's entry itself ("指定: 1920×1080")
  // and in its tip; without one the entry asks ("指定…").
  QString tip = QCoreApplication::translate("MainWindow", "書き出す画像の大きさ");
  QString entry = QCoreApplication::translate("MainWindow", "指定…");
  const bool given = settings_.long_edge > 0 || !settings_.size_fit.empty();
  if (settings_.O_gsize == Settings::kSizeFitIndex && given) {
    QString size = settings_.long_edge > 0 ? QCoreApplication::translate("MainWindow", "長辺 %1").arg(settings_.long_edge)
                                           : QString::fromStdString(settings_.size_fit);
    size.replace(QRegularExpression("^(\\d+)x(\\d+)$"), "\\1×\\2");
    tip += " (" + size + ")";
    entry = QCoreApplication::translate("MainWindow", "指定: %1").arg(size);
  }
  ui_->O_gsize->setItemText(Settings::kSizeFitIndex, entry);
  // The list grows to show the chosen size whole, and the window's least
  // width with it.
  ui_->O_gsize->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  ui_->O_gsize->setMinimumWidth(settings_.O_gsize == Settings::kSizeFitIndex ? ui_->O_gsize->sizeHint().width() : 0);
  KeepCaptionWhole();
  ui_->O_gsize->setToolTip(tip);
}

void MainWindow::KeepCaptionWhole() {
  // However many bars are shown, the drop panel keeps room for its caption:
  // the window's least size grows with the bars (never below the described
  // 365 x 170).
  ui_->Panel1Caption->setMinimumHeight(ui_->Panel1Caption->sizeHint().height());
  layout()->invalidate();
  const QSize least = layout()->minimumSize();
  setMinimumSize(std::max(365, least.width()), std::max(170, least.height()));
}

void MainWindow::ShowOutputPlace() {
  // Where this batch's files will go, said before it runs.
  QString place;
  if (settings_.S_app)
    place = QCoreApplication::translate("MainWindow", "保存先: プログラムのフォルダ");
  else if (settings_.S_folder)
    place = QCoreApplication::translate("MainWindow", "保存先: %1").arg(Q(settings_.S_folder_n));
  else
    place = QCoreApplication::translate("MainWindow", "保存先: 元ファイルと同じフォルダ");
  // A long folder loses its middle, never its end.
  place_->setText(place_->fontMetrics().elidedText(place, Qt::ElideMiddle, std::max(120, width() / 2)));
  place_->setToolTip(place);
}

void MainWindow::ToggleExtraBar() {
  const bool visible = !ui_->Extra_Panel->isVisibleTo(this);
  ui_->Extra_Panel->setVisible(visible);
  ui_->X1->setChecked(visible);
  ui_->X2->setChecked(visible);
  settings_.extra_panel = visible;
  KeepCaptionWhole();
}

void MainWindow::Open() { ui_->Open1->trigger(); }

void MainWindow::ShowResultsWindow() {
  if (results_) results_->exec();
}

void MainWindow::ShowSettingsDialog() {
  if (settings_dialog_) settings_dialog_->exec();
  ShowOutputPlace();
}

void MainWindow::OpenHelp() {
  const QString file = HelpFile();
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(file))) return;
  QMessageBox box(QMessageBox::Information, "Velmora",
                  QCoreApplication::translate("MainWindow", "ヘルプを開けませんでした。HTML を表示するブラウザーが見つかりません:\n%1").arg(file),
                  QMessageBox::Ok, this);
  box.exec();
}

void MainWindow::ShowAbout() {
  QMessageBox box(this);
  const QString caption = QCoreApplication::translate("MainWindow", "Velmoraのバージョン情報");
  box.setWindowTitle(caption);
  box.setIconPixmap(QApplication::windowIcon().pixmap(48, 48));
  box.setText(kVersionText);
  box.setInformativeText(QCoreApplication::translate("MainWindow", "画像を一括して変換します。\nbmp, jpg, png, mag, gif, ico, pdf, tif"));
  WidenForCaption(box, caption);
  box.exec();
}

void MainWindow::CaptureClipboard() { runner_->CaptureClipboard(); }

void MainWindow::ShowMessage(MessageKind kind, const std::string& text) {
  if (kind == MessageKind::kFailure) {
    ShowFailure(text);
    return;
  }
  QString shown = Display(text);
  if (kind == MessageKind::kFinal && failures_ > 0 && failures_quiet_)
    shown += "\n" + QCoreApplication::translate("MainWindow", "変換できなかったファイル: %1 件").arg(failures_);
  QStringList lines = shown.split('\n');
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  if (kind == MessageKind::kFinal && TooTallForABox(this, static_cast<int>(lines.size()))) {
    const QString heading = lines.takeFirst();
    FinalMessage box(this, heading, lines, results_ ? results_->List()->count() : static_cast<int>(lines.size()),
                     [this] { ShowResultsWindow(); });
    RaiseAboveOthers(box);
    box.exec();
    return;
  }
  QMessageBox box(QMessageBox::Information, "Velmora", shown, QMessageBox::Ok, this);
  RaiseAboveOthers(box);
  box.exec();
}

void MainWindow::ShowFailure(const std::string& text) {
  // Once the user asked for quiet, the batch's further failures only go to
  // the results list.
  if (failures_quiet_) return;
  QMessageBox box(QMessageBox::Information, "Velmora", Display(text), QMessageBox::Ok, this);
  if (!last_reason_.empty()) box.setInformativeText(Q(last_reason_));
  auto* quiet = new QCheckBox(QCoreApplication::translate("MainWindow", "このバッチでは以降表示しない"), &box);
  box.setCheckBox(quiet);
  RaiseAboveOthers(box);
  box.exec();
  failures_quiet_ = quiet->isChecked();
}

void MainWindow::RaiseAboveOthers(QWidget& box) const {
  // Above a first instance that stays on top, so that a second one's
  // questions are seen.
  if (settings_.A_front || instances_.OtherOnTop()) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

bool MainWindow::ConfirmOverwrite(const std::string& text) {
  QMessageBox box(QMessageBox::Question, QCoreApplication::translate("MainWindow", "確認"), Display(text), QMessageBox::NoButton, this);
  QPushButton* ok = box.addButton("OK", QMessageBox::AcceptRole);
  box.addButton(QCoreApplication::translate("MainWindow", "キャンセル"), QMessageBox::RejectRole);
  QElapsedTimer asked;
  asked.start();
  box.exec();
  waiting_ms_ += asked.elapsed();
  return box.clickedButton() == ok;
}

void MainWindow::RunOrderDialog(OrderDialogData& data) {
  QElapsedTimer asked;
  asked.start();
  if (order_) order_->Run(data);
  waiting_ms_ += asked.elapsed();
}

std::optional<PickerClick> MainWindow::PickTransparent(const Bitmap& loaded) {
  QElapsedTimer asked;
  asked.start();
  std::optional<PickerClick> click = picker_ ? picker_->Pick(loaded) : std::nullopt;
  waiting_ms_ += asked.elapsed();
  return click;
}

void MainWindow::RequestStop() {
  // Said at once: the batch stops between two files, which may take a while.
  runner_->RequestStop();
  stop_->setEnabled(false);
  stop_->setText(QCoreApplication::translate("MainWindow", "中止しています…"));
  status_->setText(QCoreApplication::translate("MainWindow", "中止しています…"));
  FitProgressBar();
}

void MainWindow::SetStatusText(const std::string& text) { status_->setText(Q(text)); }
std::string MainWindow::StatusText() const { return S(status_->text()); }
void MainWindow::SetDropCaption(const std::string& text) { ui_->Panel1Caption->setText(Q(text)); }

void MainWindow::ShowProgress(bool visible) {
  // A batch starts from nothing: no count or time of the last one shows.
  progress_->setValue(0);
  progress_->setFormat(QString());
  stop_->setEnabled(true);
  stop_->setText(QCoreApplication::translate("MainWindow", "中止"));
  progress_->setVisible(visible);
  stop_->setVisible(visible);
  place_->setVisible(!visible);  // the progress takes its room while a batch runs
  if (visible) batch_clock_.start(), waiting_ms_ = 0;
  FitProgressBar();
  taskbar_.Show(visible, 0);
}

void MainWindow::SetProgressMax(int max) {
  progress_->setMaximum(std::max(max, 0));
  UpdateProgressText();
}

void MainWindow::SetProgressPosition(int position) {
  progress_->setValue(std::min(position, progress_->maximum()));
  UpdateProgressText();
}

void MainWindow::StepProgress() {
  progress_->setValue(std::min(progress_->value() + 1, progress_->maximum()));
  UpdateProgressText();
  progress_->repaint();
}

void MainWindow::UpdateProgressText() {
  const int done = progress_->value(), all = progress_->maximum();
  QString text = QString("%1 / %2").arg(done).arg(all);
  // Once a file or two is done and a few seconds have passed, the pace so
  // far tells how long the rest takes.
  // Only the time spent converting: not while a dialog waited for the user.
  const qint64 elapsed = batch_clock_.isValid() ? std::max<qint64>(0, batch_clock_.elapsed() - waiting_ms_) : 0;
  if (done > 0 && done < all && elapsed >= 2000) {
    const qint64 left = elapsed * (all - done) / done / 1000;
    text += "  " + (left >= 60 ? QCoreApplication::translate("MainWindow", "残り約 %1 分 %2 秒").arg(left / 60).arg(left % 60)
                               : QCoreApplication::translate("MainWindow", "残り約 %1 秒").arg(left));
  }
  progress_->setFormat(text);
  if (all > 0) taskbar_.Show(true, static_cast<double>(done) / all);
}

bool MainWindow::Busy() const { return runner_->Busy(); }

bool MainWindow::WaitUntilIdle(int timeout_ms) {
  if (!Busy()) return true;
  QEventLoop loop;
  QTimer timeout;
  timeout.setSingleShot(true);
  connect(runner_.get(), &BatchRunner::Idle, &loop, &QEventLoop::quit);
  connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
  timeout.start(timeout_ms);
  loop.exec();
  return !Busy();
}

// The batch runs on its own thread (BatchRunner): the window's events never wait.
void MainWindow::ProcessPendingEvents() {}

void MainWindow::ClearResults() {
  // A batch starts: its failures are shown again and counted afresh.
  failures_ = 0;
  failures_quiet_ = false;
  details_ = ResultDetails{};
  if (results_) results_->Clear();
}

void MainWindow::SetResults(const std::vector<std::string>& lines) {
  if (results_) results_->SetLines(lines, details_);
}

void MainWindow::LogFailure(const std::string& source, const std::string& reason) {
  last_reason_ = reason;
  ++failures_;
  std::string& reasons = details_.reasons[source];
  // The same reason for several outputs of one source is said once.
  if (reasons.find(reason) == std::string::npos) reasons += (reasons.empty() ? "" : "; ") + reason;
}

void MainWindow::SourceDone(const SourceReport& report) {
  for (const auto& output : report.outputs) details_.outputs.insert(output.path);
}

}  // namespace velmora::gui
