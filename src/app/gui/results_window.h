// The results window: the result and failure lines of the last batch or
// clipboard capture, in a list whose horizontal scroll range follows its
// widest line.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class ResultsWindow;
}

namespace velmora::gui {

// A list whose horizontal extent is its widest item plus one blank, in the
// list's own font.
class HScrollList : public QListWidget {
  Q_OBJECT

 public:
  explicit HScrollList(QWidget* parent = nullptr);
  void AddLine(const QString& text);
  void ClearLines();
  // The widest item's width so far, in pixels (0 when empty).
  int HorizontalExtent() const { return widest_; }

 protected:
  void changeEvent(QEvent* event) override;
  void updateGeometries() override;

 private:
  int Measure(const QString& text) const;
  // The height of a line: 12, or the font's line height where that is more.
  int ItemHeight() const;
  void Remeasure();
  int widest_ = 0;
};

class ResultsWindow : public QDialog {
  Q_OBJECT

 public:
  explicit ResultsWindow(QWidget* parent = nullptr);
  ~ResultsWindow() override;
  void Clear();
  void SetLines(const std::vector<std::string>& lines);
  HScrollList* List() const;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::ResultsWindow> ui_;
};

}  // namespace velmora::gui
