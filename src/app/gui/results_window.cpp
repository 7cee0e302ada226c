#include "app/gui/results_window.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QStyle>
#include <QUrl>

#include "base/messages.h"
#include "ui_results_window.h"

namespace velmora::gui {

HScrollList::HScrollList(QWidget* parent) : QListWidget(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Each line as wide as its own text: with one size for all, every line
  // was cut at the first one's width and its end (the size) never showed.
  setUniformItemSizes(false);
  // A line too long for the window loses the middle of its folders, never
  // its end.
  setTextElideMode(Qt::ElideMiddle);
}

int HScrollList::Measure(const QString& text) const { return fontMetrics().horizontalAdvance(text + " "); }

// The room the item delegate keeps either side of a line's text: a line's
// item is that much wider than its text, or the widest line lost its middle.
int HScrollList::Margins() const { return 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1); }

int HScrollList::ItemHeight() const {
  // 12 pixels hold a line of the original 12-pixel font; IPA P Gothic's
  // descenders reach one pixel further, and a line is never cut.
  return std::max(12, fontMetrics().height());
}

void HScrollList::AddLine(const QString& text) {
  auto* item = new QListWidgetItem(text, this);
  const int width = Measure(text);
  item->setSizeHint(QSize(width + Margins(), ItemHeight()));
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
    item(i)->setSizeHint(QSize(width + Margins(), ItemHeight()));
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
  HScrollList* list = ui_->HScrollList1;
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    const QString path = item->data(kPathRole).toString();
    if (!path.isEmpty() && QFileInfo(path).isFile()) Open(path);
  });
  connect(list, &QWidget::customContextMenuRequested, this, &ResultsWindow::ShowMenu);
}

void ResultsWindow::Open(const QString& path) const {
  if (open_)
    open_(path);
  else
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ResultsWindow::ShowMenu(const QPoint& at) {
  QListWidgetItem* item = ui_->HScrollList1->itemAt(at);
  if (!item) return;
  const QString path = item->data(kPathRole).toString();
  if (path.isEmpty()) return;
  QMenu menu(this);
  QAction* open = menu.addAction(QCoreApplication::translate("ResultsWindow", "開く"));
  open->setEnabled(QFileInfo(path).isFile());
  QAction* folder = menu.addAction(QCoreApplication::translate("ResultsWindow", "フォルダを開く"));
  connect(open, &QAction::triggered, this, [this, path] { Open(path); });
  connect(folder, &QAction::triggered, this, [this, path] { Open(QFileInfo(path).absolutePath()); });
  menu.exec(ui_->HScrollList1->viewport()->mapToGlobal(at));
}

ResultsWindow::~ResultsWindow() = default;

HScrollList* ResultsWindow::List() const { return ui_->HScrollList1; }

void ResultsWindow::Clear() { ui_->HScrollList1->ClearLines(); }

void ResultsWindow::SetLines(const std::vector<std::string>& lines, const ResultDetails& details) {
  HScrollList* list = ui_->HScrollList1;
  const std::string failed = Tr(" × 変換できませんでした");
  const std::string arrow = " → ";
  std::set<std::string> shown_failures;
  for (const auto& line : lines) {
    std::string path, tip;
    if (line.size() > failed.size() && line.compare(line.size() - failed.size(), failed.size(), failed) == 0) {
      const std::string source = line.substr(0, line.size() - failed.size());
      if (!shown_failures.insert(source).second) continue;
      path = source;
      if (auto reason = details.reasons.find(source); reason != details.reasons.end()) tip = reason->second;
    } else if (const size_t at = line.find(arrow); at != std::string::npos) {
      // SOURCE → OUTPUT SIZE: the longest written file the rest begins with.
      const std::string rest = line.substr(at + arrow.size());
      for (size_t end = rest.rfind(' '); end != std::string::npos && end > 0; end = rest.rfind(' ', end - 1)) {
        if (details.outputs.count(rest.substr(0, end))) {
          path = rest.substr(0, end);
          break;
        }
      }
      tip = path;
    }
    list->AddLine(QString::fromStdString(line));
    QListWidgetItem* item = list->item(list->count() - 1);
    item->setData(kPathRole, QString::fromStdString(path));
    if (!tip.empty()) item->setToolTip(QString::fromStdString(tip));
  }
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
