#include "app/gui/settings_dialog.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

#include "app/gui/file_dialogs.h"
#include "app/send_to.h"
#include "base/paths.h"
#include "pipeline/output_naming.h"
#include "pipeline/writers.h"
#include "ui_settings_dialog.h"

namespace velmora::gui {

std::optional<std::string> FolderBrowser::Execute(QWidget* owner, const std::string& current) {
  QFileDialog dialog(owner);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  // The whole file system can be browsed; the dialog opens where the user
  // saves now, or at home.
  const QString start = QString::fromStdString(current);
  dialog.setDirectory(!start.isEmpty() && QDir(start).exists() ? start : QDir::homePath());
  dialog.setMinimumSize(371, 311);
  // Wide enough for a path in its address box; then as the user left it.
  if (store_)
    RestoreFileDialog(dialog, *store_, "folder_dialog", QSize(640, 440));
  else
    dialog.resize(640, 440);
  if (remembered_.isValid()) {
    dialog.move(remembered_.topLeft());
  } else {
    QRect place(QPoint(0, 0), dialog.size());
    if (QScreen* screen = QGuiApplication::primaryScreen()) place.moveCenter(screen->availableGeometry().center());
    dialog.move(place.topLeft());
  }
  const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  remembered_ = dialog.geometry();
  if (store_) KeepFileDialog(dialog, *store_, "folder_dialog");
  if (!chosen) return std::nullopt;
  return dialog.selectedFiles().front().toStdString();
}

SettingsDialog::SettingsDialog(Settings& settings, IniStore& store, std::string program_path, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::SettingsDialog>()),
      settings_(settings),
      store_(store),
      program_path_(std::move(program_path)) {
  ui_->setupUi(this);
  browser_.SetStore(&store_);
  setFixedSize(324, 535);
  auto& u = *ui_;
  const std::pair<QCheckBox*, bool Settings::*> boxes[] = {
      {u.A_dialog, &Settings::A_dialog}, {u.A_front, &Settings::A_front},     {u.A_clip, &Settings::A_clip},
      {u.A_delete, &Settings::A_delete}, {u.V_over, &Settings::V_over},       {u.V_adds, &Settings::V_adds},
      {u.V_olddate, &Settings::V_olddate}, {u.V_transparent, &Settings::V_transparent},
      {u.V_metadata, &Settings::V_metadata}, {u.V_profile, &Settings::keep_profile},
      {u.V_alpha, &Settings::keep_alpha}};
  for (const auto& [box, field] : boxes)
    connect(box, &QCheckBox::toggled, this, [this, field = field](bool on) { settings_.*field = on; });
  connect(u.A_send, &QCheckBox::toggled, this, [this](bool on) {
    settings_.A_send = on;
    UpdateSendToEntry(on, program_path_);
  });
  for (QRadioButton* radio : {u.S_sourcefile, u.S_app, u.S_folder})
    connect(radio, &QRadioButton::toggled, this, [this] { ApplyRadioRules(); });
  connect(u.S_folder_n, &QLineEdit::textChanged, this, [this](const QString& t) { settings_.S_folder_n = t.toStdString(); });
  connect(u.rename, &QLineEdit::textChanged, this, [this](const QString& t) { ShowRenameExample(t.toStdString()); });
  connect(u.Button1, &QPushButton::clicked, this, &SettingsDialog::ChooseFolder);
  connect(u.Button2, &QPushButton::clicked, this, &QDialog::accept);
  Load();
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::Load() {
  if (settings_.S_folder_n.empty()) settings_.S_folder_n = FolderOf(program_path_);
  LoadDialogSettings(store_, settings_);
  const Settings s = settings_;
  auto& u = *ui_;
  u.S_folder_n->setText(QString::fromStdString(s.S_folder_n));
  if (s.S_folder)
    u.S_folder->setChecked(true);
  else if (s.S_app)
    u.S_app->setChecked(true);
  else
    u.S_sourcefile->setChecked(true);
  u.A_dialog->setChecked(s.A_dialog);
  u.A_front->setChecked(s.A_front);
  // Loaded as ticked, the Send-To entry is written again at every start.
  u.A_send->setChecked(s.A_send);
  if (s.A_send) UpdateSendToEntry(true, program_path_);
  u.A_clip->setChecked(s.A_clip);
  u.A_delete->setChecked(s.A_delete);
  u.V_over->setChecked(s.V_over);
  u.V_adds->setChecked(s.V_adds);
  u.V_olddate->setChecked(s.V_olddate);
  u.V_transparent->setChecked(s.V_transparent);
  u.V_metadata->setChecked(s.V_metadata);
  u.V_profile->setChecked(s.keep_profile);
  u.V_alpha->setChecked(s.keep_alpha);
  u.rename->setText(QString::fromStdString(s.rename));
  ShowRenameExample(s.rename);
  ApplyRadioRules();
}

void SettingsDialog::ShowRenameExample(const std::string& pattern) {
  // A pattern that cannot name a file is not taken: the names stay as they were.
  const std::string problem = pattern.empty() ? std::string() : PatternProblem(pattern);
  if (problem.empty()) settings_.rename = pattern;
  Settings example = settings_;
  example.rename = pattern;
  // The example is written in the first ticked format (the first of all when none is).
  std::string extension = OutputsInBarOrder().front()->format().extension;
  for (const OutputRow* row : OutputsInBarOrder())
    if (settings_.*row->ticked) {
      extension = row->format().extension;
      break;
    }
  const std::string name = problem.empty()
                               ? FileNameOf(OutputPathFor(example, NamingContext{}, "IMG_0001.jpg", extension, false,
                                                          NameFields{1, 1920, 1280, "2026-12-09"}))
                               : std::string();
  ui_->RenameExample->setText(problem.empty() ? QCoreApplication::translate("SettingsDialog", "例: IMG_0001.jpg → %1").arg(QString::fromStdString(name))
                                              : QString::fromStdString(problem));
  ui_->RenameExample->setStyleSheet(problem.empty() ? QString() : QStringLiteral("color: #b00000"));
}

void SettingsDialog::ApplyRadioRules() {
  auto& u = *ui_;
  settings_.S_sourcefile = u.S_sourcefile->isChecked();
  settings_.S_app = u.S_app->isChecked();
  settings_.S_folder = u.S_folder->isChecked();
  // The folder text stays while its field is disabled.
  u.S_folder_n->setEnabled(settings_.S_folder);
  u.Button1->setEnabled(settings_.S_folder);
}

void SettingsDialog::ChooseFolder() {
  if (auto folder = browser_.Execute(this, settings_.S_folder_n)) TakeFolder(*folder);
}

void SettingsDialog::TakeFolder(const std::string& folder) {
  std::string text = folder;
  if (text.empty() || text.back() != '/') text += '/';
  ui_->S_folder_n->setText(QString::fromStdString(text));
}

void SettingsDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the main window by its inside, the same place every time
  // (move() would place the frame once there is one: a title bar lower).
  if (QWidget* owner = parentWidget()) {
    QRect inside = geometry();
    inside.moveCenter(owner->geometry().center());
    setGeometry(inside);
  }
}

void SettingsDialog::done(int result) {
  // The two ticks kept among the main window's additions ([Extra]) are
  // saved with the rest of this dialog's (which flushes), when it closes.
  store_.WriteBool("Extra", "keep_profile", settings_.keep_profile);
  store_.WriteBool("Extra", "keep_alpha", settings_.keep_alpha);
  store_.WriteString("Extra", "rename", settings_.rename);
  SaveDialogSettings(store_, settings_);
  QDialog::done(result);
  if (on_close_) on_close_();
}

}  // namespace velmora::gui
