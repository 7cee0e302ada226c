// The final message of a batch too long for a message box: its heading, the
// result lines in a list that scrolls, how many there are, and a button that
// opens the results window. Never taller than the screen it is on.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QListWidget;
class QPushButton;

namespace velmora::gui {

class FinalMessage : public QDialog {
  Q_OBJECT

 public:
  // open_results: what the results button does.
  FinalMessage(QWidget* parent, const QString& heading, const QStringList& lines, int count,
               std::function<void()> open_results);
  QListWidget* List() const { return list_; }
  QPushButton* ResultsButton() const { return results_; }

 private:
  QListWidget* list_;
  QPushButton* results_;
};

// Whether a message of these lines would be taller than the screen lets a
// box be, so that FinalMessage shows it instead.
bool TooTallForABox(const QWidget* near, int lines);

}  // namespace velmora::gui
