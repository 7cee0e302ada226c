// The conversion pipeline: the batch driver, the per-file conversion, output
// naming with the overwrite question, dates, the source's fate and the
// clipboard capture. Everything it asks of the user goes through the ports.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/combined.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"
#include "pipeline/shell_file_operation.h"
#include "pipeline/writers.h"
#include "readers/loader.h"

namespace velmora {

inline constexpr const char* kDropCaption = "ここにファイルをドロップしてね。";
inline constexpr const char* kNoFormat = "変換先フォーマットが指定されていません。";
inline constexpr const char* kBatchDone = "変換が終了しました。";

// "n B" up to 1024 bytes, otherwise n div 1024 followed by " KB".
std::string SizeText(int64_t bytes);

class Converter {
 public:
  Converter(Settings& settings, UserInterface& ui, Clipboard* clipboard, const Loader& loader);
  ~Converter();

  // Converts dropped files and folders; never raises for a failing file. A
  // batch requested while one runs is queued and runs after it.
  void RunBatch(std::vector<std::string> entries);
  // Converts one source ("Clip" is the clipboard); raises on failure.
  void ConvertOne(const std::string& source);
  // The clipboard command; never raises.
  void CaptureClipboard();
  // Sets OutputPath and OutputAllowed for a source and extension (may ask
  // before overwriting); combined selects the combined outputs' naming.
  void ResolveOutputPath(const std::string& source, const std::string& extension, bool combined = false);
  // Gives a file the recorded SourceDate; raises when it cannot be opened.
  void StampFileDate(const std::string& path);
  // The files directly inside a folder, in the file system's order.
  std::vector<std::string> CollectFolder(const std::string& folder) const;

  const std::string& OutputPath() const { return output_path_; }
  bool OutputAllowed() const { return output_allowed_; }
  double SourceDate() const { return source_date_; }
  int ClipCounter() const { return clip_counter_; }
  ColorValue PickedColor() const { return picked_color_; }
  const std::vector<std::string>& ResultLines() const { return result_lines_; }
  ShellFileOperation& FileOperation() { return file_operation_; }
  // Folder of the program, ending in "/" (for the "program's folder" choice).
  void SetProgramFolder(std::string folder) { program_folder_ = std::move(folder); }
  // Replaces the writer table (tests inject failing writers).
  void SetWriters(std::vector<FormatWriter> writers) { writers_ = std::move(writers); }

 private:
  struct Request {
    bool clipboard = false;
    std::vector<std::string> entries;
  };
  void Serve(Request request);
  void RunOneBatch(std::vector<std::string> entries);
  void CaptureOnce();
  void ConvertEntry(const std::string& source);
  void ReportFailure(const std::string& source, const std::exception& error);
  // The summary message (unless dialogs are off) and the results list; empties the lines.
  void ShowResults(MessageKind kind);
  void RunOrderDialog(OrderDialogData& data);
  void FinishCombined(std::unique_ptr<CombinedOutput>& output, const std::string& last_entry, const char* extension);
  void WriteOutput(const std::string& source, const std::string& extension,
                   const std::function<void(std::ostream&)>& encode, bool combined = false);
  std::unique_ptr<Graphic> LoadClipboardPicture();

  Settings& settings_;
  UserInterface& ui_;
  Clipboard* clipboard_;
  const Loader& loader_;
  std::vector<FormatWriter> writers_;
  ShellFileOperation file_operation_;
  std::string program_folder_;

  std::vector<std::string> result_lines_;
  std::string output_path_;
  bool output_allowed_ = true;
  double source_date_ = 0;
  bool source_date_found_ = false;
  int clip_counter_ = 0;
  ColorValue picked_color_;
  int x_point_ = 0;
  int y_point_ = 0;
  std::vector<std::string> written_;  // outputs written for the current source
  std::unique_ptr<CombinedOutput> animated_gif_;
  std::unique_ptr<CombinedOutput> combined_pdf_;
  bool busy_ = false;
  std::deque<Request> queue_;
};

}  // namespace velmora
