// One source through a conversion, the same way for one job, several jobs
// and --stdout: read and decode it (Load), then prepare it and encode every
// output it is to have (Finish), each encoded file waiting on disk,
// unnamed, or in memory for its commit. A job knows no output's name, asks
// nothing and writes no line: that is the Committer's.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/string_sink.h"
#include "formats/loader.h"
#include "image/conversion_context.h"
#include "pipeline/jobs_budget.h"
#include "pipeline/prepare_source.h"
#include "pipeline/settings.h"
#include "pipeline/writers.h"
#include "platform/platform.h"

namespace velmora {

// Why something failed, as the user and a script are told.
struct Failure {
  ErrorKind kind = ErrorKind::kInternal;
  std::string reason;
};
// The failure an exception stands for: an Error's kind and text; memory
// running out as too large, with what was being made (what); anything else
// as internal with its text.
Failure FailureOf(const std::exception_ptr& error, const std::string& what = "");

// What a job reads: a file by its path, bytes with no name, or a picture
// already in a graphic (the clipboard's).
struct SourceInput {
  std::string path;
  const std::vector<uint8_t>* bytes = nullptr;
  std::function<std::unique_ptr<Graphic>()> graphic = nullptr;
};

// What a job makes, and where its files wait.
struct JobPlan {
  const Settings* settings = nullptr;  // as they were when the job was given
  const std::vector<FormatWriter>* writers = nullptr;
  // The picker's colour and point on the picture as loaded (none: -1).
  ColorValue picked_color = kNoColor;
  int x_point = -1, y_point = -1;
  bool picker_shown = false;
  // The batch makes one file of this writer's format from every source:
  // the prepared picture is kept for it instead of a file of its own.
  std::function<bool(const FormatWriter&)> combined;
  // The folder each output will most likely be named in, where its file
  // waits; empty: it waits in memory.
  std::function<std::string(const FormatWriter&)> folder;
  int jobs = 1;  // how many run at once: the room a waiting file needs grows with it
};

// One output of a job: its file, on disk or in memory, or why it could
// not be made.
struct EncodedOutput {
  bool made = false;  // false: not ticked, or taken by a batch-wide file
  platform::PendingFile pending;
  std::string bytes;
  std::optional<Failure> failure;
};

struct JobResult {
  std::optional<Failure> failure;  // reading, decoding or preparing failed
  std::vector<std::string> warnings;
  PreparedPicture picture;             // kept when a batch-wide file takes it
  std::vector<EncodedOutput> outputs;  // per writer
  int loaded_width = 0, loaded_height = 0;
  int out_width = 0, out_height = 0;
  double decode_ms = 0, encode_ms = 0;
  // What waits in memory until the commit.
  size_t Held() const;
};

class SourceJob {
 public:
  // context: the limits and the stop flag; share: the job's room in the
  // jobs' memory budget (none: one job); spare: room of files already
  // committed, for the files that wait in memory.
  SourceJob(const Loader& loader, const ConversionContext& context, JobsBudget::Share* share = nullptr,
            SpareStrings* spare = nullptr);

  // Reads and decodes the source, in sRGB, with what it carried that the
  // plan's settings want; raises. Warnings join warnings.
  LoadedPicture Load(const SourceInput& input, const JobPlan& plan, std::vector<std::string>& warnings);
  // Prepares the picture and encodes the plan's outputs; never raises.
  JobResult Finish(LoadedPicture loaded, const JobPlan& plan);
  // Load, then Finish; never raises.
  JobResult Run(const SourceInput& input, const JobPlan& plan);

 private:
  // What the job will need in memory for a picture of width x height.
  uint64_t Need(int64_t width, int64_t height, const JobPlan& plan) const;

  const Loader& loader_;
  ConversionContext context_;
  JobsBudget::Share* share_;
  SpareStrings* spare_;
};

}  // namespace velmora
