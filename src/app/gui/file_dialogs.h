// The file dialogs of the windows: the picture Open dialog with its
// preview, and what both it and the folder chooser remember between
// openings (their size, view and columns, in the settings file's [Extra]).
#pragma once

#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QThreadPool>
#include <atomic>
#include <memory>
#include <string>

#include "app/ini_store.h"
#include "formats/loader.h"

namespace velmora::gui {

// Gives a dialog the size, view and columns it had when last closed (key
// names them in [Extra]); the first time, first (within the screen) and
// columns wide enough for a size, a type and a date.
void RestoreFileDialog(QFileDialog& dialog, IniStore& store, const std::string& key, QSize first);
void KeepFileDialog(const QFileDialog& dialog, IniStore& store, const std::string& key);

// The picture open dialog: several files at once, the program's filter, and
// a preview decoded on a worker thread at the preview's size, so that a
// large picture never stops the windows; a preview the selection has moved
// past is dropped.
class PictureOpenDialog : public QFileDialog {
 public:
  static constexpr int kPreviewEdge = 160;

  PictureOpenDialog(QWidget* parent, const Loader& loader);
  ~PictureOpenDialog() override;
  QLabel* PreviewLabel() const { return preview_; }
  // Waits until the previews asked for so far are shown or dropped (tests).
  void WaitForPreview();

 private:
  void Preview(const QString& path);
  void Show(int generation, const QImage& image, bool readable);

  const Loader& loader_;
  QLabel* preview_;
  QThreadPool pool_;
  std::atomic<int> generation_{0};
};

}  // namespace velmora::gui
