#include "app/gui/taskbar_progress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <cmath>

namespace velmora::gui {

void TaskbarProgress::Show(bool visible, double progress) {
  const int percent = static_cast<int>(std::lround(progress * 100));
  // A signal a percent, not a signal a file.
  if (visible == visible_ && (!visible || percent == percent_)) return;
  visible_ = visible;
  percent_ = percent;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage signal =
      QDBusMessage::createSignal("/io/github/velmora/Velmora", "com.canonical.Unity.LauncherEntry", "Update");
  signal << QString("application://io.github.velmora.Velmora.desktop")
         << QVariantMap{{"progress", percent / 100.0}, {"progress-visible", visible}};
  bus.send(signal);
}

}  // namespace velmora::gui
