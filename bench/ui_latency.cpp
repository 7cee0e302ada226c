// How long the desktop window goes without serving its events while a batch
// runs: a 10 ms timer ticks on the window's thread, and the longest gap
// between two ticks (less the 10 ms) is what a user feels as a freeze.
//
//   ui_latency PICTURE... [-f FORMAT]
//   ui_latency --open-dialog PICTURE...
//   ui_latency --startup
//
// With --open-dialog it opens the Open dialog and selects each picture in
// turn, 300 ms apart, as a user stepping through a folder does: the
// previews must not stop the window.
//
// With --startup it builds the window as the desktop program does and
// prints the time from the process's start (VELMORA_T0, nanoseconds of
// CLOCK_REALTIME, set by the caller just before it starts us) to the main
// window's first paint, then quits.
//
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise;
// the outputs go beside the pictures.
#include <QApplication>
#include <QElapsedTimer>
#include <QAbstractItemView>
#include <QFileDialog>
#include <QKeyEvent>
#include <QFileInfo>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/gui/main_window.h"
#include "app/gui/velmora_app.h"
#include "ui_main_window.h"

namespace {

// The first paint of a widget ends the run.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && !seen) {
      seen = true;
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      const double t0 = std::strtod(std::getenv("VELMORA_T0"), nullptr);
      std::printf("first paint %.1f ms after start\n", (now.tv_sec * 1e9 + now.tv_nsec - t0) / 1e6);
      QApplication::exit(0);
    }
    return false;
  }
  bool seen = false;
};

// A 10 ms timer on the window's thread: the longest gap between two ticks
// is the longest time the windows did not serve their events.
struct GapMeter {
  GapMeter() {
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [this] {
      const qint64 now = clock.nsecsElapsed();
      worst = std::max(worst, now - last);
      last = now;
    });
  }
  void Start() {
    clock.start();
    last = 0;
    tick.start(10);
  }
  QElapsedTimer clock;
  qint64 last = 0, worst = 0;
  QTimer tick;
};

int Startup(int argc, char** argv) {
  if (!std::getenv("VELMORA_T0")) {
    std::fprintf(stderr, "ui_latency --startup: set VELMORA_T0\n");
    return 2;
  }
  QApplication app(argc, argv);
  velmora::gui::SetUpApplication(app);
  velmora::gui::VelmoraApp velmora;
  FirstPaint first;
  velmora.Main().installEventFilter(&first);
  velmora.Show();
  return QApplication::exec();
}

int OpenDialog(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qt(argc, argv);
  std::vector<QString> pictures;
  for (int i = 2; i < argc; ++i) pictures.push_back(QString::fromStdString(std::filesystem::absolute(argv[i]).string()));
  const std::string ini = (std::filesystem::temp_directory_path() / "velmora-ui-latency.ini").string();
  std::remove(ini.c_str());
  velmora::gui::VelmoraApp app(ini, false);
  app.Show();
  GapMeter meter;
  size_t next = 0;
  bool listed = false;
  QTimer step;
  QObject::connect(&step, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    // The folder is listed first: a file the dialog's model has not seen
    // yet cannot become its current one.
    if (!listed) {
      dialog->setDirectory(QFileInfo(pictures.front()).absolutePath());
      listed = true;
      return;
    }
    if (next == 0) meter.Start();
    if (next < pictures.size()) {
      // A key press moves the current file as a user's would (selecting a
      // file by name does not make it the current one).
      ++next;
      auto* view = dialog->findChild<QAbstractItemView*>("listView");
      if (view && !view->isVisible()) view = dialog->findChild<QAbstractItemView*>("treeView");
      if (view) {
        view->setFocus();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(view, &press);
      }
    } else {
      dialog->reject();
      step.stop();
    }
  });
  QTimer::singleShot(50, [&] {
    step.start(300);
    app.Main().ui().Open1->trigger();
    qt.quit();
  });
  qt.exec();
  std::remove(ini.c_str());
  std::printf("pictures %zu  longest event gap %.1f ms (lateness %.1f ms)\n", pictures.size(), meter.worst / 1e6,
              std::max<qint64>(0, meter.worst - 10'000'000) / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--startup") return Startup(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--open-dialog") return OpenDialog(argc, argv);
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication qt(argc, argv);
  std::vector<std::string> pictures;
  std::string format = "png";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-f" && i + 1 < argc)
      format = argv[++i];
    else
      pictures.push_back(std::filesystem::absolute(arg).string());
  }
  if (pictures.empty()) {
    std::fprintf(stderr, "usage: ui_latency PICTURE... [-f FORMAT]\n");
    return 2;
  }
  const std::string ini = (std::filesystem::temp_directory_path() / "velmora-ui-latency.ini").string();
  {
    std::FILE* f = std::fopen(ini.c_str(), "wb");
    std::fprintf(f, "[Format]\r\nbmp=0\r\n%s=1\r\n[Config_Active]\r\ndialog=1\r\n[Config_Conv]\r\nover=1\r\n", format.c_str());
    std::fclose(f);
  }
  velmora::gui::VelmoraApp app(ini, false);
  app.Show();

  GapMeter meter;
  bool done = false;
  QTimer::singleShot(50, [&] {
    meter.Start();
    app.Main().DropFiles(pictures);
    // The window says so when the batch is over, however it ran it.
    QTimer* watch = new QTimer(&meter.tick);
    QObject::connect(watch, &QTimer::timeout, [&] {
      if (app.Main().StatusText() == "変換が終了しました。" && !app.Main().Busy()) {
        done = true;
        qt.quit();
      }
    });
    watch->start(5);
  });
  qt.exec();
  std::remove(ini.c_str());
  if (!done) return 1;
  // What the idle window keeps once the batch is over.
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  std::printf("files %zu  wall %.0f ms  longest event gap %.1f ms (lateness %.1f ms)  resident when idle %ld MB\n",
              pictures.size(), meter.clock.nsecsElapsed() / 1e6, meter.worst / 1e6, std::max<qint64>(0, meter.worst - 10'000'000) / 1e6,
              resident * 4096 / 1000000);
  return 0;
}
