// The results window: the result and failure lines of the last batch or
// clipboard capture, in a list whose horizontal scroll range follows its
// widest line.
#pragma once

#include <QDialog>
#include <QListWidget>
#include <functional>
#include <map>
#include <memory>
#include <set>
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
  int Margins() const;
  // The height of a line: 12, or the font's line height where that is more.
  int ItemHeight() const;
  void Remeasure();
  int widest_ = 0;
};

// What the batch knew beside its lines: why each failed source failed, and
// the files it wrote.
struct ResultDetails {
  std::map<std::string, std::string> reasons;  // by source
  std::set<std::string> outputs;
};

class ResultsWindow : public QDialog {
  Q_OBJECT

 public:
  // Where a line's file is kept (Qt::UserRole): the output written, or the
  // source that failed.
  static constexpr int kPathRole = Qt::UserRole;

  explicit ResultsWindow(QWidget* parent = nullptr);
  ~ResultsWindow() override;
  void Clear();
  // A source that failed shows once, however many of its outputs failed,
  // with its reason as the line's tooltip; an output's line knows its file.
  void SetLines(const std::vector<std::string>& lines, const ResultDetails& details = {});
  HScrollList* List() const;
  // Opens a line's file, or the folder that holds it, with the desktop's
  // default program; tests replace it to see what would be opened.
  std::function<void(const QString& path)> open_ = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void Open(const QString& path) const;
  void ShowMenu(const QPoint& at);
  std::unique_ptr<Ui::ResultsWindow> ui_;
};

}  // namespace velmora::gui
