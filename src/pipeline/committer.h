// What becomes of each source's outputs, in the batch's order: each is
// named (the batch's guard against replacing its pictures, the overwrite
// question), committed (the file a job made given its name), dated and
// listed; the source's date and fate; the result lines and the report of
// every source. One committer serves one job or many alike.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/messages.h"
#include "formats/output_format.h"
#include "pipeline/output_naming.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"
#include "pipeline/source_fate.h"
#include "pipeline/source_job.h"
#include "pipeline/writers.h"

namespace velmora {

// "n B" up to 1024 bytes, otherwise n div 1024 followed by " KB".
std::string SizeText(int64_t bytes);

// Shown through Tr(); the constants are the keys.
inline constexpr const char* kDropCaption = N_("ここにファイルをドロップしてね。");
inline constexpr const char* kNoFormat = N_("変換先フォーマットが指定されていません。");
inline constexpr const char* kBatchDone = N_("変換が終了しました。");
inline constexpr const char* kBatchStopped = N_("変換を中止しました。");

// A batch-wide file (the animated GIF, the combined PDF): the writer whose
// format makes it, the file being collected, and whether anything joined.
struct CombinedSlot {
  size_t writer = 0;  // its index in the writers
  std::unique_ptr<CombinedOutput> output;
  bool collected = false;
};
using CombinedOutputs = std::vector<CombinedSlot>;

class Committer {
 public:
  Committer(Settings& settings, UserInterface& ui, const std::vector<FormatWriter>& writers,
            const NamingContext& naming);

  // A batch starts: its sources are what no output may replace; its lines,
  // its guard and the folders it cleared are forgotten.
  void StartBatch(const std::vector<std::string>& sources);
  // Resolves and lists every output without writing or asking anything.
  void SetDryRun(bool on) { dry_run_ = on; }

  // Sets OutputPath and OutputAllowed for a source and extension (may ask
  // before overwriting); combined selects the batch-wide files' naming.
  // Raises OutputRefused for a path that holds a picture of this batch.
  void ResolveOutputPath(const std::string& source, const std::string& extension, bool combined = false);
  const std::string& OutputPath() const { return output_path_; }
  bool OutputAllowed() const { return output_allowed_; }
  double SourceDate() const { return fate_.Date(); }
  // Gives a file the recorded SourceDate; raises when it cannot be opened.
  void StampFileDate(const std::string& path) { fate_.Stamp(path); }
  ShellFileOperation& FileOperation() { return fate_.FileOperation(); }

  // One source: begun, its outputs committed, its fate decided, its report
  // sent. Commit raises for a failure that fails the whole source (its
  // load, or an output of the desktop's eight); the caller reports it.
  void BeginSource(const std::string& source, std::optional<platform::FileId> id);
  SourceReport& Report() { return report_; }
  void Commit(const std::string& source, JobResult& result, CombinedOutputs& combined, ColorValue picked_color);
  // The source leaves (the trash) once everything it asked for exists, a
  // source of a batch-wide file only once that file is written; dates are
  // stamped. Returns whether the source was converted whole.
  bool EndSource(const std::string& source, bool clip);
  void SendReport();

  // The reason to the log, the box (unless dialogs are off), the line.
  void ReportFailure(const std::string& source, const std::string& reason,
                     SourceReport::Status status = SourceReport::Status::kFailed);

  // Writes a batch-wide file under the last entry's name; whether it was
  // written. The deferred sources then leave for the files written.
  bool FinishCombined(CombinedSlot& slot, const std::string& last_entry);
  void ReleaseDeferred(const std::vector<size_t>& written);
  // A batch-wide file that was not written, with why: the warning and its
  // report (skipped).
  void ReportUnwritten(const std::string& last_entry, const std::string& why);
  void DropDeferred() { fate_.DropDeferred(); }

  void AddLine(std::string line);
  void DropLines() { result_lines_.clear(); }
  const std::vector<std::string>& ResultLines() const { return result_lines_; }
  // The summary message (unless dialogs are off), with note after the
  // lines, and the results list; empties the lines.
  void ShowResults(MessageKind kind, const std::string& note = "");

 private:
  void WriteOutput(const std::string& source, const FormatWriter& writer, EncodedOutput* output, bool combined = false,
                   const std::function<void(std::ostream&)>& make = nullptr);
  void NoteFailure(const std::string& reason, SourceReport::Status status);

  Settings& settings_;
  UserInterface& ui_;
  const std::vector<FormatWriter>& writers_;
  const NamingContext& naming_;
  bool dry_run_ = false;
  BatchGuard guard_;
  SourceFate fate_;
  std::vector<std::string> result_lines_;
  std::string output_path_;
  bool output_allowed_ = true;
  bool output_redirected_ = false;  // to the pictures folder: the current one cannot be written
  std::vector<std::string> written_;  // outputs written for the current source
  bool incomplete_ = false;           // an output of the source failed, was refused or declined
  std::vector<size_t> joined_;        // the batch-wide files the source joined (their writers)
  SourceReport report_;
  std::map<std::string, int64_t> positions_;  // each source's place in the batch, from 1
  NameFields fields_;                         // the name pattern's values for the current source
  int64_t batch_started_ = 0;    // seconds since the epoch
  std::set<std::string> swept_;  // folders cleared of killed runs' temporaries
};

}  // namespace velmora
