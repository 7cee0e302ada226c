// velmora-cli: the batch converter for terminals and scripts. It reads the
// settings file, applies its options, converts the given files and folders
// and exits: 0 when every requested output was written, 1 when a source or
// an output failed, 2 for a usage error, 128 + the signal when interrupted.
#include <signal.h>
#include <unistd.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "app/ini_store.h"
#include "app/presets.h"
#include "base/messages.h"
#include "base/version.h"
#include "cli/options.h"
#include "cli/terminal_ui.h"
#include "app/startup.h"
#include "pipeline/batch_session.h"
#include "pipeline/source_job.h"
#include "platform/fd_buffer.h"
#include "platform/library_output.h"
#include "platform/platform.h"
#include "formats/input_format.h"
#include "formats/loader.h"
#include "formats/susie/susie_host.h"
#include "pipeline/prepare_source.h"
#include "pipeline/writers.h"

namespace velmora::cli {
namespace {

// The running batch's stop flag, for the signal handler; none outside a batch.
std::atomic<std::atomic<bool>*> g_stop{nullptr};
volatile sig_atomic_t g_interrupts = 0;
// Translated before the handlers are installed: a handler may not look it up.
std::string g_stop_note;

void Say(const char* text, size_t n) { [[maybe_unused]] const ssize_t w = write(platform::MessageFd(), text, n); }

extern "C" void OnSignal(int sig) {
  // Only async-signal-safe calls. A first Ctrl-C stops the batch before its
  // next file, as the desktop program's stop button does; a second one, or
  // any other signal, removes the half-written outputs and ends at once.
  std::atomic<bool>* stop = g_stop.load();
  if (sig == SIGINT && g_interrupts == 0 && stop) {
    g_interrupts = 1;
    stop->store(true);
    Say(g_stop_note.data(), g_stop_note.size());
    return;
  }
  platform::RemoveTemporariesNow();
  if (isatty(platform::MessageFd())) {
    const char clear[] = "\r\033[K";
    Say(clear, sizeof clear - 1);
  }
  _exit(128 + sig);
}

void InstallSignalHandlers() {
  g_stop_note = std::string("\r\033[K") +
                Tr("velmora-cli: stopping after the current file (Ctrl-C again stops at once)") + "\n";
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(sig, &action, nullptr);
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// An absolute form of a folder that may not exist yet.
std::string AbsoluteFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
  std::string s = ec ? path : p.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

// Columns a text takes on a terminal: a UTF-8 character of three or more
// bytes (kana, kanji) takes two, except the half-width katakana.
size_t DisplayWidth(const std::string& text) {
  size_t columns = 0;
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const size_t bytes = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    // U+FF61 to U+FF9F: EF BD A1 to EF BE 9F.
    const auto at = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0; };
    const bool half_width_kana = bytes == 3 && c == 0xEF &&
                                 ((at(i + 1) == 0xBD && at(i + 2) >= 0xA1) || (at(i + 1) == 0xBE && at(i + 2) <= 0x9F));
    columns += bytes >= 3 && !half_width_kana ? 2 : 1;
    i += bytes;
  }
  return columns;
}

// Every extension that becomes a picture: its description and where its
// reader comes from, one line each in name order.
std::string ReadableFormats(const Loader& loader, const SusiePlugins& plugins) {
  std::map<std::string, std::pair<std::string, std::string>> rows;
  for (const auto& format : loader.Registry().FileFormats()) {
    const std::string extension = LowerAscii(format.extension);
    const GraphicClass* cls = loader.Registry().FindExtension(extension);
    if (const InputFormat* known = FormatOf(cls); known && !known->picture) continue;
    const SusiePlugin* plugin = plugins.PluginForExtension(extension);
    rows[extension] = {Tr(loader.Registry().DescriptionOf(extension).c_str()),
                       plugin ? Tr("plug-in {1}", {plugin->PluginFileName()}) : Tr("built-in")};
  }
  size_t width = 0;
  for (const auto& [extension, row] : rows) width = std::max(width, DisplayWidth(row.first));
  std::string out;
  for (const auto& [extension, row] : rows) {
    out += extension + std::string(extension.size() < 6 ? 6 - extension.size() : 1, ' ');
    out += row.first + std::string(width - DisplayWidth(row.first) + 2, ' ') + row.second + "\n";
  }
  return out;
}

void WarnAbout(const SusiePlugins& plugins) {
  for (const auto& warning : plugins.Warnings())
    std::cerr << Tr("velmora-cli: warning: {1}", {EscapeControls(warning)}) << '\n';
}

// What a run works with: the settings file, the settings as the file and
// the options make them, and the decoding limits.
struct Session {
  IniStore store;
  Settings settings;
  DecodeLimits limits;
  bool colour_from_default = false;  // neither the file nor an option chose the colour depth
  bool stored_over = false;          // the file's overwrite switch, before --skip-existing
  bool stored_delete = false;        // the source's fate as --save writes it
  bool trash_ignored = false;        // the file asks to trash sources, the command line does not
};

void ReadSettings(const CommandLine& line, Session& session) {
  Settings& settings = session.settings;
  settings.S_folder_n = platform::ProgramFolder();
  // The console program shares the settings file of the desktop program.
  // A name without a folder given on the command line means the current folder.
  std::string ini_path = line.ini_path;
  if (!ini_path.empty() && ini_path.find('/') == std::string::npos) ini_path = "./" + ini_path;
  if (!line.preset.empty()) {
    if (!line.ini_path.empty() || line.no_settings)
      throw UsageError(Tr("--preset cannot be used with --ini or --no-settings"));
    ini_path = PresetPath(line.preset);
    if (!line.save && !platform::FileExists(ini_path))
      throw UsageError(Tr("--preset: there is no preset '{1}' ({2})", {line.preset, ini_path}));
  }
  if (line.no_settings) {
    if (!line.ini_path.empty() || line.save) throw UsageError(Tr("--no-settings cannot be used with --ini or --save"));
    session.colour_from_default = !line.color_given;
  } else {
    session.store.FileName = ini_path.empty() ? SettingsFilePath(platform::ProgramFolder() + "velmora") : ini_path;
    LoadMainSettings(session.store, settings);
    LoadDialogSettings(session.store, settings);
    session.colour_from_default = !line.color_given && !session.store.HasKey("Effect", "PixelColor");
    LoadLimits(session.store, session.limits);
  }
  if (line.max_pixels > 0) session.limits.max_pixels = line.max_pixels;
  const bool file_delete = settings.A_delete;
  for (const auto& edit : line.edits) edit(settings);
  // The settings file's wish to move sources is the window's, not a
  // script's: --save keeps it as the file has it.
  session.stored_delete = line.fate_given ? settings.A_delete : file_delete;
  if (!line.fate_given && settings.A_delete) settings.A_delete = false, session.trash_ignored = true;
  session.stored_over = settings.V_over;
  if (line.skip_existing) {
    if (line.overwrite_given) throw UsageError(Tr("--skip-existing and --overwrite exclude each other"));
    settings.V_over = false;  // nothing is replaced, whatever the settings file says
  }
}

// --out: the folder chosen; it is made only once a conversion starts.
void ApplyOutFolder(const CommandLine& line, Settings& settings) {
  if (line.out_folder.empty()) return;
  const std::string folder = AbsoluteFolder(line.out_folder);
  if (platform::PathExists(folder) && !platform::FolderExists(folder))
    throw UsageError(Tr("--out: '{1}' is not a folder", {line.out_folder}));
  settings.S_folder = true, settings.S_sourcefile = settings.S_app = false;
  settings.S_folder_n = folder;
}

// --out's folder made for a batch that writes. False when it cannot be made.
bool MakeOutFolder(const CommandLine& line, const Settings& settings) {
  if (line.out_folder.empty() || line.dry_run) return true;
  try {
    platform::MakeFolders(settings.S_folder_n);
  } catch (const Error& e) {
    std::cerr << "velmora-cli: --out: " << e.what() << '\n';
    return false;
  }
  return true;
}

bool SaveSettings(const CommandLine& line, Session& session) {
  Settings to_save = session.settings;
  to_save.V_over = session.stored_over;
  to_save.A_delete = session.stored_delete;
  // The window's place and state belong to the desktop program: as read.
  SaveMainSettings(session.store, to_save, /*window=*/false);
  SaveDialogSettings(session.store, to_save);
  std::string error;
  if (!session.store.Flush(&error)) {
    std::cerr << "velmora-cli: --save: " << error << '\n';
    return false;
  }
  if (!line.quiet) std::cerr << Tr("velmora-cli: settings saved to {1}", {session.store.ResolvedPath()}) << '\n';
  return true;
}

// The CPU time of the run so far, user and system, in seconds.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Everything a stream holds, up to limit bytes; more raises.
std::vector<uint8_t> ReadAll(std::FILE* in, int64_t limit, const std::string& name) {
  std::vector<uint8_t> data;
  uint8_t buffer[1 << 16];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (static_cast<int64_t>(data.size() + n) > limit)
      throw Error(ErrorKind::kTooLarge, Tr("{1}: more than {2} bytes, the input limit", {name, std::to_string(limit)}));
    data.insert(data.end(), buffer, buffer + n);
  }
  if (std::ferror(in)) throw Error(ErrorKind::kIo, Tr("{1}: cannot be read", {name}));
  return data;
}

// --files-from: the paths of a list, one per line (a CR before the line end
// is kept: it may be part of a name) or NUL-separated; empty entries skipped.
std::vector<std::string> ReadList(const std::string& file, bool null_separated) {
  std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
  if (!in) throw UsageError(Tr("--files-from: '{1}' cannot be opened", {file}));
  std::vector<uint8_t> bytes;
  try {
    bytes = ReadAll(in, int64_t{1} << 30, file == "-" ? Tr("standard input") : file);
  } catch (...) {
    if (in != stdin) std::fclose(in);
    throw;
  }
  if (in != stdin) std::fclose(in);
  std::vector<std::string> paths;
  const char separator = null_separated ? '\0' : '\n';
  std::string current;
  for (uint8_t b : bytes) {
    if (static_cast<char>(b) != separator) {
      current += static_cast<char>(b);
      continue;
    }
    if (!current.empty()) paths.push_back(std::move(current));
    current.clear();
  }
  if (!current.empty()) paths.push_back(std::move(current));
  return paths;
}

// --stdout: one picture, from a file or standard input, to standard output
// in the one format asked; none of the batch's rules (names, trash, dates)
// apply. Nothing reaches stdout unless the whole output was made.
int ConvertToStdout(const CommandLine& line, Session& session) {
  if (isatty(STDOUT_FILENO))
    throw UsageError(Tr("--stdout: standard output is a terminal; send it to a file or a pipe"));
  const Settings& settings = session.settings;
  Startup startup(session.limits);
  startup.LoadPlugins();
  const std::vector<FormatWriter> writers = DefaultWriters();
  const std::string& path = line.paths.front();
  std::vector<uint8_t> data;
  SourceInput input{path};
  if (path == "-") {
    input.path = Tr("standard input");
    data = ReadAll(stdin, session.limits.max_file, input.path);
    input.bytes = &data;
  }
  ConversionContext context;
  context.limits = session.limits;
  context.scratch = [] { return std::make_unique<platform::SpoolFile>(); };
  SourceJob job(startup.loader(), context);
  JobPlan plan;
  plan.settings = &settings;
  plan.writers = &writers;
  // The file waits unnamed in the temporary folder, not in memory.
  plan.folder = [](const FormatWriter&) { return platform::TemporaryFolder(); };
  std::vector<std::string> warnings;
  LoadedPicture loaded = job.Load(input, plan, warnings);
  for (const auto& warning : warnings)
    if (!line.quiet) std::cerr << Tr("velmora-cli: warning: {1}: {2}", {path, EscapeControls(warning)}) << '\n';
  if (settings.PickerWanted()) {
    int x = 0, y = 0;
    if (line.pick) x = line.pick->x, y = line.pick->y;
    plan.x_point = x, plan.y_point = y;
    plan.picked_color = MakeColor(240, 240, 240);
    if (x >= 0 && y >= 0 && x < loaded.working.Width() && y < loaded.working.Height())
      plan.picked_color = loaded.working.GetPixel(x, y);
  }
  JobResult result = job.Finish(std::move(loaded), plan);
  if (result.failure) throw Error(result.failure->kind, result.failure->reason);
  for (EncodedOutput& output : result.outputs) {
    if (!output.made) continue;
    if (output.failure) throw Error(output.failure->kind, output.failure->reason);
    // Nothing reaches stdout unless the whole output was made.
    platform::FdBuffer buffer(STDOUT_FILENO);
    std::ostream out(&buffer);
    if (output.pending.Valid())
      output.pending.CopyTo(out);
    else
      out.write(output.bytes.data(), static_cast<std::streamsize>(output.bytes.size()));
    out.flush();
    if (!out || buffer.Error()) throw Error(ErrorKind::kIo, Tr("standard output cannot be written"));
  }
  return 0;
}

int Convert(const CommandLine& line, Session& session) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> entries;
  for (const auto& p : line.paths) {
    // A path that does not resolve stays as given, so its failure names it.
    const std::string full = platform::LongPathOf(p);
    entries.push_back(full.empty() ? p : full);
  }
  if (!MakeOutFolder(line, session.settings)) return 1;
  TerminalUi ui(line.quiet, line.skip_existing);
  ui.pick = line.pick;
  ui.json = line.json;
  if (session.colour_from_default && session.settings.C_PixelColor == 1 && !line.quiet && !line.dry_run)
    ui.Note(
        Tr("velmora-cli: note: pictures are reduced to 256 colours, the desktop program's default; "
           "--color full keeps full colour"));
  if (session.trash_ignored && !line.quiet)
    ui.Note(Tr("velmora-cli: note: the settings file asks to move sources to the trash; velmora-cli does so only "
               "with --trash-source"));
  // Plug-ins join before the first file, as in the desktop program.
  Startup startup(session.limits);
  startup.LoadPlugins();
  if (!line.quiet) WarnAbout(startup.plugins());
  BatchSession batch(session.settings, ui, nullptr, startup.loader());
  batch.SetOptions({line.recursive, line.hidden, line.dry_run, line.jobs > 0 ? line.jobs : DefaultJobs(),
                    line.shard_part, line.shard_parts});
  g_stop = &batch.StopFlag();
  InstallSignalHandlers();
  batch.RunBatch(entries);
  g_stop = nullptr;
  if (line.json) {
    ui.summary.wall_s = MillisecondsSince(started) / 1000;
    ui.summary.cpu_s = CpuSeconds();
    std::cout << ui.summary.Line() << '\n' << std::flush;
  }
  if (!line.quiet && !ui.StatusText().empty()) ui.Note(ui.StatusText());
  if (batch.LastBatchStopped()) return 128 + SIGINT;
  return ui.failures > 0 ? 1 : 0;
}

int Run(const std::vector<std::string>& args) {
  const CommandLine line = ParseCommandLine(args);
  if (line.version) {
    std::cout << kVersionText << '\n';
    return 0;
  }
  Session session;
  ReadSettings(line, session);
  ApplyOutFolder(line, session.settings);
  if (line.help) {
    if (line.no_settings)
      std::cout << HelpText(session.settings, session.limits, Tr("none (--no-settings): the desktop program's defaults apply"), true);
    else
      std::cout << HelpText(session.settings, session.limits, session.store.ResolvedPath(), session.store.File().Exists());
    return 0;
  }
  if (line.list_presets) {
    for (const std::string& name : PresetNames()) std::cout << name << '\n';
    return 0;
  }
  if (line.list_formats) {
    Startup startup(session.limits);
    startup.LoadPlugins();
    WarnAbout(startup.plugins());
    std::cout << ReadableFormats(startup.loader(), startup.plugins());
    return 0;
  }
  CheckEffective(line, session.settings);
  if (line.save && !SaveSettings(line, session)) return 1;
  if (line.paths.empty() && line.files_from.empty()) {
    if (line.save) return 0;
    throw UsageError(Tr("no files or folders given"));
  }
  if (!session.settings.AnyFormat()) throw UsageError(Tr("{1} (-f chooses the formats)", {Tr(kNoFormat)}));
  if (line.to_stdout) return ConvertToStdout(line, session);
  if (!line.files_from.empty()) {
    CommandLine with_list = line;
    for (auto& path : ReadList(line.files_from, line.null_separated)) with_list.paths.push_back(std::move(path));
    return Convert(with_list, session);
  }
  return Convert(line, session);
}

}  // namespace
}  // namespace velmora::cli

int main(int argc, char** argv) {
  velmora::platform::UseUserLanguage();
  velmora::platform::CaptureLibraryOutput();
  try {
    return velmora::cli::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const velmora::cli::UsageError& e) {
    std::cerr << velmora::Tr("velmora-cli: {1} (see --help)", {velmora::cli::EscapeControls(e.what())}) << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "velmora-cli: " << velmora::cli::EscapeControls(e.what()) << '\n';
    return 1;
  }
}
