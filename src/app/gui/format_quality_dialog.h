// ｵﾌﾟｼｮﾝ → 形式ごとの画質: a quality of its own for each format that takes
// one, over the option bar's quality ([Extra] quality_<format>).
#pragma once

#include <QDialog>
#include <map>
#include <string>

class QCheckBox;
class QSpinBox;
class QDialogButtonBox;

namespace velmora {
struct Settings;
}

namespace velmora::gui {

class FormatQualityDialog : public QDialog {
  Q_OBJECT

 public:
  explicit FormatQualityDialog(QWidget* parent);
  // Shows the settings' values; on OK writes them back and returns true.
  bool Ask(Settings& settings);

  // The row of a format, by its extension: its tick and its value.
  QCheckBox* OwnBox(const std::string& extension) const { return rows_.at(extension).first; }
  QSpinBox* ValueBox(const std::string& extension) const { return rows_.at(extension).second; }
  QDialogButtonBox* buttons() const { return buttons_; }

 private:
  std::map<std::string, std::pair<QCheckBox*, QSpinBox*>> rows_;
  QDialogButtonBox* buttons_;
};

}  // namespace velmora::gui
