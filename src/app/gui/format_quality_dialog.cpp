#include "app/gui/format_quality_dialog.h"

#include <QCoreApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "pipeline/settings.h"
#include "pipeline/writers.h"

namespace velmora::gui {

FormatQualityDialog::FormatQualityDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QCoreApplication::translate("FormatQualityDialog", "形式ごとの画質"));
  auto* grid = new QGridLayout;
  auto* note = new QLabel(QCoreApplication::translate("FormatQualityDialog", "チェックした形式は、オプションパネルの画質の代わりにこの値 (1〜10) で書き出します。"), this);
  note->setWordWrap(true);
  int row = 0;
  // The formats whose descriptors say they take a quality, in the bars' order.
  for (const OutputRow* output : OutputsInBarOrder()) {
    const OutputFormat& format = output->format();
    if (!format.takes_quality) continue;
    auto* own = new QCheckBox(QString::fromUtf8(format.extension), this);
    own->setObjectName(QStringLiteral("own_") + format.extension);
    own->setToolTip(QCoreApplication::translate("FormatQualityDialog", "%1 の画質を個別に指定します").arg(QString::fromUtf8(format.name)));
    auto* value = new QSpinBox(this);
    value->setObjectName(QStringLiteral("quality_") + format.extension);
    value->setRange(1, 10);
    value->setEnabled(false);
    connect(own, &QCheckBox::toggled, value, &QWidget::setEnabled);
    grid->addWidget(own, row, 0);
    grid->addWidget(value, row, 1);
    rows_[format.extension] = {own, value};
    ++row;
  }
  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(note);
  layout->addLayout(grid);
  layout->addWidget(buttons_);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool FormatQualityDialog::Ask(Settings& settings) {
  for (auto& [extension, row] : rows_) {
    const auto own = settings.format_quality.find(extension);
    row.first->setChecked(own != settings.format_quality.end());
    // Unticked, the value shows what the option bar gives.
    row.second->setValue(own != settings.format_quality.end() ? own->second : settings.O_quality_t + 1);
  }
  if (exec() != QDialog::Accepted) return false;
  settings.format_quality.clear();
  for (const auto& [extension, row] : rows_)
    if (row.first->isChecked()) settings.format_quality[extension] = row.second->value();
  return true;
}

}  // namespace velmora::gui
