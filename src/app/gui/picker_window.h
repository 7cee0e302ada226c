// The transparent-colour picker "透過色指定": the loaded picture, unscaled
// from the top-left corner; a press of any mouse button records the point
// and its colour. OK and the close box both close it; there is no cancel.
#pragma once

#include <QColor>
#include <QDialog>
#include <QImage>
#include <memory>
#include <optional>

#include "image/bitmap.h"
#include "pipeline/ports.h"

namespace Ui {
class PickerWindow;
}

namespace velmora::gui {

class PickerWindow : public QDialog {
  Q_OBJECT

 public:
  explicit PickerWindow(QWidget* parent = nullptr);
  ~PickerWindow() override;
  // Shows the picture modally; the last press, or nullopt when the window
  // closed without one.
  std::optional<PickerClick> Pick(const Bitmap& loaded);
  // Shows the picture without waiting (Pick's first half).
  void Present(const Bitmap& loaded);
  // What a press at (x, y) of the image does.
  void Press(int x, int y);
  std::optional<PickerClick> LastPress() const { return click_; }
  // The last picked colour (the panel's background), kept between showings.
  QColor PickedColor() const { return color_; }
  Ui::PickerWindow& ui() { return *ui_; }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowSwatch();
  std::unique_ptr<Ui::PickerWindow> ui_;
  QImage image_;
  QColor color_;
  std::optional<PickerClick> click_;
};

}  // namespace velmora::gui
