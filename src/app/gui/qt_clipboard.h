// The clipboard through Qt: the pipeline's Clipboard port, and the watcher
// that converts the clipboard's picture whenever it changes.
#pragma once

#include <QObject>
#include <functional>

#include "pipeline/ports.h"

class QClipboard;

namespace velmora::gui {

// A picture on the clipboard as a packed DIB (format 8), a GIF as the
// "GIF Image" format; formats in the clipboard's own order.
class QtClipboard : public Clipboard {
 public:
  bool HasBitmap() override;
  std::vector<uint32_t> Formats() override;
  std::vector<uint8_t> Data(uint32_t format) override;
};

class ClipboardWatcher : public QObject {
  Q_OBJECT

 public:
  explicit ClipboardWatcher(QObject* parent = nullptr);
  ~ClipboardWatcher() override;
  // Ignore the notice that arrives while the watcher joins.
  bool IgnoreFirst = true;
  // Setting a handler joins the clipboard's notices; clearing it leaves.
  void SetOnClipChange(std::function<void()> handler);
  bool Joined() const { return joined_; }

 private:
  void Changed();
  std::function<void()> handler_;
  bool joined_ = false;
  bool joining_ = false;
};

}  // namespace velmora::gui
