#include "pipeline/batch_session.h"

#include <algorithm>
#include <chrono>

#include "base/paths.h"
#include "base/scratch.h"
#include "image/pixel_memory.h"
#include "pipeline/jobs_ahead.h"
#include "pipeline/source_job.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// Line breaks inside message texts: a line feed, then a carriage return.
constexpr const char* kMessageBreak = "\n\r";

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

BatchSession::BatchSession(Settings& settings, UserInterface& ui, Clipboard* clipboard, const Loader& loader)
    : settings_(settings),
      ui_(ui),
      clipboard_(clipboard),
      loader_(loader),
      writers_(DefaultWriters()),
      naming_{platform::ProgramFolder(), "", false},
      committer_(settings, ui, writers_, naming_),
      context_(Context()),
      picked_color_(MakeColor(240, 240, 240)) {}

BatchSession::~BatchSession() = default;

void BatchSession::SetOptions(const BatchOptions& options, const std::string& program_folder) {
  options_ = options;
  options_.jobs = std::max(options.jobs, 1);
  naming_.recursive = options.recursive;
  if (!program_folder.empty()) naming_.program_folder = program_folder;
  committer_.SetDryRun(options.dry_run);
}

void BatchSession::RunBatch(std::vector<std::string> entries) { Serve(Request{false, std::move(entries)}); }

void BatchSession::CaptureClipboard() { Serve(Request{true, {}}); }

void BatchSession::Serve(Request request) {
  // Batch state is shared, so a request arriving while a batch lets pending
  // events run waits for that batch to end.
  if (busy_) {
    queue_.push_back(std::move(request));
    return;
  }
  busy_ = true;
  struct Idle {
    bool& busy;
    SpareStrings& spare;
    ~Idle() {
      busy = false;
      // The encoders' buffers are kept through a batch, not after it: an idle
      // desktop program holds no picture-sized memory.
      ReleaseScratch();
      ReleaseKeptPixelMemory();
      spare.Release();
    }
  } idle{busy_, spare_strings_};
  queue_.push_back(std::move(request));
  while (!queue_.empty()) {
    Request next = std::move(queue_.front());
    queue_.pop_front();
    if (next.clipboard)
      CaptureOnce();
    else
      RunOneBatch(std::move(next.entries));
  }
}

ConversionContext BatchSession::Context() const {
  ConversionContext context;
  context.limits = loader_.Limits();
  context.stop = &stop_;
  context.scratch = [] { return std::make_unique<platform::SpoolFile>(); };
  return context;
}

JobPlan BatchSession::PlanFor(const Settings& settings) const {
  JobPlan plan;
  plan.settings = &settings;
  plan.writers = &writers_;
  plan.picked_color = picked_color_;
  plan.x_point = x_point_, plan.y_point = y_point_;
  std::vector<bool> combined(writers_.size(), false);
  for (const CombinedSlot& slot : combined_) combined[slot.writer] = true;
  plan.combined = [combined, this](const FormatWriter& writer) {
    return combined[static_cast<size_t>(&writer - writers_.data())];
  };
  plan.jobs = options_.jobs;
  return plan;
}

// --- the batch --------------------------------------------------------------

void BatchSession::RunOneBatch(std::vector<std::string> entries) {
  StartBatch(entries);
  // Each batch-wide file's order, the table's last first, each from the
  // order before it.
  if (entries.size() >= 2)
    for (auto slot = combined_.rbegin(); slot != combined_.rend(); ++slot)
      entries = AskOrder(ui_, settings_, writers_[slot->writer].row->order_caption, std::move(entries), true);
  shard_index_ = 0;
  last_stopped_ = false;
  const Tally tally = ConvertEntries(entries);
  if (stop_.exchange(false)) {
    EndStopped();
    return;
  }
  EndBatch(entries, tally);
}

void BatchSession::StartBatch(const std::vector<std::string>& entries) {
  ui_.ShowProgress(true);
  ui_.SetProgressPosition(0);
  ui_.SetStatusText("");
  ui_.ClearResults();
  // The batch-wide files of the ticked formats that ask for one, in the
  // table's order.
  context_ = Context();
  combined_.clear();
  for (size_t k = 0; k < writers_.size(); ++k) {
    const FormatWriter& writer = writers_[k];
    if (writer.Combined(settings_) && writer.Format().combine)
      combined_.push_back({k, writer.Format().combine(OptionsFor(settings_, {settings_, kNoColor, {}, {}, &context_})), false});
  }
  converted_ = 0;
  std::vector<std::string> sources;
  for (const auto& entry : entries) {
    if (!platform::FolderExists(entry)) {
      sources.push_back(entry);
      continue;
    }
    for (const auto& file : CollectFolder(entry, options_.recursive, options_.hidden)) sources.push_back(file);
  }
  committer_.StartBatch(sources);
}

BatchSession::Tally BatchSession::ConvertEntries(const std::vector<std::string>& entries) {
  Tally tally;
  size_t r = 0;
  while (r < entries.size() && !stop_) {
    const std::string& entry = entries[r];
    ui_.ProcessPendingEvents();
    if (stop_) break;
    if (platform::FolderExists(entry)) {
      ++tally.folders;
      std::vector<std::string> files = CollectFolder(entry, options_.recursive, options_.hidden);
      if (files.size() >= 2 && !combined_.empty())
        files = AskOrder(ui_, settings_, writers_[combined_.back().writer].row->order_caption, std::move(files), false);
      files = InShard(files, options_.shard_part, options_.shard_parts, shard_index_);
      tally.folder_files += files.size();
      naming_.folder_base = entry.back() == '/' ? entry : entry + "/";
      ConvertGroup(files, static_cast<int>(files.size()), 0);
      naming_.folder_base.clear();
      ++r;
      continue;
    }
    // The files up to the next folder form one group.
    size_t end = r + 1;
    while (end < entries.size() && !platform::FolderExists(entries[end])) ++end;
    ConvertGroup(InShard(std::vector<std::string>(entries.begin() + static_cast<long>(r),
                                                  entries.begin() + static_cast<long>(end)),
                         options_.shard_part, options_.shard_parts, shard_index_),
                 static_cast<int>(entries.size()), r);
    r = end;
  }
  return tally;
}

void BatchSession::ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position) {
  if (options_.jobs > 1 && files.size() >= 2 && !options_.dry_run && !settings_.PickerWanted() && settings_.AnyFormat()) {
    ConvertGroupAside(files, progress_max, first_position);
    return;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) ui_.ProcessPendingEvents();
    if (stop_) break;
    ui_.SetProgressMax(progress_max);
    ConvertSource(files[i]);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
}

void BatchSession::ConvertGroupAside(const std::vector<std::string>& files, int progress_max,
                                     size_t first_position) {
  // The jobs see the settings as they are when the group starts; the
  // commits read them live, as one job does.
  const Settings snapshot = settings_;
  const NamingContext naming = naming_;
  JobPlan base = PlanFor(snapshot);
  JobsAhead ahead(options_.jobs, loader_.Limits().max_memory, files.size(),
                  [&](size_t index, JobsBudget::Share& share) -> JobResult {
                    const std::string& file = files[index];
                    // Our own temporaries are refused when committed: nothing to make.
                    if (platform::IsOurTemporary(FileNameOf(file))) return JobResult{};
                    JobPlan plan = base;
                    plan.folder = [&](const FormatWriter& writer) {
                      return FolderOf(OutputPathFor(snapshot, naming, file, writer.Extension(), false));
                    };
                    SourceJob job(loader_, Context(), &share, &spare_strings_);
                    return job.Run(SourceInput{file}, plan);
                  });
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) ui_.ProcessPendingEvents();
    if (stop_) break;
    ui_.SetProgressMax(progress_max);
    JobResult made = ahead.Next([this] { ui_.ProcessPendingEvents(); });
    const size_t held = made.Held();
    ConvertSource(files[i], &made);
    ahead.Committed(i, held);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
}

void BatchSession::EndStopped() {
  // What was done stays listed; nothing combined is written, so nothing
  // waits for the trash. The message says so, lines or none.
  last_stopped_ = true;
  std::string note = Tr("Stopped: {1} of the files were converted.", {std::to_string(converted_)});
  for (auto slot = combined_.rbegin(); slot != combined_.rend(); ++slot)
    if (slot->collected) note += kMessageBreak + std::string(Tr(writers_[slot->writer].row->dropped_note));
  combined_.clear();
  committer_.DropDeferred();
  ui_.ShowProgress(false);
  ui_.SetStatusText(Tr(kBatchStopped));
  ui_.SetDropCaption(Tr(kDropCaption));
  committer_.ShowResults(MessageKind::kFinal, note);
}

void BatchSession::EndBatch(const std::vector<std::string>& entries, const Tally& tally) {
  const bool nothing_found = entries.empty() || (tally.folders == entries.size() && tally.folder_files == 0);
  const bool collected = std::any_of(combined_.begin(), combined_.end(), [](const CombinedSlot& s) { return s.collected; });
  if (!combined_.empty() && nothing_found && !collected) {
    // An empty batch of batch-wide files ends silently.
    combined_.clear();
    committer_.DropLines();
    ui_.ShowProgress(false);
    return;
  }
  std::vector<size_t> written;
  std::string note;
  if (!entries.empty())
    for (CombinedSlot& slot : combined_) {
      if (committer_.FinishCombined(slot, entries.back())) written.push_back(slot.writer);
      // One that collected nothing says so, naming the file it would have been.
      if (!slot.collected) {
        const FormatWriter& writer = writers_[slot.writer];
        const std::string path = OutputPathFor(settings_, naming_, entries.back(), writer.Extension(), true);
        const std::string empty = Tr(writer.row->empty_note, {path});
        committer_.ReportUnwritten(entries.back(), empty);
        note += (note.empty() ? "" : kMessageBreak) + empty;
      }
    }
  combined_.clear();
  // Sources of the batch-wide files leave only once those files exist.
  committer_.ReleaseDeferred(written);
  ui_.ShowProgress(false);
  if (ui_.StatusText().empty()) ui_.SetStatusText(Tr(kBatchDone));
  ui_.SetDropCaption(Tr(kDropCaption));
  committer_.ShowResults(MessageKind::kFinal, note);
}

void BatchSession::CaptureOnce() {
  committer_.StartBatch({});
  ui_.ClearResults();
  if (clipboard_ && clipboard_->HasBitmap()) {
    try {
      committer_.BeginSource("Clip", std::nullopt);
      ConvertOne("Clip");
    } catch (const std::exception& e) {
      const char* text = Tr("クリップボードから保存できません。");
      if (!settings_.A_dialog) ui_.ShowMessage(MessageKind::kClipboard, text);
      ui_.SetStatusText(text);
      ui_.LogFailure("Clip", e.what());
    }
  } else {
    const char* text = Tr("クリップボードに画像が入っていません。");
    if (!settings_.A_dialog) ui_.ShowMessage(MessageKind::kClipboard, text);
    ui_.SetStatusText(text);
  }
  committer_.ShowResults(MessageKind::kClipboard);
  ui_.SetDropCaption(Tr(kDropCaption));
}

// --- one source ---------------------------------------------------------------

void BatchSession::ConvertSource(const std::string& source, JobResult* made) {
  committer_.BeginSource(source, platform::IdentityOf(source));
  if (made) committer_.Report().decode_ms = made->decode_ms, committer_.Report().encode_ms = made->encode_ms;
  try {
    if (ConvertOne(source, made)) ++converted_;
  } catch (const std::exception& e) {
    committer_.ReportFailure(source, e.what());
  }
  committer_.SendReport();
}

bool BatchSession::ConvertOne(const std::string& source, JobResult* made) {
  if (!settings_.AnyFormat()) {
    ui_.SetStatusText(Tr(kNoFormat));
    return true;
  }
  ui_.SetDropCaption(Tr("{1}を変換中", {source}));
  const bool clip = source == "Clip";
  if (!clip && platform::IsOurTemporary(FileNameOf(source)))
    throw Error(ErrorKind::kUnsupported,
                Tr("it is a temporary file left by an interrupted conversion; it is not converted"));
  // A clipboard capture is named by its number once it is read.
  std::string shown = source;
  JobResult result;
  if (made) {
    // A source that could not be read fails before anything is shown of it.
    if (made->failure && made->loaded_width == 0) throw Error(made->failure->kind, made->failure->reason);
    for (const auto& warning : made->warnings) ui_.LogWarning(source, warning);
    ui_.StepProgress();
    result = std::move(*made);
  } else if (!options_.dry_run) {
    result = MakeHere(source, clip, shown);
    committer_.Report().decode_ms = result.decode_ms, committer_.Report().encode_ms = result.encode_ms;
  } else {
    result.picture.frame.trans = settings_.C_Trans;  // a dry run reads no picture: it only resolves the outputs
    if (clip) shown = "Clip" + std::to_string(++clip_counter_);
  }
  committer_.Commit(shown, result, combined_, picked_color_);
  return committer_.EndSource(source, clip);
}

JobResult BatchSession::MakeHere(const std::string& source, bool clip, std::string& shown) {
  const auto started = std::chrono::steady_clock::now();
  SourceJob job(loader_, Context(), nullptr, &spare_strings_);
  JobPlan plan = PlanFor(settings_);
  plan.folder = [&](const FormatWriter& writer) {
    return FolderOf(OutputPathFor(settings_, naming_, source, writer.Extension(), false));
  };
  SourceInput input{source};
  if (clip)
    input.graphic = [this] {
      if (clipboard_) {
        for (uint32_t format : clipboard_->Formats()) {
          if (const GraphicClass* cls = loader_.Registry().FindClipboardFormat(format)) {
            auto graphic = cls->create();
            graphic->SetLimits(loader_.Limits());
            graphic->LoadFromClipboardFormat(format, clipboard_->Data(format));
            return graphic;
          }
        }
      }
      throw Error(ErrorKind::kUnsupported, Tr("無効なクリップボード フォーマットです"));
    };
  std::vector<std::string> warnings;
  LoadedPicture loaded = job.Load(input, plan, warnings);
  const std::string name = clip ? "Clip" + std::to_string(++clip_counter_) : shown;
  for (const auto& warning : warnings) ui_.LogWarning(name, warning);
  ui_.StepProgress();
  if (settings_.PickerWanted()) {
    x_point_ = y_point_ = 0;
    const Bitmap& working = loaded.working;
    if (auto click = ui_.PickTransparent(working)) {
      x_point_ = click->x;
      y_point_ = click->y;
      if (click->x >= 0 && click->y >= 0 && click->x < working.Width() && click->y < working.Height())
        picked_color_ = working.GetPixel(click->x, click->y);
    }
    plan.picker_shown = true;
  }
  // The point was picked on the picture as loaded; the frames use the prepared one.
  plan.picked_color = picked_color_;
  plan.x_point = x_point_, plan.y_point = y_point_;
  JobResult result = job.Finish(std::move(loaded), plan);
  result.decode_ms = MillisecondsSince(started) - result.encode_ms;
  shown = name;
  return result;
}

}  // namespace velmora
