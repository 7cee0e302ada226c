// velmora: the desktop program. Arguments are files and folders to convert
// with the saved settings, after which the program quits.
#include <QApplication>
#include <string>
#include <vector>

#include "app/gui/main_window.h"
#include "app/gui/velmora_app.h"
#include "platform/library_output.h"

int main(int argc, char** argv) {
  // Before Qt's threads: what libraries print joins the reasons instead.
  velmora::platform::CaptureLibraryOutput();
  QApplication app(argc, argv);
  velmora::gui::SetUpApplication(app);
  velmora::gui::VelmoraApp velmora;
  std::vector<std::string> arguments;
  for (const QString& argument : QApplication::arguments().mid(1)) arguments.push_back(argument.toStdString());
  velmora.Main().SetArguments(arguments);
  velmora.Show();
  const int status = QApplication::exec();
  return status != 0 ? status : velmora.Main().ExitStatus();
}
