#include "app/gui/order_dialog.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/gui/sort_grid.h"
#include "ui_order_dialog.h"

namespace velmora::gui {

OrderDialog::OrderDialog(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::OrderDialog>()) {
  ui_->setupUi(this);
  connect(ui_->Button1, &QPushButton::clicked, this, [this] { Grid().MoveUp(); });
  connect(ui_->Button2, &QPushButton::clicked, this, [this] { Grid().MoveDown(); });
  connect(ui_->Button4, &QPushButton::clicked, this, [this] { Grid().DeleteCurrent(); });
  connect(ui_->Button3, &QPushButton::clicked, this, &QDialog::accept);
  // The name box enables its name; the text stays when it is unticked.
  connect(ui_->C_multi_fn, &QCheckBox::toggled, ui_->multi_outfile, &QWidget::setEnabled);
}

OrderDialog::~OrderDialog() = default;

SortGrid& OrderDialog::Grid() { return *ui_->SortGrid1; }

void OrderDialog::Fill(const OrderDialogData& data) {
  setWindowTitle(QString::fromStdString(data.caption));
  ui_->C_multi_fn->setChecked(data.multi_fn);
  ui_->multi_outfile->setText(QString::fromStdString(data.multi_outfile));
  ui_->multi_outfile->setEnabled(data.multi_fn);
  Grid().SetRows(data.rows);
}

void OrderDialog::Read(OrderDialogData& data) const {
  data.rows = ui_->SortGrid1->Rows();
  data.multi_fn = ui_->C_multi_fn->isChecked();
  data.multi_outfile = ui_->multi_outfile->text().toStdString();
}

void OrderDialog::Run(OrderDialogData& data) {
  Fill(data);
  exec();  // however it closes, the grid is read as it is
  Read(data);
}

void OrderDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  QPushButton* finish = ui_->Button3;
  finish->move(ui_->Panel2->width() - finish->width() - 2, finish->y());
}

void OrderDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred by its inside, which the frame does not move: move() places the
  // frame once the window manager has given one, the inside before, so the
  // dialog crept down by a title bar at every later opening.
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect inside = geometry();
    inside.moveCenter(screen->availableGeometry().center());
    setGeometry(inside);
  }
}

}  // namespace velmora::gui
