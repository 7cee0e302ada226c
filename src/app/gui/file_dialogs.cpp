#include "app/gui/file_dialogs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QSplitter>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>

#include "app/gui/bitmap_image.h"
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
  // The detail view's columns wide enough for what they hold (a size, a
  // type, a date as the locale writes it), and the places beside it for a
  // folder's name.
  if (auto* tree = dialog.findChild<QTreeView*>("treeView")) {
    const QFontMetrics metrics = tree->fontMetrics();
    const int pad = 24;
    const QString date = QLocale::system().toString(QDateTime(QDate(2026, 12, 31), QTime(23, 59)), QLocale::ShortFormat);
    tree->header()->resizeSection(1, metrics.horizontalAdvance("1023.99 KiB") + pad);
    tree->header()->resizeSection(2, metrics.horizontalAdvance("Windows BMP image") + pad);
    tree->header()->resizeSection(3, metrics.horizontalAdvance(date) + pad);
    // The name takes what the others leave of the view (the places, the
    // preview and the margins beside it), never less than a long name's room.
    // On a small screen every column gives up the same share.
    const int view = dialog.width() - 130 - PictureOpenDialog::kPreviewEdge - 60;
    const int name = metrics.horizontalAdvance("IMG_20261231_235959.jpg") + pad;
    int others = 0;
    for (int i = 1; i <= 3; ++i) others += tree->header()->sectionSize(i);
    if (name + others > view) {
      const double share = std::max(0.4, static_cast<double>(view) / (name + others));
      for (int i = 1; i <= 3; ++i) tree->header()->resizeSection(i, static_cast<int>(tree->header()->sectionSize(i) * share));
      tree->header()->resizeSection(0, static_cast<int>(name * share));
    } else {
      tree->header()->resizeSection(0, view - others);
    }
  }
  if (auto* splitter = dialog.findChild<QSplitter*>("splitter")) splitter->setSizes({130, dialog.width() - 130});
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
      image = ToQImage(b).scaled(kPreviewEdge, kPreviewEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
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
