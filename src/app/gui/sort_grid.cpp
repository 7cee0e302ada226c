#include "app/gui/sort_grid.h"

#include <QPainter>
#include <QPolygon>

#include "app/sort_rows.h"

namespace velmora::gui {

SortGrid::SortGrid(QWidget* parent) : QTableWidget(parent) {
  setHorizontalHeader(new SortGridHeader(this));
  verticalHeader()->hide();  // no fixed column
  verticalHeader()->setDefaultSectionSize(14);
  // A cell too narrow for its text clips it, as a plain string grid does,
  // rather than eliding the end of a date or a path.
  setTextElideMode(Qt::ElideNone);
  setWordWrap(false);
  verticalHeader()->setMinimumSectionSize(14);
  horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  horizontalHeader()->setSectionsClickable(true);
  setSelectionMode(QAbstractItemView::ContiguousSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setColumnCount(4);
  const int widths[] = {235, 74, 126, 329};
  for (int c = 0; c < 4; ++c) setColumnWidth(c, widths[c]);
  connect(horizontalHeader(), &QHeaderView::sectionPressed, this, &SortGrid::HeaderClicked);
}

void SortGrid::SetRows(const std::vector<std::vector<std::string>>& rows) {
  rows_ = rows;
  Refresh();
  if (rows_.size() > 1) SetCurrentGridRow(1);
}

std::vector<std::vector<std::string>> SortGrid::Rows() const { return rows_; }

void SortGrid::Refresh() {
  // Column widths the user set stay from batch to batch.
  size_t columns = 0;
  for (const auto& row : rows_) columns = std::max(columns, row.size());
  if (static_cast<int>(columns) > columnCount()) setColumnCount(static_cast<int>(columns));
  const int body = rows_.empty() ? 0 : static_cast<int>(rows_.size()) - 1;
  setRowCount(body);
  for (int c = 0; c < columnCount(); ++c) {
    const std::string text = !rows_.empty() && static_cast<size_t>(c) < rows_[0].size() ? rows_[0][c] : "";
    setHorizontalHeaderItem(c, new QTableWidgetItem(QString::fromStdString(text)));
  }
  for (int r = 0; r < body; ++r) {
    const auto& row = rows_[static_cast<size_t>(r) + 1];
    for (int c = 0; c < columnCount(); ++c)
      setItem(r, c, new QTableWidgetItem(QString::fromStdString(static_cast<size_t>(c) < row.size() ? row[c] : "")));
  }
  // The size and date columns were made for a font whose digits are 6
  // pixels wide; IPA P Gothic's are wider, so they grow to hold a whole
  // size or date. Paths are clipped, as they always were.
  for (int c : {1, 2})
    if (c < columnCount() && body > 0) setColumnWidth(c, std::max(columnWidth(c), sizeHintForColumn(c)));
}

int SortGrid::CurrentGridRow() const { return currentRow() < 0 ? 0 : currentRow() + 1; }

void SortGrid::SetCurrentGridRow(int row) {
  if (row >= 1 && row < RowCount()) setCurrentCell(row - 1, std::max(0, currentColumn()));
}

void SortGrid::MoveUp() {
  const int row = CurrentGridRow();
  if (row <= 1) return;
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row) - 1]);
  Refresh();
  SetCurrentGridRow(row - 1);
}

void SortGrid::MoveDown() {
  const int row = CurrentGridRow();
  if (row <= 0 || row >= RowCount() - 1) return;
  std::swap(rows_[static_cast<size_t>(row)], rows_[static_cast<size_t>(row) + 1]);
  Refresh();
  SetCurrentGridRow(row + 1);
}

void SortGrid::DeleteCurrent() {
  const int row = CurrentGridRow();
  if (row <= 0 || row >= RowCount()) return;
  rows_.erase(rows_.begin() + row);
  Refresh();
  SetCurrentGridRow(std::min(row, RowCount() - 1));
}

void SortGrid::HeaderClicked(int column) {
  if (sortOps == SortOps::soNon) return;
  sort_column_ = column;
  sorted_ = true;
  header_text_ = !rows_.empty() && static_cast<size_t>(column) < rows_[0].size() ? rows_[0][column] : "";
  // The direction is shared by all columns; it starts ascending, so the
  // first click of soBoth sorts descending.
  if (sortOps == SortOps::soUponly)
    ascending_ = true;
  else if (sortOps == SortOps::soDownOnly)
    ascending_ = false;
  else
    ascending_ = !ascending_;
  Sort(column, 1, RowCount() - 1);
  horizontalHeader()->viewport()->update();
}

void SortGrid::Sort(int column, int first, int last) {
  SortGridRows(rows_, column, first, last, ascending_);
  Refresh();
}

int SortGrid::ArrowOffset() const {
  return horizontalHeader()->fontMetrics().horizontalAdvance(QString::fromStdString(header_text_)) + Spacing + 1;
}

const QPixmap& SortGrid::Arrow(bool ascending) const {
  QPixmap& arrow = ascending ? up_ : down_;
  if (arrow.isNull()) {
    arrow = QPixmap(9, 8);
    arrow.fill(Qt::transparent);
    QPainter p(&arrow);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(palette().color(QPalette::ButtonText));
    const QPolygon up({QPoint(4, 0), QPoint(8, 7), QPoint(0, 7)});
    const QPolygon down({QPoint(0, 0), QPoint(8, 0), QPoint(4, 7)});
    p.drawPolygon(ascending ? up : down);
  }
  return arrow;
}

SortGridHeader::SortGridHeader(SortGrid* grid) : QHeaderView(Qt::Horizontal, grid), grid_(grid) {}

void SortGridHeader::paintSection(QPainter* painter, const QRect& rect, int logical_index) const {
  // The style may leave the painter clipped to part of the cell.
  painter->save();
  QHeaderView::paintSection(painter, rect, logical_index);
  painter->restore();
  if (!grid_->Sorted() || grid_->SortedHeaderText().empty() || logical_index != grid_->SortColumn()) return;
  painter->save();
  painter->fillRect(rect.adjusted(1, 1, -1, -1), palette().color(QPalette::Button));
  painter->setPen(palette().color(QPalette::ButtonText));
  painter->drawText(rect.left() + 1, rect.top() + 2 + fontMetrics().ascent(),
                    QString::fromStdString(grid_->SortedHeaderText()));
  painter->drawPixmap(rect.left() + grid_->ArrowOffset(), rect.top() + 2, grid_->Arrow(grid_->Ascending()));
  painter->restore();
}

}  // namespace velmora::gui
