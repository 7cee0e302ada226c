#include "pipeline/converter.h"

#include <algorithm>
#include <chrono>
#include <ostream>
#include <set>
#include <stdexcept>

#include "base/paths.h"
#include "base/scratch.h"
#include "base/text.h"
#include "image/pixel_memory.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// Line breaks inside message texts: a line feed, then a carriage return.
constexpr const char* kMessageBreak = "\n\r";
constexpr const char* kArrow = " → ";

// Fills columns 1 and 2 (size, date) of an order-dialog row when the entry
// can be looked up.
void DescribeEntry(const std::string& path, std::vector<std::string>& row, size_t size_col) {
  if (auto info = platform::LookUp(path)) {
    row[size_col] = std::to_string(info->size) + " Byte";
    row[size_col + 1] = platform::FormatLocalDate(platform::UnixToLocalDate(info->mtime_seconds));
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct Walk {
  bool recursive;
  bool hidden;  // descend into folders whose names start with "."
  std::set<platform::FileId> visited;
};

// As find does, a recursive walk does not follow links to folders, and a
// folder met twice (a bind mount of its parent) is walked once: each picture
// is converted once, and no loop of links makes the walk endless.
void Collect(const std::string& base, Walk& walk, std::vector<std::string>& files) {
  if (auto id = platform::IdentityOf(base); id && !walk.visited.insert(*id).second) return;
  std::vector<platform::FolderEntry> entries = platform::ListFolder(base);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return NameOrderLess(a.name, b.name); });
  for (const auto& entry : entries) {
    if (entry.folder) {
      if (walk.recursive && !entry.link && (walk.hidden || entry.name[0] != '.'))
        Collect(base + entry.name + "/", walk, files);
    } else if (!platform::IsOurTemporary(entry.name)) {
      files.push_back(base + entry.name);
    }
  }
}

}  // namespace

std::string SizeText(int64_t bytes) {
  if (bytes <= 1024) return std::to_string(bytes) + " B";
  return std::to_string(bytes / 1024) + " KB";
}

bool NameOrderLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t i_end = i, j_end = j;
      while (i_end < a.size() && IsDigit(a[i_end])) ++i_end;
      while (j_end < b.size() && IsDigit(b[j_end])) ++j_end;
      size_t i_sig = i, j_sig = j;
      while (i_sig + 1 < i_end && a[i_sig] == '0') ++i_sig;
      while (j_sig + 1 < j_end && b[j_sig] == '0') ++j_sig;
      const size_t i_len = i_end - i_sig, j_len = j_end - j_sig;
      if (i_len != j_len) return i_len < j_len;
      const int c = a.compare(i_sig, i_len, b, j_sig, j_len);
      if (c != 0) return c < 0;
      i = i_end, j = j_end;
      continue;
    }
    const char x = LowerAscii(a[i]), y = LowerAscii(b[j]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    ++i, ++j;
  }
  if ((i < a.size()) != (j < b.size())) return j < b.size();
  return a < b;
}

Converter::Converter(Settings& settings, UserInterface& ui, Clipboard* clipboard, const Loader& loader)
    : settings_(settings),
      ui_(ui),
      clipboard_(clipboard),
      loader_(loader),
      writers_(DefaultWriters()),
      naming_{platform::ProgramFolder(), "", false},
      picked_color_(MakeColor(240, 240, 240)) {}

Converter::~Converter() = default;

void Converter::RunBatch(std::vector<std::string> entries) { Serve(Request{false, std::move(entries)}); }

void Converter::CaptureClipboard() { Serve(Request{true, {}}); }

void Converter::Serve(Request request) {
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
    guard_.Clear();
    fate_.DropDeferred();
    if (next.clipboard)
      CaptureOnce();
    else
      RunOneBatch(std::move(next.entries));
  }
}

void Converter::RunOrderDialog(OrderDialogData& data) {
  data.multi_fn = settings_.C_multi_fn;
  data.multi_outfile = settings_.multi_outfile;
  ui_.RunOrderDialog(data);
  settings_.C_multi_fn = data.multi_fn;
  settings_.multi_outfile = data.multi_outfile;
}

std::vector<std::string> Converter::CollectFolder(const std::string& folder) const {
  std::vector<std::string> files;
  if (!platform::FolderExists(folder)) return files;
  Walk walk{naming_.recursive, hidden_, {}};
  Collect(folder.back() == '/' ? folder : folder + "/", walk, files);
  return files;
}

// --- the batch --------------------------------------------------------------

void Converter::RunOneBatch(std::vector<std::string> entries) {
  StartBatch(entries);
  entries = OrderEntries(std::move(entries));
  shard_index_ = 0;
  last_stopped_ = false;
  const Tally tally = ConvertEntries(entries);
  if (stop_.exchange(false)) {
    EndStopped();
    return;
  }
  EndBatch(entries, tally);
}

void Converter::StartBatch(const std::vector<std::string>& entries) {
  ui_.ShowProgress(true);
  ui_.SetProgressPosition(0);
  ui_.SetStatusText("");
  ui_.ClearResults();
  result_lines_.clear();
  if (settings_.AnimatedGifOn()) animated_gif_ = CreateAnimatedGif(settings_);
  if (settings_.CombinedPdfOn()) combined_pdf_ = CreateCombinedPdf(settings_);
  gif_collected_ = pdf_collected_ = false;
  converted_ = 0;
  batch_started_ = static_cast<int64_t>(time(nullptr));
  swept_.clear();
  for (const auto& entry : entries) {
    if (!platform::FolderExists(entry)) {
      guard_.ProtectSource(entry);
      continue;
    }
    for (const auto& file : CollectFolder(entry)) guard_.ProtectSource(file);
  }
}

std::vector<std::string> Converter::OrderEntries(std::vector<std::string> entries) {
  if (entries.size() < 2) return entries;
  // The PDF's order first, then the GIF's, each from the order before it.
  for (const bool pdf_pass : {true, false}) {
    if (pdf_pass ? !combined_pdf_ : !animated_gif_) continue;
    OrderDialogData data;
    data.caption = pdf_pass ? Tr("pdf一括出力時出力順設定") : Tr("gifｱﾆﾒ出力時出力順設定");
    data.entry_mode = true;
    data.rows.push_back({Tr("ﾌｧｲﾙ名"), Tr("ﾌｧｲﾙｻｲｽﾞ"), Tr("ﾌｧｲﾙ日付"), Tr("ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）")});
    for (const auto& entry : entries) {
      std::vector<std::string> row{FileNameOf(entry), "", "", entry};
      DescribeEntry(entry, row, 1);
      data.rows.push_back(std::move(row));
    }
    RunOrderDialog(data);
    entries.clear();
    for (size_t i = 1; i < data.rows.size(); ++i) entries.push_back(data.rows[i].size() > 3 ? data.rows[i][3] : "");
  }
  return entries;
}

std::vector<std::string> Converter::OrderFolderFiles(std::vector<std::string> files) {
  if (files.size() < 2 || (!animated_gif_ && !combined_pdf_)) return files;
  OrderDialogData data;
  data.caption = combined_pdf_ ? Tr("pdf一括出力時出力順設定") : Tr("gifｱﾆﾒ出力時出力順設定");
  data.entry_mode = false;
  data.rows.push_back({Tr("ﾌｧｲﾙ名"), Tr("ﾌｧｲﾙｻｲｽﾞ"), Tr("ﾌｧｲﾙ日付")});
  for (const auto& file : files) {
    std::vector<std::string> row{file, "", ""};
    DescribeEntry(file, row, 1);
    data.rows.push_back(std::move(row));
  }
  RunOrderDialog(data);
  files.clear();
  for (size_t i = 1; i < data.rows.size(); ++i) files.push_back(data.rows[i].empty() ? "" : data.rows[i][0]);
  return files;
}

Converter::Tally Converter::ConvertEntries(const std::vector<std::string>& entries) {
  Tally tally;
  size_t r = 0;
  while (r < entries.size() && !stop_) {
    const std::string& entry = entries[r];
    ui_.ProcessPendingEvents();
    if (stop_) break;
    if (platform::FolderExists(entry)) {
      ++tally.folders;
      const std::vector<std::string> files = InShard(OrderFolderFiles(CollectFolder(entry)));
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
                                                  entries.begin() + static_cast<long>(end))),
                 static_cast<int>(entries.size()), r);
    r = end;
  }
  return tally;
}

std::vector<std::string> Converter::InShard(const std::vector<std::string>& files) {
  if (shard_parts_ < 1) return files;
  std::vector<std::string> mine;
  for (const auto& file : files)
    if (static_cast<int>(shard_index_++ % static_cast<size_t>(shard_parts_)) == shard_part_ - 1) mine.push_back(file);
  return mine;
}

void Converter::EndStopped() {
  // What was done stays listed; nothing combined is written, so nothing
  // waits for the trash. The message says so, lines or none.
  last_stopped_ = true;
  std::string note = Tr("Stopped: {1} of the files were converted.", {std::to_string(converted_)});
  if (combined_pdf_ && pdf_collected_) note += kMessageBreak + std::string(Tr("The combined PDF collected so far was not written."));
  if (animated_gif_ && gif_collected_) note += kMessageBreak + std::string(Tr("The animated GIF collected so far was not written."));
  animated_gif_.reset();
  combined_pdf_.reset();
  fate_.DropDeferred();
  ui_.ShowProgress(false);
  ui_.SetStatusText(Tr(kBatchStopped));
  ui_.SetDropCaption(Tr(kDropCaption));
  ShowResults(MessageKind::kFinal, note);
}

void Converter::EndBatch(const std::vector<std::string>& entries, const Tally& tally) {
  const bool combined = animated_gif_ || combined_pdf_;
  const bool nothing_found = entries.empty() || (tally.folders == entries.size() && tally.folder_files == 0);
  if (combined && nothing_found && !gif_collected_ && !pdf_collected_) {
    // An empty batch of combined outputs ends silently.
    animated_gif_.reset();
    combined_pdf_.reset();
    result_lines_.clear();
    ui_.ShowProgress(false);
    return;
  }
  bool gif_written = false, pdf_written = false;
  if (!entries.empty()) {
    gif_written = FinishCombined(animated_gif_, gif_collected_, entries.back(), "gif");
    pdf_written = FinishCombined(combined_pdf_, pdf_collected_, entries.back(), "pdf");
  }
  animated_gif_.reset();
  combined_pdf_.reset();
  // Sources of the combined outputs leave only once those outputs exist.
  fate_.Release(gif_written, pdf_written,
                [this](const std::string& source, const std::string& reason) { ReportFailure(source, reason); });
  ui_.ShowProgress(false);
  if (ui_.StatusText().empty()) ui_.SetStatusText(Tr(kBatchDone));
  ui_.SetDropCaption(Tr(kDropCaption));
  ShowResults(MessageKind::kFinal);
}

void Converter::AddLine(std::string line) {
  ui_.ResultLine(line);
  result_lines_.push_back(std::move(line));
}

void Converter::ShowResults(MessageKind kind, const std::string& note) {
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

bool Converter::FinishCombined(std::unique_ptr<CombinedOutput>& output, bool collected, const std::string& last_entry,
                               const char* extension) {
  if (!output) return false;
  std::unique_ptr<CombinedOutput> owned = std::move(output);
  if (!collected) return false;  // nothing collected: skipped silently
  report_ = SourceReport{};
  report_.source = last_entry;
  bool written = false;
  try {
    written_.clear();
    outcome_ = SourceOutcome{};
    guard_.SetCurrentSource(platform::IdentityOf(last_entry));
    WriteOutput(
        last_entry, extension, [&](std::ostream& out) { owned->Save(out); }, /*combined=*/true);
    if (settings_.V_olddate && fate_.DateFound())
      for (const auto& path : written_) fate_.Stamp(path);
    written = !outcome_.incomplete;
  } catch (const std::exception& e) {
    ReportFailure(last_entry, e.what());
  }
  SendReport();
  return written;
}

void Converter::NoteFailure(const std::string& reason, SourceReport::Status status) {
  report_.reason += (report_.reason.empty() ? "" : "; ") + reason;
  if (report_.status != SourceReport::Status::kFailed) report_.status = status;
}

void Converter::SendReport() {
  // Nothing written and nothing wrong: every output existed and was kept.
  if (report_.status == SourceReport::Status::kWritten && report_.outputs.empty() && outcome_.incomplete)
    report_.status = SourceReport::Status::kSkipped;
  ui_.SourceDone(report_);
}

void Converter::ReportFailure(const std::string& source, const std::string& reason, SourceReport::Status status) {
  NoteFailure(reason, status);
  // The reason first, so that a window can show it with the message.
  ui_.LogFailure(source, reason);
  if (!settings_.A_dialog)
    ui_.ShowMessage(MessageKind::kFailure, source + kMessageBreak + Tr("このファイルは変換できません"));
  AddLine(source + Tr(" × 変換できませんでした"));
}

void Converter::CaptureOnce() {
  result_lines_.clear();
  ui_.ClearResults();
  if (clipboard_ && clipboard_->HasBitmap()) {
    try {
      written_.clear();
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
  ShowResults(MessageKind::kClipboard);
  ui_.SetDropCaption(Tr(kDropCaption));
}

std::unique_ptr<Graphic> Converter::LoadClipboardPicture() {
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
}

// --- one source ---------------------------------------------------------------

void Converter::ConvertEntry(const std::string& source, Prepared* prepared) {
  report_ = SourceReport{};
  report_.source = source;
  if (prepared) report_.decode_ms = prepared->decode_ms, report_.encode_ms = prepared->encode_ms;
  struct Send {
    Converter& c;
    ~Send() { c.SendReport(); }
  } send{*this};
  try {
    written_.clear();
    fate_.ForgetDate();
    ConvertPrepared(source, prepared);
    if (settings_.V_olddate && fate_.DateFound())
      for (const auto& path : written_) fate_.Stamp(path);
    if (!outcome_.incomplete) ++converted_;
  } catch (const std::exception& e) {
    ReportFailure(source, e.what());
  }
}

void Converter::ConvertOne(const std::string& source) { ConvertPrepared(source, nullptr); }

void Converter::ConvertPrepared(const std::string& source_in, Prepared* ready) {
  if (!settings_.AnyFormat()) {
    ui_.SetStatusText(Tr(kNoFormat));
    return;
  }
  outcome_ = SourceOutcome{};
  ui_.SetDropCaption(Tr("{1}を変換中", {source_in}));
  const bool clip = source_in == "Clip";
  guard_.SetCurrentSource(clip ? std::nullopt : platform::IdentityOf(source_in));
  if (!clip && platform::IsOurTemporary(FileNameOf(source_in)))
    throw Error(ErrorKind::kUnsupported, Tr("it is a temporary file left by an interrupted conversion; it is not converted"));
  if (ready && ready->error) std::rethrow_exception(ready->error);
  // A clipboard capture is named by its number once it is read.
  std::string source = source_in;
  PreparedPicture picture;
  if (ready) {
    for (const auto& warning : ready->warnings) ui_.LogWarning(source, warning);
    ui_.StepProgress();
    picture = std::move(ready->picture);
  } else if (!dry_run_) {
    const auto started = std::chrono::steady_clock::now();
    picture = LoadAndPrepare(source_in, clip, source);
    report_.decode_ms = MillisecondsSince(started);
    if (clip) source = "Clip" + std::to_string(clip_counter_);
  } else {
    picture.frame.trans = settings_.C_Trans;  // a dry run reads no picture: it only resolves the outputs
    if (clip) source = "Clip" + std::to_string(++clip_counter_);
  }
  report_.width = picture.loaded_width, report_.height = picture.loaded_height;
  const bool dropped = ready && ready->out_width > 0;  // made aside, its pixels gone
  report_.out_width = dropped ? ready->out_width : picture.image.Width();
  report_.out_height = dropped ? ready->out_height : picture.image.Height();
  const auto started = std::chrono::steady_clock::now();
  WriteOutputs(source, picture, ready);
  if (!ready) report_.encode_ms = MillisecondsSince(started);
  DecideFate(source_in, clip);
}

PreparedPicture Converter::LoadAndPrepare(const std::string& source, bool clip, const std::string& shown_name) {
  std::unique_ptr<Graphic> graphic = clip ? LoadClipboardPicture() : loader_.LoadFile(source, DecodeAsked());
  const std::string name = clip ? "Clip" + std::to_string(++clip_counter_) : shown_name;
  for (const auto& warning : graphic->Warnings()) ui_.LogWarning(name, warning);
  LoadedPicture loaded = TakeLoaded(*graphic, settings_);
  for (const auto& warning : loaded.warnings) ui_.LogWarning(name, warning);
  graphic.reset();
  const Bitmap& working = loaded.working;
  ui_.StepProgress();
  bool picker_shown = false;
  if (settings_.PickerWanted()) {
    x_point_ = y_point_ = 0;
    if (auto click = ui_.PickTransparent(working)) {
      x_point_ = click->x;
      y_point_ = click->y;
      if (click->x >= 0 && click->y >= 0 && click->x < working.Width() && click->y < working.Height())
        picked_color_ = working.GetPixel(click->x, click->y);
    }
    picker_shown = true;
  }
  // The point was picked on the picture as loaded; the frames use the prepared one.
  PreparedPicture picture =
      PreparePicture(std::move(loaded), settings_, x_point_, y_point_, loader_.Limits());
  picture.frame.picker_shown = picker_shown;
  return picture;
}

void Converter::WriteOutputs(const std::string& source, PreparedPicture& picture, Prepared* ready) {
  const WriterContext context{settings_, picked_color_, picture.frame, picture.extras};
  for (const FormatWriter& writer : writers_) {
    if (!writer.ticked(settings_)) continue;
    if (writer.extension == "gif" && animated_gif_) {
      if (!dry_run_) animated_gif_->Add(picture.image, picture.frame, picture.extras);
      gif_collected_ = outcome_.in_gif = true;
      continue;
    }
    if (writer.extension == "pdf" && combined_pdf_) {
      if (!dry_run_) combined_pdf_->Add(picture.image, picture.frame, picture.extras);
      pdf_collected_ = outcome_.in_pdf = true;
      continue;
    }
    if (!writer.encode) throw Error(ErrorKind::kUnsupported, Tr("{1} files cannot be written by this version", {writer.extension}));
    const size_t k = static_cast<size_t>(&writer - writers_.data());
    try {
      if (ready) {
        // Made aside: written as made, or its failure raised where one job
        // would have raised it.
        WriteOutput(
            source, writer.extension,
            [&](std::ostream& out) {
              if (ready->encode_errors[k]) std::rethrow_exception(ready->encode_errors[k]);
              out.write(ready->bytes[k].data(), static_cast<std::streamsize>(ready->bytes[k].size()));
            },
            false, &ready->pending[k]);
        if (ready->bytes[k].capacity() > 0) spare_strings_.Give(std::move(ready->bytes[k]));
        ready->bytes[k] = std::string();
      } else {
        WriteOutput(source, writer.extension, [&](std::ostream& out) { writer.encode(picture.image, context, out); });
      }
    } catch (const OutputRefused& e) {
      outcome_.incomplete = true;
      ReportFailure(source, e.what(), SourceReport::Status::kRefused);
    } catch (const Error& e) {
      if (!writer.fails_alone) throw;
      outcome_.incomplete = true;
      ReportFailure(source, e.what());
    }
  }
}

void Converter::DecideFate(const std::string& source, bool clip) {
  // The source goes only when every output it asked for exists: never after
  // a refused, failed or declined output, and for the combined outputs only
  // once they are written at the end of the batch.
  if (!settings_.A_delete || clip || outcome_.incomplete || dry_run_) return;
  if (outcome_.in_gif || outcome_.in_pdf)
    fate_.Defer(source, outcome_.in_gif, outcome_.in_pdf);
  else
    fate_.MoveToTrash(source);
}

void Converter::WriteOutput(const std::string& source, const std::string& extension,
                            const std::function<void(std::ostream&)>& encode, bool combined,
                            platform::PendingFile* pending) {
  ResolveOutputPath(source, extension, combined);
  if (!output_allowed_) {
    outcome_.incomplete = true;
    ui_.OutputSkipped(source, output_path_);
    return;
  }
  if (dry_run_) {
    report_.outputs.push_back({output_path_, extension, -1});
    AddLine(source + kArrow + output_path_);
    return;
  }
  if (!naming_.folder_base.empty() && settings_.S_folder) platform::MakeFolders(FolderOf(output_path_));
  // A folder the batch writes into loses what killed runs left in it.
  if (swept_.insert(FolderOf(output_path_)).second) platform::RemoveStaleTemporaries(FolderOf(output_path_), batch_started_);
  if (pending && pending->Valid())
    platform::CommitFileAtomically(output_path_, *pending);
  else
    platform::WriteFileAtomically(output_path_, encode);
  written_.push_back(output_path_);
  guard_.Written(output_path_, source);
  const auto info = platform::LookUp(output_path_);
  report_.outputs.push_back({output_path_, extension, info ? static_cast<int64_t>(info->size) : -1});
  const std::string size_text = info ? SizeText(info->size) : "? B";
  AddLine(source + kArrow + output_path_ + " " + size_text +
          (output_redirected_ ? Tr(" (the current folder cannot be written: saved in the pictures folder)") : ""));
}

void Converter::ResolveOutputPath(const std::string& source, const std::string& extension, bool combined) {
  fate_.RecordDate(settings_, source);
  output_allowed_ = true;
  output_path_ = OutputPathFor(settings_, naming_, source, extension, combined);
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

}  // namespace velmora
