// The order dialog: the files of a combined PDF or animated GIF in a grid
// the user reorders, thins out and sorts, with the combined output's name.
// It lives for the whole run: the name box, the column widths and the sort
// state carry over from one batch to the next. There is no cancel.
#pragma once

#include <QDialog>
#include <memory>

#include "pipeline/ports.h"

namespace Ui {
class OrderDialog;
}

namespace velmora::gui {

class SortGrid;

class OrderDialog : public QDialog {
  Q_OBJECT

 public:
  explicit OrderDialog(QWidget* parent = nullptr);
  ~OrderDialog() override;
  // Shows the rows modally; afterwards data holds the grid as the user left
  // it and the name box's state.
  void Run(OrderDialogData& data);
  // Fills the dialog from data without showing it (Run's first half).
  void Fill(const OrderDialogData& data);
  // Reads the dialog back into data (Run's second half).
  void Read(OrderDialogData& data) const;
  Ui::OrderDialog& ui() { return *ui_; }
  SortGrid& Grid();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<Ui::OrderDialog> ui_;
};

}  // namespace velmora::gui
