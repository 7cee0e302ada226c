// The conversion pipeline: the batch driver, the per-file conversion, output
// naming with the overwrite question, dates, the source's fate and the
// clipboard capture. Everything it asks of the user goes through the ports.
#pragma once

#include <atomic>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "pipeline/combined.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"
#include "base/messages.h"
#include "base/string_sink.h"
#include "pipeline/shell_file_operation.h"
#include "pipeline/writers.h"
#include "platform/platform.h"
#include "formats/loader.h"
#include "image/dib_image.h"

namespace velmora {

// Shown through Tr(); the constants are the keys.
inline constexpr const char* kDropCaption = N_("ここにファイルをドロップしてね。");
inline constexpr const char* kNoFormat = N_("変換先フォーマットが指定されていません。");
inline constexpr const char* kBatchDone = N_("変換が終了しました。");
inline constexpr const char* kBatchStopped = N_("変換を中止しました。");

// "n B" up to 1024 bytes, otherwise n div 1024 followed by " KB".
std::string SizeText(int64_t bytes);

// The order a file manager shows names in: letters without regard to case,
// runs of digits by their value ("a2" before "a10"), ties by bytes.
bool NameOrderLess(const std::string& a, const std::string& b);

// An output that must not be written because it would destroy a picture the
// user has: the source itself, another source of the batch, or a file this
// batch wrote already. The source fails for that output; the others go on.
class OutputRefused : public Error {
 public:
  using Error::Error;
};

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
  // Raises OutputRefused for a path that holds a picture of this batch.
  void ResolveOutputPath(const std::string& source, const std::string& extension, bool combined = false);
  // Gives a file the recorded SourceDate; raises when it cannot be opened.
  void StampFileDate(const std::string& path);
  // The files inside a folder in name order (our own temporaries left out);
  // with recursion on, those of its subfolders too.
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
  // Folders are searched to any depth; with a save folder chosen, outputs
  // keep their place below the dropped folder.
  void SetRecursive(bool on) { recursive_ = on; }
  // Whether a recursive walk descends into hidden folders (names starting with ".").
  void SetHidden(bool on) { hidden_ = on; }
  // Resolves and lists every output without reading a picture, asking or
  // writing anything.
  void SetDryRun(bool on) { dry_run_ = on; }

  // How many sources are decoded, prepared and encoded at once; 1 converts
  // them one after another. Whatever the number, outputs are written, lines
  // added and questions asked in the batch's order, so the results are
  // those of one job. A batch with the per-picture colour picker, a dry run
  // and the clipboard run as one job.
  void SetJobs(int jobs) { jobs_ = jobs < 1 ? 1 : jobs; }
  int Jobs() const { return jobs_; }

  // Stops the running batch before its next file: the files done stay
  // listed, the combined outputs are not written and no source of theirs is
  // moved. Safe to call from a signal handler.
  void RequestStop() { stop_.store(true); }
  // Whether the last batch ended because of RequestStop.
  bool LastBatchStopped() const { return last_stopped_; }

 private:
  struct Request {
    bool clipboard = false;
    std::vector<std::string> entries;
  };
  // What became of the source being converted.
  struct SourceOutcome {
    bool incomplete = false;  // an output failed, was refused or declined
    bool in_gif = false;      // a frame went into the animated GIF
    bool in_pdf = false;      // a page went into the combined PDF
  };
  // A converted source whose move to the trash waits for the combined outputs.
  struct PendingFate {
    std::string source;
    bool gif;
    bool pdf;
  };
  // A source decoded, prepared and encoded away from the batch's thread,
  // waiting to be committed in order.
  struct Prepared {
    std::exception_ptr error;  // the load or preparation failed
    std::vector<std::string> warnings;
    DibImage image;            // kept only for the combined outputs
    FrameOptions frame;
    std::vector<std::string> bytes;              // per writer: the encoded file
    std::vector<std::exception_ptr> encode_errors;  // per writer: why it could not be encoded
  };
  // Room of encoded files already written, for the files encoded next.
  mutable SpareStrings spare_strings_;
  Prepared PrepareAside(const std::string& source, const Settings& settings, ColorValue picked, int x_point,
                        int y_point, bool gif_combined, bool pdf_combined) const;
  // Converts files as one group: several at once when jobs allow, each
  // committed in order. progress_max and first_position drive the bar.
  void ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position);
  void Serve(Request request);
  void RunOneBatch(std::vector<std::string> entries);
  void CaptureOnce();
  void ConvertEntry(const std::string& source, Prepared* prepared = nullptr);
  void ConvertPrepared(const std::string& source, Prepared* prepared);
  void ReportFailure(const std::string& source, const std::string& reason);
  void AddLine(std::string line);
  // The summary message (unless dialogs are off) and the results list; empties the lines.
  void ShowResults(MessageKind kind);
  void RunOrderDialog(OrderDialogData& data);
  bool FinishCombined(std::unique_ptr<CombinedOutput>& output, bool collected, const std::string& last_entry,
                      const char* extension);
  void WriteOutput(const std::string& source, const std::string& extension,
                   const std::function<void(std::ostream&)>& encode, bool combined = false);
  void CheckNotProtected(const std::string& path) const;
  void MoveSourceToTrash(const std::string& source);
  void ProtectBatchSources(const std::vector<std::string>& entries);
  std::unique_ptr<Graphic> LoadClipboardPicture();

  Settings& settings_;
  UserInterface& ui_;
  Clipboard* clipboard_;
  const Loader& loader_;
  std::vector<FormatWriter> writers_;
  ShellFileOperation file_operation_;
  std::string program_folder_;
  bool recursive_ = false;
  bool hidden_ = false;
  bool dry_run_ = false;
  int jobs_ = 1;

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
  bool gif_collected_ = false;  // a frame was added (also in a dry run)
  bool pdf_collected_ = false;

  // Pictures of the batch that no output may replace: every source, and
  // every file the batch wrote (with the source that wrote it).
  std::set<platform::FileId> batch_sources_;
  std::map<platform::FileId, std::string> written_by_;
  std::optional<platform::FileId> current_source_id_;
  std::string folder_base_;  // the dropped folder whose files are converted, with "/"
  SourceOutcome outcome_;
  std::vector<PendingFate> pending_fate_;

  bool busy_ = false;
  std::deque<Request> queue_;
  std::atomic<bool> stop_{false};
  bool last_stopped_ = false;
};

}  // namespace velmora
