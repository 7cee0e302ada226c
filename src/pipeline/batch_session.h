// A batch: its entries (files, folders walked in name order, a shard of
// them), the order dialog, the sources made one at a time or by several
// jobs (SourceJob) and committed in the batch's order (Committer), the
// batch-wide files of the output table's combine rows, stop, the tally and
// the final message; and the clipboard capture. Everything it asks of the
// user goes through the ports.
#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/string_sink.h"
#include "formats/loader.h"
#include "pipeline/batch_entries.h"
#include "pipeline/committer.h"
#include "pipeline/output_naming.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"
#include "pipeline/writers.h"

namespace velmora {

// How a batch runs, set before it: folders searched to any depth (with a
// save folder, outputs keep their place below the dropped folder) and their
// hidden subfolders, a dry run (every output resolved and listed, nothing
// read, asked or written), how many sources are made at once (outputs,
// lines and questions stay in the batch's order; the picker, a dry run and
// the clipboard run as one), and the part-th (1..parts) of parts of the
// files (0: all).
struct BatchOptions {
  bool recursive = false;
  bool hidden = false;
  bool dry_run = false;
  int jobs = 1;
  int shard_part = 0, shard_parts = 0;
};

class BatchSession {
 public:
  BatchSession(Settings& settings, UserInterface& ui, Clipboard* clipboard, const Loader& loader);
  ~BatchSession();

  // Converts dropped files and folders; never raises for a failing file. A
  // batch requested while one runs is queued and runs after it.
  void RunBatch(std::vector<std::string> entries);
  // The clipboard command; never raises.
  void CaptureClipboard();

  // Set before a batch; program_folder ends in "/".
  void SetOptions(const BatchOptions& options, const std::string& program_folder = "");
  // Replaces the writer table (tests put failing writers in).
  void SetWriters(std::vector<FormatWriter> writers) { writers_ = std::move(writers); }

  // Stops the running batch before its next file: the files done stay
  // listed, the batch-wide files are not written and no source of theirs
  // is moved. Safe to call from a signal handler (the flag alone).
  void RequestStop() { stop_.store(true); }
  std::atomic<bool>& StopFlag() { return stop_; }
  // Forgets a stop requested while no batch ran.
  void ClearStop() { stop_.store(false); }
  // Whether the last batch ended because of a stop.
  bool LastBatchStopped() const { return last_stopped_; }

  // The naming and the source's fate, as the described windows name them.
  Committer& Commits() { return committer_; }
  int ClipCounter() const { return clip_counter_; }
  ColorValue PickedColor() const { return picked_color_; }

 private:
  struct Request {
    bool clipboard = false;
    std::vector<std::string> entries;
  };
  struct Tally {
    size_t folders = 0;
    size_t folder_files = 0;
  };

  void Serve(Request request);
  void RunOneBatch(std::vector<std::string> entries);
  void StartBatch(const std::vector<std::string>& entries);
  Tally ConvertEntries(const std::vector<std::string>& entries);
  void ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position);
  void ConvertGroupAside(const std::vector<std::string>& files, int progress_max, size_t first_position);
  void EndStopped();
  void EndBatch(const std::vector<std::string>& entries, const Tally& tally);
  void CaptureOnce();

  // One source, made here (made: by a job already) and committed; its
  // failure reported. ConvertOne raises it instead, and says whether the
  // source was converted whole.
  void ConvertSource(const std::string& source, JobResult* made = nullptr);
  bool ConvertOne(const std::string& source, JobResult* made = nullptr);
  // Made on this thread: loaded, the picker asked when the settings want
  // it, prepared and encoded.
  JobResult MakeHere(const std::string& source, bool clip, std::string& shown);
  JobPlan PlanFor(const Settings& settings) const;
  // The limits, the stop flag and scratch files in $TMPDIR; a job adds its
  // own account of memory and the folders of its outputs.
  ConversionContext Context() const;

  Settings& settings_;
  UserInterface& ui_;
  Clipboard* clipboard_;
  const Loader& loader_;
  std::vector<FormatWriter> writers_;
  NamingContext naming_;
  Committer committer_;
  // What the batch-wide files are made with: they outlive any one source.
  ConversionContext context_;
  CombinedOutputs combined_;
  BatchOptions options_;
  size_t shard_index_ = 0;  // files of the batch met so far
  // Room of encoded files already committed, for the files encoded next.
  mutable SpareStrings spare_strings_;
  int clip_counter_ = 0;
  ColorValue picked_color_;
  int x_point_ = 0, y_point_ = 0;
  size_t converted_ = 0;  // sources of the batch converted whole
  bool busy_ = false;
  std::deque<Request> queue_;
  std::atomic<bool> stop_{false};
  bool last_stopped_ = false;
};

}  // namespace velmora
