#include "app/gui/picker_window.h"

#include <QMouseEvent>

#include "app/gui/bitmap_image.h"
#include "ui_picker_window.h"

namespace velmora::gui {

PickerWindow::PickerWindow(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::PickerWindow>()) {
  ui_->setupUi(this);
  move(203, 130);  // its own place, not centred over the main window
  color_ = palette().color(QPalette::Button);  // the button face, until a first pick
  ui_->Image1->installEventFilter(this);
  connect(ui_->Button1, &QPushButton::clicked, this, &QDialog::accept);
}

PickerWindow::~PickerWindow() = default;

void PickerWindow::Present(const Bitmap& loaded) {
  image_ = ToQImage(loaded);
  ui_->Image1->setPixmap(QPixmap::fromImage(image_));
  click_.reset();
}

std::optional<PickerClick> PickerWindow::Pick(const Bitmap& loaded) {
  Present(loaded);
  exec();
  return click_;
}

void PickerWindow::Press(int x, int y) {
  // A point outside the picture is recorded as it is; its colour stays the
  // previous one (no pixel is there).
  if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height()) color_ = image_.pixelColor(x, y);
  ShowSwatch();
  ui_->X_point->setText(QString::number(x));
  ui_->Y_point->setText(QString::number(y));
  click_ = PickerClick{x, y};
}

void PickerWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (parentWidget()) setWindowIcon(parentWidget()->windowIcon());
  ui_->X_point->setText("0");
  ui_->Y_point->setText("0");
  ShowSwatch();
}

void PickerWindow::ShowSwatch() {
  // The swatch is the picked colour; its labels are drawn in black or white,
  // whichever stands out from it.
  QPalette p = ui_->Panel1->palette();
  p.setColor(QPalette::Window, color_);
  const int luma = (299 * color_.red() + 587 * color_.green() + 114 * color_.blue()) / 1000;
  p.setColor(QPalette::WindowText, luma < 128 ? Qt::white : Qt::black);
  ui_->Panel1->setPalette(p);
}

bool PickerWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui_->Image1 && event->type() == QEvent::MouseButtonPress) {
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    Press(at.x(), at.y());
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace velmora::gui
