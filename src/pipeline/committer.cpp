#include "pipeline/committer.h"

#include <algorithm>
#include <ctime>
#include <ostream>

#include "base/paths.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// Line breaks inside message texts: a line feed, then a carriage return.
constexpr const char* kMessageBreak = "\n\r";
constexpr const char* kArrow = " → ";

// The options a batch-wide file is told for a source's frame or page.
EncodeOptions FrameOptionsFor(const Settings& settings, const PreparedPicture& picture, ColorValue picked) {
  EncodeOptions options = OptionsFor(settings, WriterContext{settings, picked, picture.frame, picture.extras});
  options.transparent = picture.frame.trans;  // as the frame was prepared
  return options;
}

}  // namespace

std::string SizeText(int64_t bytes) {
  if (bytes <= 1024) return std::to_string(bytes) + " B";
  return std::to_string(bytes / 1024) + " KB";
}

Committer::Committer(Settings& settings, UserInterface& ui, const std::vector<FormatWriter>& writers,
                     const NamingContext& naming)
    : settings_(settings), ui_(ui), writers_(writers), naming_(naming) {}

void Committer::StartBatch(const std::vector<std::string>& sources) {
  guard_.Clear();
  fate_.DropDeferred();
  positions_.clear();
  for (const std::string& source : sources) {
    guard_.ProtectSource(source);
    positions_.emplace(source, static_cast<int64_t>(positions_.size()) + 1);
  }
  result_lines_.clear();
  batch_started_ = static_cast<int64_t>(time(nullptr));
  swept_.clear();
}

void Committer::ResolveOutputPath(const std::string& source, const std::string& extension, bool combined) {
  fate_.RecordDate(settings_, source);
  output_allowed_ = true;
  output_path_ = OutputPathFor(settings_, naming_, source, extension, combined, fields_);
  output_redirected_ = false;
  if (output_path_.find('/') == std::string::npos) {
    // A clipboard picture beside its source lands in the current folder,
    // named in full; one the user cannot write to (a program started from a
    // menu may stand in "/") gives way to the pictures folder.
    const std::string here = platform::AbsolutePath(".");
    if (platform::IsWritableFolder(here)) {
      output_path_ = (here == "/" ? "" : here) + "/" + output_path_;
    } else {
      output_path_ = platform::PicturesFolder() + output_path_;
      output_redirected_ = true;
    }
  }
  guard_.Check(output_path_);
  if (!settings_.V_over && platform::FileExists(output_path_)) {
    // A dry run asks nothing: an existing file counts as declined.
    output_allowed_ =
        !dry_run_ && ui_.ConfirmOverwrite(Tr("File : {1}が既にあります。上書きしますか？", {output_path_}));
  }
}

void Committer::BeginSource(const std::string& source, std::optional<platform::FileId> id) {
  report_ = SourceReport{};
  report_.source = source;
  written_.clear();
  joined_.clear();
  incomplete_ = false;
  fate_.ForgetDate();
  guard_.SetCurrentSource(id);
  fields_ = NameFields{};
  if (!settings_.rename.empty()) {
    const auto place = positions_.find(source);
    fields_.position = place != positions_.end() ? place->second : static_cast<int64_t>(positions_.size()) + 1;
    if (const auto info = platform::LookUp(source)) {
      const time_t seconds = static_cast<time_t>(info->mtime_seconds);
      tm local{};
      char date[16] = {};
      if (localtime_r(&seconds, &local)) std::strftime(date, sizeof date, "%Y-%m-%d", &local);
      fields_.date = date;
    }
  }
}

void Committer::Commit(const std::string& source, JobResult& result, CombinedOutputs& combined,
                       ColorValue picked_color) {
  if (result.failure) throw Error(result.failure->kind, result.failure->reason);
  report_.width = result.loaded_width, report_.height = result.loaded_height;
  report_.out_width = result.out_width, report_.out_height = result.out_height;
  fields_.width = result.out_width, fields_.height = result.out_height;
  for (size_t k = 0; k < writers_.size(); ++k) {
    const FormatWriter& writer = writers_[k];
    if (!writer.Ticked(settings_)) continue;
    auto slot = std::find_if(combined.begin(), combined.end(), [k](const CombinedSlot& s) { return s.writer == k; });
    if (slot != combined.end()) {
      if (!dry_run_) slot->output->Add(result.picture.image, FrameOptionsFor(settings_, result.picture, picked_color));
      slot->collected = true;
      joined_.push_back(k);
      continue;
    }
    if (!writer.encode)
      throw Error(ErrorKind::kUnsupported, Tr("{1} files cannot be written by this version", {writer.Extension()}));
    try {
      WriteOutput(source, writer, k < result.outputs.size() ? &result.outputs[k] : nullptr);
    } catch (const OutputRefused& e) {
      incomplete_ = true;
      ReportFailure(source, e.what(), SourceReport::Status::kRefused);
    } catch (const Error& e) {
      // An output the memory limit refused fails alone, whatever its format.
      if (!writer.row->fails_alone && e.Kind() != ErrorKind::kTooLarge) throw;
      incomplete_ = true;
      ReportFailure(source, e.what());
    }
  }
}

void Committer::WriteOutput(const std::string& source, const FormatWriter& writer, EncodedOutput* output,
                            bool combined, const std::function<void(std::ostream&)>& make) {
  const std::string extension = writer.Extension();
  ResolveOutputPath(source, extension, combined);
  if (!output_allowed_) {
    incomplete_ = true;
    ui_.OutputSkipped(source, output_path_);
    return;
  }
  if (dry_run_) {
    report_.outputs.push_back({output_path_, extension, -1});
    AddLine(source + kArrow + output_path_);
    return;
  }
  // Where the job could not make it: raised where one job would have.
  if (output && output->failure) throw Error(output->failure->kind, output->failure->reason);
  if (!naming_.folder_base.empty() && settings_.S_folder) platform::MakeFolders(FolderOf(output_path_));
  // A folder the batch writes into loses what killed runs left in it.
  if (swept_.insert(FolderOf(output_path_)).second)
    platform::RemoveStaleTemporaries(FolderOf(output_path_), batch_started_);
  if (output && output->pending.Valid()) {
    platform::CommitFileAtomically(output_path_, output->pending);
  } else if (output) {
    platform::WriteFileAtomically(output_path_, [&](std::ostream& out) {
      out.write(output->bytes.data(), static_cast<std::streamsize>(output->bytes.size()));
    });
    output->bytes = std::string();
  } else {
    platform::WriteFileAtomically(output_path_, make);
  }
  written_.push_back(output_path_);
  guard_.Written(output_path_, source);
  const auto info = platform::LookUp(output_path_);
  report_.outputs.push_back({output_path_, extension, info ? static_cast<int64_t>(info->size) : -1});
  const std::string size_text = info ? SizeText(info->size) : "? B";
  AddLine(source + kArrow + output_path_ + " " + size_text +
          (output_redirected_ ? Tr(" (the current folder cannot be written: saved in the pictures folder)") : ""));
}

bool Committer::EndSource(const std::string& source, bool clip) {
  if (settings_.V_olddate && fate_.DateFound())
    for (const auto& path : written_) fate_.Stamp(path);
  // The source goes only when every output it asked for exists: never after
  // a refused, failed or declined output, and for the batch-wide files only
  // once they are written at the end of the batch.
  if (settings_.A_delete && !clip && !incomplete_ && !dry_run_) {
    if (!joined_.empty())
      fate_.Defer(source, joined_);
    else
      fate_.MoveToTrash(source);
  }
  return !incomplete_;
}

void Committer::NoteFailure(const std::string& reason, SourceReport::Status status) {
  report_.reason += (report_.reason.empty() ? "" : "; ") + reason;
  if (report_.status != SourceReport::Status::kFailed) report_.status = status;
}

void Committer::SendReport() {
  // Nothing written and nothing wrong: every output existed and was kept.
  if (report_.status == SourceReport::Status::kWritten && report_.outputs.empty() && incomplete_)
    report_.status = SourceReport::Status::kSkipped;
  ui_.SourceDone(report_);
}

void Committer::ReportFailure(const std::string& source, const std::string& reason, SourceReport::Status status) {
  NoteFailure(reason, status);
  // The reason first, so that a window can show it with the message.
  ui_.LogFailure(source, reason);
  if (!settings_.A_dialog)
    ui_.ShowMessage(MessageKind::kFailure, source + kMessageBreak + Tr("このファイルは変換できません"));
  AddLine(source + Tr(" × 変換できませんでした"));
}

bool Committer::FinishCombined(CombinedSlot& slot, const std::string& last_entry) {
  std::unique_ptr<CombinedOutput> owned = std::move(slot.output);
  if (!owned || !slot.collected) return false;
  BeginSource(last_entry, platform::IdentityOf(last_entry));
  bool written = false;
  try {
    WriteOutput(last_entry, writers_[slot.writer], nullptr, /*combined=*/true,
                [&](std::ostream& out) { owned->Save(out); });
    if (settings_.V_olddate && fate_.DateFound())
      for (const auto& path : written_) fate_.Stamp(path);
    written = !incomplete_;
  } catch (const std::exception& e) {
    ReportFailure(last_entry, e.what());
  }
  SendReport();
  return written;
}

void Committer::ReportUnwritten(const std::string& last_entry, const std::string& why) {
  report_ = SourceReport{};
  report_.source = last_entry;
  report_.status = SourceReport::Status::kSkipped;
  report_.reason = why;
  ui_.LogWarning(last_entry, why);
  ui_.SourceDone(report_);
}

void Committer::ReleaseDeferred(const std::vector<size_t>& written) {
  fate_.Release(written, [this](const std::string& source, const std::string& reason) { ReportFailure(source, reason); });
}

void Committer::AddLine(std::string line) {
  ui_.ResultLine(line);
  result_lines_.push_back(std::move(line));
}

void Committer::ShowResults(MessageKind kind, const std::string& note) {
  // The results window is filled first: the message may offer to open it.
  if (!result_lines_.empty()) ui_.SetResults(result_lines_);
  if (!settings_.A_dialog && (!result_lines_.empty() || !note.empty())) {
    std::string text;
    if (!result_lines_.empty()) {
      text = std::string(Tr("次のファイルとして保存しました。")) + kMessageBreak;
      for (const auto& line : result_lines_) text += line + "\r\n";
    }
    if (!note.empty()) text += (text.empty() ? "" : kMessageBreak) + note;
    ui_.ShowMessage(kind, text);
  }
  result_lines_.clear();
}

}  // namespace velmora
