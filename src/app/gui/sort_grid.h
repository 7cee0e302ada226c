// SortGrid: the order dialog's string grid. Row 0 is the header; a click on
// a header cell sorts the other rows by that column, the first click
// descending, and the header shows the direction with an arrow after its
// text.
#pragma once

#include <QHeaderView>
#include <QPixmap>
#include <QTableWidget>
#include <string>
#include <vector>

namespace velmora::gui {

class SortGrid : public QTableWidget {
  Q_OBJECT

 public:
  enum class SortOps { soBoth, soUponly, soDownOnly, soNon };

  explicit SortGrid(QWidget* parent = nullptr);

  SortOps sortOps = SortOps::soBoth;
  int Spacing = 10;  // pixels between the header text and the arrow

  // The rows, header first, as the dialog's caller fills and reads them.
  void SetRows(const std::vector<std::vector<std::string>>& rows);
  std::vector<std::vector<std::string>> Rows() const;
  int RowCount() const { return static_cast<int>(rows_.size()); }
  // The grid row of the current cell (1 for the first row below the header).
  int CurrentGridRow() const;
  void SetCurrentGridRow(int row);

  // The buttons: move the current row up or down (it stays current), delete
  // it. Nothing happens at the ends or on the header.
  void MoveUp();
  void MoveDown();
  void DeleteCurrent();

  // A header click on column: the direction changes by sortOps, then rows 1
  // to the last are sorted.
  void HeaderClicked(int column);
  // Sorts rows first..last by column in the current direction.
  void Sort(int column, int first, int last);

  bool Sorted() const { return sorted_; }
  bool Ascending() const { return ascending_; }
  int SortColumn() const { return sort_column_; }
  const std::string& SortedHeaderText() const { return header_text_; }
  // The arrow's left edge in its header cell: text width + Spacing + 1.
  int ArrowOffset() const;
  // "BBUP" and "BBDOWN": made on first use and kept.
  const QPixmap& Arrow(bool ascending) const;

 private:
  void Refresh();

  std::vector<std::vector<std::string>> rows_;
  int sort_column_ = 0;
  bool sorted_ = false;
  std::string header_text_;
  bool ascending_ = true;
  mutable QPixmap up_, down_;
};

// The header of a SortGrid: draws the sorted column's cell with its arrow.
class SortGridHeader : public QHeaderView {
  Q_OBJECT

 public:
  explicit SortGridHeader(SortGrid* grid);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logical_index) const override;

 private:
  SortGrid* grid_;
};

}  // namespace velmora::gui
