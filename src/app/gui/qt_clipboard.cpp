#include "app/gui/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <algorithm>

#include "image/byte_order.h"

namespace velmora::gui {
namespace {

const QMimeData* Contents() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return clipboard ? clipboard->mimeData() : nullptr;
}

bool IsPictureFormat(const QString& mime) {
  return mime == "application/x-qt-image" || mime == "image/png" || mime == "image/bmp" ||
         mime == "image/x-bmp" || mime == "image/x-win-bitmap" || mime == "image/jpeg" || mime == "image/tiff";
}

// A packed DIB of 24 bits: the 40-byte header and the rows, bottom first.
std::vector<uint8_t> PackedDib(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_RGB888);
  const int w = image.width(), h = image.height();
  const size_t stride = static_cast<size_t>((w * 24 + 31) / 32) * 4;
  std::vector<uint8_t> dib(40 + stride * static_cast<size_t>(h), 0);
  PutLe32(dib.data(), 40);
  PutLe32(dib.data() + 4, static_cast<uint32_t>(w));
  PutLe32(dib.data() + 8, static_cast<uint32_t>(h));
  PutLe16(dib.data() + 12, 1);
  PutLe16(dib.data() + 14, 24);
  PutLe32(dib.data() + 20, static_cast<uint32_t>(stride * static_cast<size_t>(h)));
  for (int y = 0; y < h; ++y) {
    const uchar* s = image.constScanLine(y);
    uint8_t* d = dib.data() + 40 + stride * static_cast<size_t>(h - 1 - y);
    for (int x = 0; x < w; ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
  }
  return dib;
}

}  // namespace

bool QtClipboard::HasBitmap() {
  const QMimeData* data = Contents();
  return data && data->hasImage();
}

std::vector<uint32_t> QtClipboard::Formats() {
  std::vector<uint32_t> formats;
  const QMimeData* data = Contents();
  if (!data) return formats;
  auto add = [&](uint32_t f) {
    if (std::find(formats.begin(), formats.end(), f) == formats.end()) formats.push_back(f);
  };
  for (const QString& mime : data->formats()) {
    if (mime == "image/gif") add(kCfGifImage);
    if (IsPictureFormat(mime) && data->hasImage()) add(kCfDib);
  }
  return formats;
}

std::vector<uint8_t> QtClipboard::Data(uint32_t format) {
  const QMimeData* data = Contents();
  if (!data) return {};
  if (format == kCfDib || format == kCfBitmap) {
    const QImage image = qvariant_cast<QImage>(data->imageData());
    return image.isNull() ? std::vector<uint8_t>{} : PackedDib(image);
  }
  if (format == kCfGifImage) {
    const QByteArray bytes = data->data("image/gif");
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
  }
  return {};
}

ClipboardWatcher::ClipboardWatcher(QObject* parent) : QObject(parent) {}

ClipboardWatcher::~ClipboardWatcher() { SetOnClipChange(nullptr); }

void ClipboardWatcher::SetOnClipChange(std::function<void()> handler) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (handler && !joined_ && clipboard) {
    handler_ = std::move(handler);
    joining_ = true;
    connect(clipboard, &QClipboard::dataChanged, this, &ClipboardWatcher::Changed);
    joining_ = false;
    joined_ = true;
  } else if (!handler && joined_) {
    if (clipboard) disconnect(clipboard, &QClipboard::dataChanged, this, &ClipboardWatcher::Changed);
    joined_ = false;
    handler_ = nullptr;
  } else {
    handler_ = std::move(handler);
  }
}

void ClipboardWatcher::Changed() {
  if (IgnoreFirst && joining_) return;
  if (handler_) handler_();
}

}  // namespace velmora::gui
