// The size list's last entry, "指定…": any size, as a box, one side, a
// percentage or the longest side, how a box is filled, and whether a
// smaller picture may grow.
#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QDialogButtonBox;

namespace velmora {
struct Settings;
}

namespace velmora::gui {

class SizeFitDialog : public QDialog {
  Q_OBJECT

 public:
  explicit SizeFitDialog(QWidget* parent);
  // Shows the settings' size; on OK writes it back and returns true.
  bool Ask(Settings& settings);

  QLineEdit* fitEdit() const { return fit_; }
  QSpinBox* longEdgeBox() const { return long_edge_; }
  QCheckBox* enlargeBox() const { return enlarge_; }
  QComboBox* fitModeBox() const { return mode_; }
  QDialogButtonBox* buttons() const { return buttons_; }

 private:
  void Check();

  QLineEdit* fit_;
  QSpinBox* long_edge_;
  QCheckBox* enlarge_;
  QComboBox* mode_;
  QLabel* problem_;
  QDialogButtonBox* buttons_;
};

}  // namespace velmora::gui
