// The conversion pipeline's driver: the batch, the per-file conversion and
// the clipboard capture. Naming outputs (output_naming.h), the source's fate
// (source_fate.h) and preparing a picture (prepare_source.h) are its parts;
// everything it asks of the user goes through the ports.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/string_sink.h"
#include "formats/loader.h"
#include "image/dib_image.h"
#include "pipeline/combined.h"
#include "pipeline/output_naming.h"
#include "pipeline/ports.h"
#include "pipeline/prepare_source.h"
#include "pipeline/settings.h"
#include "pipeline/source_fate.h"
#include "pipeline/writers.h"
#include "platform/platform.h"

namespace velmora {

// Wall-clock milliseconds from a point, for the reports.
inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

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
  void StampFileDate(const std::string& path) { fate_.Stamp(path); }
  // The files inside a folder in name order (our own temporaries left out);
  // with recursion on, those of its subfolders too.
  std::vector<std::string> CollectFolder(const std::string& folder) const;

  const std::string& OutputPath() const { return output_path_; }
  bool OutputAllowed() const { return output_allowed_; }
  double SourceDate() const { return fate_.Date(); }
  int ClipCounter() const { return clip_counter_; }
  ColorValue PickedColor() const { return picked_color_; }
  const std::vector<std::string>& ResultLines() const { return result_lines_; }
  ShellFileOperation& FileOperation() { return fate_.FileOperation(); }
  // Folder of the program, ending in "/" (for the "program's folder" choice).
  void SetProgramFolder(std::string folder) { naming_.program_folder = std::move(folder); }
  // Replaces the writer table (tests inject failing writers).
  void SetWriters(std::vector<FormatWriter> writers) { writers_ = std::move(writers); }
  // Folders are searched to any depth; with a save folder chosen, outputs
  // keep their place below the dropped folder.
  void SetRecursive(bool on) { naming_.recursive = on; }
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
  // Converts only the part-th (1..parts) of parts: every parts-th file of the
  // batch as its folders expand, so that parts runs with the same entries
  // convert each file once. 0 parts: every file.
  void SetShard(int part, int parts) { shard_part_ = part, shard_parts_ = parts; }
  int Jobs() const { return jobs_; }

  // Stops the running batch before its next file: the files done stay
  // listed, the combined outputs are not written and no source of theirs is
  // moved. Safe to call from a signal handler.
  void RequestStop() { stop_.store(true); }
  // Forgets a stop requested while no batch ran.
  void ClearStop() { stop_.store(false); }
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
  // A source decoded, prepared and encoded away from the batch's thread,
  // waiting to be committed in order.
  struct Prepared {
    std::exception_ptr error;  // the load or preparation failed
    std::vector<std::string> warnings;
    PreparedPicture picture;   // the image kept only for the combined outputs
    std::vector<platform::PendingFile> pending;     // per writer: the encoded file, on disk
    std::vector<std::string> bytes;                 // per writer: the encoded file, where it could not be
    std::vector<std::exception_ptr> encode_errors;  // per writer: why it could not be encoded
    double decode_ms = 0, encode_ms = 0;
    int out_width = 0, out_height = 0;  // the prepared size, once the image is dropped
    // What the encoded files hold until committed.
    size_t EncodedBytes() const;
  };
  // How a batch's entries turned out, for its end.
  struct Tally {
    size_t folders = 0;
    size_t folder_files = 0;
  };

  // The batch (converter.cpp).
  void Serve(Request request);
  void RunOneBatch(std::vector<std::string> entries);
  void StartBatch(const std::vector<std::string>& entries);
  std::vector<std::string> OrderEntries(std::vector<std::string> entries);
  std::vector<std::string> OrderFolderFiles(std::vector<std::string> files);
  void RunOrderDialog(OrderDialogData& data);
  Tally ConvertEntries(const std::vector<std::string>& entries);
  void EndStopped();
  void EndBatch(const std::vector<std::string>& entries, const Tally& tally);
  bool FinishCombined(std::unique_ptr<CombinedOutput>& output, bool collected, const std::string& last_entry,
                      const char* extension);
  void CaptureOnce();
  std::unique_ptr<Graphic> LoadClipboardPicture();
  void ReportFailure(const std::string& source, const std::string& reason,
                     SourceReport::Status status = SourceReport::Status::kFailed);
  void AddLine(std::string line);
  // The summary message (unless dialogs are off), with note after the lines,
  // and the results list; empties the lines.
  void ShowResults(MessageKind kind, const std::string& note = "");

  // One source (converter.cpp).
  void ConvertEntry(const std::string& source, Prepared* prepared = nullptr);
  void ConvertPrepared(const std::string& source, Prepared* prepared);
  // Loads and prepares the source on this thread, asking for the picked
  // colour when the settings want it.
  PreparedPicture LoadAndPrepare(const std::string& source, bool clip, const std::string& shown_name);
  void WriteOutputs(const std::string& source, PreparedPicture& picture, Prepared* ready);
  void DecideFate(const std::string& source, bool clip);
  // pending, when valid, holds the file already encoded.
  void WriteOutput(const std::string& source, const std::string& extension,
                   const std::function<void(std::ostream&)>& encode, bool combined = false,
                   platform::PendingFile* pending = nullptr);

  // Several sources at once (converter_jobs.cpp): each made aside, all
  // committed in order. progress_max and first_position drive the bar.
  void ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position);
  void ConvertGroupAside(const std::vector<std::string>& files, int progress_max, size_t first_position);
  Prepared PrepareAside(const std::string& source, const Settings& settings, const NamingContext& naming,
                        ColorValue picked, int x_point, int y_point, bool gif_combined, bool pdf_combined) const;

  Settings& settings_;
  UserInterface& ui_;
  Clipboard* clipboard_;
  const Loader& loader_;
  // What a load asks of the decoders under these settings.
  DecodeRequest DecodeAsked(const Settings& settings) const {
    DecodeRequest request = loader_.Request();
    request.keep_alpha = settings.AlphaWanted();
    request.metadata = settings.V_metadata;
    return request;
  }
  DecodeRequest DecodeAsked() const { return DecodeAsked(settings_); }
  std::vector<FormatWriter> writers_;
  NamingContext naming_;
  BatchGuard guard_;
  SourceFate fate_;
  bool hidden_ = false;
  bool dry_run_ = false;
  int jobs_ = 1;
  // Room of encoded files already written, for the files encoded next.
  mutable SpareStrings spare_strings_;

  std::vector<std::string> result_lines_;
  std::string output_path_;
  bool output_allowed_ = true;
  bool output_redirected_ = false;  // to the pictures folder: the current one cannot be written
  int clip_counter_ = 0;
  ColorValue picked_color_;
  int x_point_ = 0;
  int y_point_ = 0;
  std::vector<std::string> written_;  // outputs written for the current source
  std::unique_ptr<CombinedOutput> animated_gif_;
  std::unique_ptr<CombinedOutput> combined_pdf_;
  bool gif_collected_ = false;  // a frame was added (also in a dry run)
  bool pdf_collected_ = false;
  SourceOutcome outcome_;
  size_t converted_ = 0;  // sources of the batch converted whole
  int64_t batch_started_ = 0;      // seconds since the epoch
  std::set<std::string> swept_;    // folders cleared of killed runs' temporaries

  bool busy_ = false;
  std::deque<Request> queue_;
  std::atomic<bool> stop_{false};
  bool last_stopped_ = false;
  int shard_part_ = 0, shard_parts_ = 0;
  size_t shard_index_ = 0;  // files of the batch met so far
  // The files of a list that fall in this run's part.
  std::vector<std::string> InShard(const std::vector<std::string>& files);
  // The source being converted, as SourceDone reports it.
  SourceReport report_;
  void NoteFailure(const std::string& reason, SourceReport::Status status);
  void SendReport();
};

}  // namespace velmora
