#include "app/gui/size_fit_dialog.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "image/prepare.h"
#include "pipeline/settings.h"

namespace velmora::gui {

SizeFitDialog::SizeFitDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("SizeFitDialog", "画像サイズ指定"));
  fit_ = new QLineEdit(this);
  fit_->setObjectName("fit");
  fit_->setPlaceholderText("1920x1080, 800, x600, 50%");
  fit_->setToolTip(QCoreApplication::translate("SizeFitDialog", "幅x高さ (その中に収める)、幅だけ、x高さ、または 50% のような割合。縦横比は保ちます"));
  long_edge_ = new QSpinBox(this);
  long_edge_->setObjectName("long_edge");
  long_edge_->setRange(0, 1 << 20);
  long_edge_->setSpecialValueText(QCoreApplication::translate("SizeFitDialog", "使わない"));
  long_edge_->setToolTip(QCoreApplication::translate("SizeFitDialog", "長いほうの辺のピクセル数。指定すると上の大きさより優先します"));
  enlarge_ = new QCheckBox(QCoreApplication::translate("SizeFitDialog", "小さい画像は拡大する"), this);
  enlarge_->setObjectName("enlarge");
  enlarge_->setToolTip(QCoreApplication::translate("SizeFitDialog", "指定より小さい画像も指定の大きさまで拡大します"));
  mode_ = new QComboBox(this);
  mode_->setObjectName("fit_mode");
  mode_->addItems({QCoreApplication::translate("SizeFitDialog", "枠の内側に収める"), QCoreApplication::translate("SizeFitDialog", "枠を覆って中央を切り抜く"), QCoreApplication::translate("SizeFitDialog", "枠に合わせて引き伸ばす")});
  mode_->setToolTip(QCoreApplication::translate("SizeFitDialog", "幅x高さを指定したときの合わせ方。切り抜くとちょうどその大きさのサムネイルになります"));
  problem_ = new QLabel(this);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setToolTip(QCoreApplication::translate("SizeFitDialog", "この大きさで変換します"));
  buttons_->button(QDialogButtonBox::Cancel)->setToolTip(QCoreApplication::translate("SizeFitDialog", "大きさを変えずに閉じます"));
  auto* form = new QFormLayout;
  form->addRow(QCoreApplication::translate("SizeFitDialog", "大きさ"), fit_);
  form->addRow(QCoreApplication::translate("SizeFitDialog", "合わせ方"), mode_);
  form->addRow(QCoreApplication::translate("SizeFitDialog", "長辺"), long_edge_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(enlarge_);
  layout->addWidget(problem_);
  layout->addWidget(buttons_);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(fit_, &QLineEdit::textChanged, this, &SizeFitDialog::Check);
  connect(long_edge_, &QSpinBox::valueChanged, this, &SizeFitDialog::Check);
}

void SizeFitDialog::Check() {
  const bool ok = long_edge_->value() > 0 || ParseSizeFit(fit_->text().trimmed().toStdString()).has_value();
  problem_->setText(ok ? QString() : QCoreApplication::translate("SizeFitDialog", "大きさは 1920x1080、800、x600、50% のように入力してください"));
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(ok);
}

bool SizeFitDialog::Ask(Settings& settings) {
  fit_->setText(QString::fromStdString(settings.size_fit));
  long_edge_->setValue(settings.long_edge);
  enlarge_->setChecked(settings.enlarge);
  mode_->setCurrentIndex(static_cast<int>(settings.fit));
  Check();
  if (exec() != QDialog::Accepted) return false;
  settings.size_fit = fit_->text().trimmed().toStdString();
  settings.long_edge = long_edge_->value();
  settings.enlarge = enlarge_->isChecked();
  settings.fit = static_cast<Settings::Fit>(mode_->currentIndex());
  return true;
}

}  // namespace velmora::gui
