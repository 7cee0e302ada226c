#include "app/gui/size_fit_dialog.h"

#include <QCheckBox>
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
  setWindowTitle(tr("画像サイズ指定"));
  fit_ = new QLineEdit(this);
  fit_->setObjectName("fit");
  fit_->setPlaceholderText("1920x1080, 800, x600, 50%");
  fit_->setToolTip(tr("幅x高さ (その中に収める)、幅だけ、x高さ、または 50% のような割合。縦横比は保ちます"));
  long_edge_ = new QSpinBox(this);
  long_edge_->setObjectName("long_edge");
  long_edge_->setRange(0, 1 << 20);
  long_edge_->setSpecialValueText(tr("使わない"));
  long_edge_->setToolTip(tr("長いほうの辺のピクセル数。指定すると上の大きさより優先します"));
  enlarge_ = new QCheckBox(tr("小さい画像は拡大する"), this);
  enlarge_->setObjectName("enlarge");
  enlarge_->setToolTip(tr("指定より小さい画像も指定の大きさまで拡大します"));
  problem_ = new QLabel(this);
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->button(QDialogButtonBox::Ok)->setToolTip(tr("この大きさで変換します"));
  buttons_->button(QDialogButtonBox::Cancel)->setToolTip(tr("大きさを変えずに閉じます"));
  auto* form = new QFormLayout;
  form->addRow(tr("大きさ"), fit_);
  form->addRow(tr("長辺"), long_edge_);
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
  problem_->setText(ok ? QString() : tr("大きさは 1920x1080、800、x600、50% のように入力してください"));
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(ok);
}

bool SizeFitDialog::Ask(Settings& settings) {
  fit_->setText(QString::fromStdString(settings.size_fit));
  long_edge_->setValue(settings.long_edge);
  enlarge_->setChecked(settings.enlarge);
  Check();
  if (exec() != QDialog::Accepted) return false;
  settings.size_fit = fit_->text().trimmed().toStdString();
  settings.long_edge = long_edge_->value();
  settings.enlarge = enlarge_->isChecked();
  return true;
}

}  // namespace velmora::gui
