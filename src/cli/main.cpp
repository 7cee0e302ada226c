// velmora-cli: the batch converter for terminals and scripts. It reads the
// settings file, applies its options, converts the given files and folders
// and exits: 0 when nothing failed, 1 when a source failed, 2 for a usage error.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/ini_store.h"
#include "pipeline/converter.h"
#include "platform/platform.h"
#include "readers/loader.h"

namespace velmora {
namespace {

constexpr const char* kVersion = "Velmora Ver 2.04";

const char* kUsage = R"(Usage: velmora-cli [OPTIONS] PATH...
Converts image files, and the files directly inside folders, into every chosen format.
Options not given keep the value of the settings file (Velmora.ini).

  -f, --formats LIST    target formats, comma separated: bmp,jpg,png,mag,gif,ico,pdf,tif
      --color C         full | 256 | bw
      --size S          1/1 | 1/2 | 1/3 | 1/5 | 2/3 | 3/4 | 2x | 3x
      --quality N       1..10 (JPEG quality (N-1)*10; PNG compression level)
      --icon-size N     16 | 32 | 64 | 128 | 256
      --trans, --no-trans   transparent colour for png, gif and ico
      --pick X,Y        pick the transparent colour at pixel X,Y of every source
      --multipdf        one combined PDF for the batch
      --animgif         one animated GIF for the batch
      --delay TEXT      frame delay of the animated GIF (hundredths of a second)
      --name NAME       name of the combined PDF / animated GIF
      --beside-source   write outputs beside their source (default)
      --app-folder      write outputs into the program's folder
      --out DIR         write outputs into DIR
      --overwrite       replace existing files without asking
      --suffix-s        add "s" to output names (a.jpg -> as.png)
      --keep-date       give outputs their source's date
      --trash-source    move each converted source to the trash
  -q, --quiet           no messages but errors and questions
      --ini FILE        settings file to read (and write with --save)
      --save            write the effective settings back to the settings file
      --help            show this help
      --version         show the version
)";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The terminal as the user interface: results to stdout, messages to stderr,
// the overwrite question on the terminal when there is one.
class TerminalUi : public UserInterface {
 public:
  std::optional<PickerClick> pick;
  int failures = 0;

  void ShowMessage(MessageKind kind, const std::string& text) override {
    if (kind == MessageKind::kFinal) return;  // the result lines go to stdout
    std::cerr << Plain(text) << '\n';
  }
  bool ConfirmOverwrite(const std::string& text) override {
    if (!isatty(STDIN_FILENO)) {
      std::cerr << "velmora-cli: " << text << " -> no (not asked: input is not a terminal)\n";
      return false;
    }
    ClearProgress();
    std::cerr << text << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  }
  void RunOrderDialog(OrderDialogData&) override {}  // the given order stands
  std::optional<PickerClick> PickTransparent(const Bitmap&) override { return pick; }
  void SetStatusText(const std::string& text) override { status_ = text; }
  std::string StatusText() const override { return status_; }
  void SetDropCaption(const std::string&) override {}
  void ShowProgress(bool visible) override {
    progress_visible_ = visible && isatty(STDERR_FILENO);
    if (!visible) ClearProgress();
  }
  void SetProgressMax(int max) override { max_ = max; }
  void SetProgressPosition(int position) override {
    position_ = position;
    DrawProgress();
  }
  void StepProgress() override {
    ++position_;
    DrawProgress();
  }
  void ProcessPendingEvents() override {}
  void ClearResults() override {}
  void SetResults(const std::vector<std::string>& lines) override {
    ClearProgress();
    for (const auto& line : lines) std::cout << line << '\n';
    std::cout.flush();
  }
  void LogFailure(const std::string& source, const std::string& reason) override {
    ++failures;
    ClearProgress();
    std::cerr << "velmora-cli: " << (source.empty() ? "(empty path)" : source) << ": " << reason << '\n';
  }

 private:
  static std::string Plain(std::string text) {
    for (size_t i = 0; (i = text.find("\n\r", i)) != std::string::npos;) text.replace(i, 2, "\n");
    for (size_t i = 0; (i = text.find("\r\n", i)) != std::string::npos;) text.replace(i, 2, "\n");
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  void DrawProgress() {
    if (!progress_visible_ || max_ <= 0) return;
    const int width = 30;
    const int filled = std::min(width, position_ * width / max_);
    std::cerr << "\r[" << std::string(static_cast<size_t>(filled), '#')
              << std::string(static_cast<size_t>(width - filled), ' ') << "] " << std::min(position_, max_) << "/"
              << max_ << std::flush;
    drawn_ = true;
  }
  void ClearProgress() {
    if (drawn_) std::cerr << "\r\033[K" << std::flush;
    drawn_ = false;
  }
  std::string status_;
  bool progress_visible_ = false;
  bool drawn_ = false;
  int max_ = 0;
  int position_ = 0;
};

int IndexOf(const std::string& value, const std::vector<std::string>& items, const char* option) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == value) return static_cast<int>(i);
  throw UsageError(std::string("invalid value for ") + option + ": '" + value + "'");
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string ini_path;
  bool save = false;
  std::vector<std::string> paths;
  std::vector<std::function<void(Settings&)>> edits;
  std::optional<PickerClick> pick;

  auto value_of = [&](size_t& i, const std::string& option) -> std::string {
    const std::string& a = args[i];
    const size_t eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) return a.substr(eq + 1);
    if (i + 1 >= args.size()) throw UsageError("option " + option + " needs a value");
    return args[++i];
  };
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      paths.push_back(a);
      continue;
    }
    const std::string name = a.substr(0, a.find('='));
    if (name == "--") {
      options_done = true;
    } else if (name == "--help" || name == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (name == "--version") {
      std::cout << kVersion << '\n';
      return 0;
    } else if (name == "--ini") {
      ini_path = value_of(i, name);
    } else if (name == "--save") {
      save = true;
    } else if (name == "-f" || name == "--formats") {
      const std::string list = value_of(i, name);
      std::map<std::string, bool Settings::*> fields = {
          {"bmp", &Settings::C_bmp}, {"jpg", &Settings::C_jpg}, {"png", &Settings::C_png}, {"mag", &Settings::C_mag},
          {"gif", &Settings::C_gif}, {"ico", &Settings::C_ico}, {"pdf", &Settings::C_pdf}, {"tif", &Settings::C_tif}};
      std::vector<bool Settings::*> chosen;
      std::stringstream ss(list);
      std::string item;
      while (std::getline(ss, item, ',')) {
        if (item == "jpeg") item = "jpg";
        if (item == "tiff") item = "tif";
        auto it = fields.find(item);
        if (it == fields.end()) throw UsageError("unknown format '" + item + "' (bmp,jpg,png,mag,gif,ico,pdf,tif)");
        chosen.push_back(it->second);
      }
      edits.push_back([fields, chosen](Settings& s) {
        for (const auto& f : fields) s.*(f.second) = false;
        for (auto f : chosen) s.*f = true;
      });
    } else if (name == "--color") {
      const int v = IndexOf(value_of(i, name), {"full", "256", "bw"}, "--color");
      edits.push_back([v](Settings& s) { s.C_PixelColor = v; });
    } else if (name == "--size") {
      std::string v = value_of(i, name);
      if (v == "2×") v = "2x";
      if (v == "3×") v = "3x";
      const int index = IndexOf(v, {"1/1", "1/2", "1/3", "1/5", "2/3", "3/4", "2x", "3x"}, "--size");
      edits.push_back([index](Settings& s) { s.O_gsize = index; });
    } else if (name == "--quality") {
      const int v = IndexOf(value_of(i, name), {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}, "--quality");
      edits.push_back([v](Settings& s) { s.O_quality_c = s.O_quality_t = v; });
    } else if (name == "--icon-size") {
      const int v = IndexOf(value_of(i, name), {"16", "32", "64", "128", "256"}, "--icon-size");
      edits.push_back([v](Settings& s) { s.O_icosize = v; });
    } else if (name == "--trans" || name == "--no-trans") {
      const bool on = name == "--trans";
      edits.push_back([on](Settings& s) { s.C_Trans = on; });
    } else if (name == "--pick") {
      const std::string v = value_of(i, name);
      int x = 0, y = 0;
      char tail = 0;
      if (std::sscanf(v.c_str(), "%d,%d%c", &x, &y, &tail) != 2) throw UsageError("--pick takes X,Y, not '" + v + "'");
      pick = PickerClick{x, y};
      edits.push_back([](Settings& s) { s.V_transparent = true; });
    } else if (name == "--multipdf") {
      edits.push_back([](Settings& s) { s.C_Multipdf = true; });
    } else if (name == "--animgif") {
      edits.push_back([](Settings& s) { s.C_animegif = true; });
    } else if (name == "--delay") {
      const std::string v = value_of(i, name);
      edits.push_back([v](Settings& s) { s.C_delay = v; });
    } else if (name == "--name") {
      const std::string v = value_of(i, name);
      if (v.empty() || v.find('/') != std::string::npos) throw UsageError("--name takes a file name without folders");
      edits.push_back([v](Settings& s) { s.C_multi_fn = true, s.multi_outfile = v; });
    } else if (name == "--beside-source") {
      edits.push_back([](Settings& s) { s.S_sourcefile = true, s.S_app = s.S_folder = false; });
    } else if (name == "--app-folder") {
      edits.push_back([](Settings& s) { s.S_app = true, s.S_sourcefile = s.S_folder = false; });
    } else if (name == "--out") {
      std::string dir = value_of(i, name);
      const std::string resolved = platform::LongPathOf(dir);
      if (resolved.empty() || !platform::FolderExists(resolved))
        throw UsageError("--out: no such folder '" + dir + "'");
      edits.push_back([resolved](Settings& s) {
        s.S_folder = true, s.S_sourcefile = s.S_app = false;
        s.S_folder_n = resolved.back() == '/' ? resolved : resolved + "/";
      });
    } else if (name == "--overwrite") {
      edits.push_back([](Settings& s) { s.V_over = true; });
    } else if (name == "--suffix-s") {
      edits.push_back([](Settings& s) { s.V_adds = true; });
    } else if (name == "--keep-date") {
      edits.push_back([](Settings& s) { s.V_olddate = true; });
    } else if (name == "--trash-source") {
      edits.push_back([](Settings& s) { s.A_delete = true; });
    } else if (name == "-q" || name == "--quiet") {
      edits.push_back([](Settings& s) { s.A_dialog = true; });
    } else {
      throw UsageError("unknown option '" + a + "'");
    }
  }
  if (paths.empty() && !save) throw UsageError("no files or folders given");

  Settings settings;
  settings.S_folder_n = platform::ProgramFolder();
  IniStore store;
  // The console program shares the settings file of the desktop program.
  // A name without a folder given on the command line means the current folder.
  if (!ini_path.empty() && ini_path.find('/') == std::string::npos) ini_path = "./" + ini_path;
  store.FileName = ini_path.empty() ? SettingsFilePath(platform::ProgramFolder() + "velmora") : ini_path;
  LoadMainSettings(store, settings);
  LoadDialogSettings(store, settings);
  for (const auto& edit : edits) edit(settings);
  if (save) {
    SaveMainSettings(store, settings);
    SaveDialogSettings(store, settings);
  }
  if (paths.empty()) return 0;

  std::vector<std::string> entries;
  for (const auto& p : paths) {
    std::string full = platform::LongPathOf(p);
    if (full.empty()) std::cerr << "velmora-cli: " << p << ": no such file or folder\n";
    entries.push_back(full);
  }
  TerminalUi ui;
  ui.pick = pick;
  Loader loader;
  Converter converter(settings, ui, nullptr, loader);
  converter.RunBatch(entries);
  if (!ui.StatusText().empty()) std::cerr << ui.StatusText() << '\n';
  return ui.failures > 0 ? 1 : 0;
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  try {
    return velmora::Run(argc, argv);
  } catch (const velmora::UsageError& e) {
    std::cerr << "velmora-cli: " << e.what() << " (see --help)\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "velmora-cli: " << e.what() << '\n';
    return 1;
  }
}
