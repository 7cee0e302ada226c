#include "app/gui/results_window.h"

#include <QEvent>
#include <QKeyEvent>
#include <QScrollBar>

#include "ui_results_window.h"

namespace velmora::gui {

HScrollList::HScrollList(QWidget* parent) : QListWidget(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setUniformItemSizes(true);
}

int HScrollList::Measure(const QString& text) const { return fontMetrics().horizontalAdvance(text + " "); }

int HScrollList::ItemHeight() const {
  // 12 pixels hold a line of the original 12-pixel font; IPA P Gothic's
  // descenders reach one pixel further, and a line is never cut.
  return std::max(12, fontMetrics().height());
}

void HScrollList::AddLine(const QString& text) {
  auto* item = new QListWidgetItem(text, this);
  const int width = Measure(text);
  item->setSizeHint(QSize(width, ItemHeight()));
  if (width > widest_) widest_ = width;
  updateGeometries();
}

void HScrollList::ClearLines() {
  clear();
  widest_ = 0;
  updateGeometries();
}

void HScrollList::Remeasure() {
  widest_ = 0;
  for (int i = 0; i < count(); ++i) {
    const int width = Measure(item(i)->text());
    item(i)->setSizeHint(QSize(width, ItemHeight()));
    widest_ = std::max(widest_, width);
  }
  updateGeometries();
}

void HScrollList::changeEvent(QEvent* event) {
  QListWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) Remeasure();
}

void HScrollList::updateGeometries() {
  QListWidget::updateGeometries();
  // The scroll range reaches exactly the widest line and one blank.
  horizontalScrollBar()->setRange(0, std::max(0, widest_ - viewport()->width()));
  horizontalScrollBar()->setPageStep(viewport()->width());
}

ResultsWindow::ResultsWindow(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::ResultsWindow>()) {
  ui_->setupUi(this);
  // Its own place, not centred over the main window as a dialog would be.
  move(199, 128);
  connect(ui_->Button1, &QPushButton::clicked, this, &QDialog::accept);
}

ResultsWindow::~ResultsWindow() = default;

HScrollList* ResultsWindow::List() const { return ui_->HScrollList1; }

void ResultsWindow::Clear() { ui_->HScrollList1->ClearLines(); }

void ResultsWindow::SetLines(const std::vector<std::string>& lines) {
  for (const auto& line : lines) ui_->HScrollList1->AddLine(QString::fromStdString(line));
}

void ResultsWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  // The button stays at the right edge of the bottom bar.
  QPushButton* button = ui_->Button1;
  button->move(ui_->Panel1->width() - button->width() - 2, button->y());
}

void ResultsWindow::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    accept();
    return;
  }
  QDialog::keyReleaseEvent(event);
}

}  // namespace velmora::gui
