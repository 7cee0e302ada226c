#include "app/gui/file_dialogs.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>

#include "app/gui/main_window.h"

namespace velmora::gui {

void RestoreFileDialog(QFileDialog& dialog, IniStore& store, const std::string& key, QSize first) {
  const QRect screen = dialog.screen() ? dialog.screen()->availableGeometry() : QRect(0, 0, 1024, 768);
  int w = 0, h = 0;
  const std::string size = store.ReadString("Extra", key, "");
  if (std::sscanf(size.c_str(), "%dx%d", &w, &h) == 2 && w > 0 && h > 0) first = QSize(w, h);
  dialog.resize(first.boundedTo(screen.size() * 9 / 10).expandedTo(dialog.minimumSize()));
  const QByteArray view = QByteArray::fromBase64(QByteArray::fromStdString(store.ReadString("Extra", key + "_view", "")));
  if (!view.isEmpty() && dialog.restoreState(view)) return;
  // The detail view's columns, wide enough for what they hold.
  if (auto* tree = dialog.findChild<QTreeView*>("treeView")) {
    const QFontMetrics metrics = tree->fontMetrics();
    const int pad = 24;
    tree->header()->resizeSection(1, metrics.horizontalAdvance("1023.9 KiB") + pad);
    tree->header()->resizeSection(2, metrics.horizontalAdvance("JPEG image Folder") + pad);
    tree->header()->resizeSection(3, metrics.horizontalAdvance("2026/12/31 23:59") + pad);
  }
}

void KeepFileDialog(const QFileDialog& dialog, IniStore& store, const std::string& key) {
  store.WriteString("Extra", key, std::to_string(dialog.width()) + "x" + std::to_string(dialog.height()));
  store.WriteString("Extra", key + "_view", dialog.saveState().toBase64().toStdString());
}

PictureOpenDialog::PictureOpenDialog(QWidget* parent, const Loader& loader) : QFileDialog(parent), loader_(loader) {
  setOption(QFileDialog::DontUseNativeDialog);
  setFileMode(QFileDialog::ExistingFiles);
  setNameFilters(MainWindow::OpenFilter().split(";;"));
  preview_ = new QLabel(this);
  preview_->setMinimumSize(kPreviewEdge, kPreviewEdge);
  preview_->setAlignment(Qt::AlignCenter);
  if (auto* grid = qobject_cast<QGridLayout*>(layout())) grid->addWidget(preview_, 1, 3, 3, 1);
  pool_.setMaxThreadCount(1);
  connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) { Preview(path); });
}

PictureOpenDialog::~PictureOpenDialog() {
  // The worker reads with the loader and posts to this dialog: it ends first.
  ++generation_;
  pool_.clear();
  pool_.waitForDone();
}

void PictureOpenDialog::WaitForPreview() {
  pool_.waitForDone();
  QCoreApplication::sendPostedEvents(this);
}

void PictureOpenDialog::Preview(const QString& path) {
  const int generation = ++generation_;
  preview_->clear();
  const QFileInfo info(path);
  if (!info.isFile() || info.size() > (int64_t{64} << 20)) return;
  // Only the newest selection waits: older ones not yet started are dropped.
  pool_.clear();
  const std::string file = path.toStdString();
  pool_.start([this, generation, file] {
    if (generation != generation_) return;
    QImage image;
    bool readable = true;
    try {
      DecodeRequest request = loader_.Request();
      request.preview_edge = kPreviewEdge;
      Bitmap b;
      loader_.LoadFile(file, request)->AssignTo(b);
      if (generation != generation_) return;
      const Bitmap rgb = b.To24Bit();
      QImage full(rgb.Width(), rgb.Height(), QImage::Format_RGB888);
      for (int y = 0; y < rgb.Height(); ++y) {
        const uint8_t* s = rgb.Row(y);
        uchar* d = full.scanLine(y);
        for (int x = 0; x < rgb.Width(); ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
      }
      image = full.scaled(kPreviewEdge, kPreviewEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    } catch (const std::exception&) {
      readable = false;  // not a picture this program reads
    }
    QMetaObject::invokeMethod(this, [this, generation, image, readable] { Show(generation, image, readable); },
                              Qt::QueuedConnection);
  });
}

void PictureOpenDialog::Show(int generation, const QImage& image, bool readable) {
  if (generation != generation_) return;
  if (readable)
    preview_->setPixmap(QPixmap::fromImage(image));
  else
    preview_->setText("?");
}

}  // namespace velmora::gui
