#include "pipeline/converter.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "base/paths.h"
#include "base/scratch.h"
#include "base/string_sink.h"
#include "pipeline/worker_pool.h"
#include "image/prepare.h"
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

// The picked point scaled from the loaded bitmap to the prepared one.
int Scale(int v, int new_size, int old_size) {
  return old_size > 0 ? static_cast<int>(static_cast<int64_t>(v) * new_size / old_size) : v;
}

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
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
    const char x = FoldCase(a[i]), y = FoldCase(b[j]);
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
      program_folder_(platform::ProgramFolder()),
      picked_color_(MakeColor(240, 240, 240)) {
  // The source fate puts a converted file in the trash: a delete that can be undone.
  file_operation_.OperationF = ShellFileOperation::Operation::foDELETE;
  file_operation_.options.ALLOWUNDO = true;
}

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
      spare.Release();
    }
  } idle{busy_, spare_strings_};
  queue_.push_back(std::move(request));
  while (!queue_.empty()) {
    Request next = std::move(queue_.front());
    queue_.pop_front();
    batch_sources_.clear();
    written_by_.clear();
    pending_fate_.clear();
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
  Walk walk{recursive_, hidden_, {}};
  Collect(folder.back() == '/' ? folder : folder + "/", walk, files);
  return files;
}

void Converter::ProtectBatchSources(const std::vector<std::string>& entries) {
  for (const auto& entry : entries) {
    if (platform::FolderExists(entry)) {
      for (const auto& file : CollectFolder(entry))
        if (auto id = platform::IdentityOf(file)) batch_sources_.insert(*id);
    } else if (auto id = platform::IdentityOf(entry)) {
      batch_sources_.insert(*id);
    }
  }
}

void Converter::RunOneBatch(std::vector<std::string> entries) {
  ui_.ShowProgress(true);
  ui_.SetProgressPosition(0);
  ui_.SetStatusText("");
  ui_.ClearResults();
  result_lines_.clear();
  const bool gif_on = settings_.AnimatedGifOn();
  const bool pdf_on = settings_.CombinedPdfOn();
  if (gif_on) animated_gif_ = CreateAnimatedGif(settings_);
  if (pdf_on) combined_pdf_ = CreateCombinedPdf(settings_);
  gif_collected_ = pdf_collected_ = false;
  ProtectBatchSources(entries);

  if (entries.size() > 1) {
    for (int pass = 0; pass < 2; ++pass) {
      const bool pdf_pass = pass == 0;
      if (pdf_pass ? !pdf_on : !gif_on) continue;
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
  }

  size_t folder_count = 0;
  size_t folder_files = 0;
  last_stopped_ = false;
  size_t r = 0;
  while (r < entries.size() && !stop_) {
    const std::string& entry = entries[r];
    ui_.ProcessPendingEvents();
    if (stop_) break;
    if (platform::FolderExists(entry)) {
      ++folder_count;
      std::vector<std::string> files = CollectFolder(entry);
      if (files.size() > 1 && (gif_on || pdf_on)) {
        OrderDialogData data;
        data.caption = pdf_on ? Tr("pdf一括出力時出力順設定") : Tr("gifｱﾆﾒ出力時出力順設定");
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
      }
      folder_files += files.size();
      folder_base_ = entry.back() == '/' ? entry : entry + "/";
      ConvertGroup(files, static_cast<int>(files.size()), 0);
      folder_base_.clear();
      ++r;
    } else {
      // The files up to the next folder form one group.
      size_t end = r + 1;
      while (end < entries.size() && !platform::FolderExists(entries[end])) ++end;
      ConvertGroup(std::vector<std::string>(entries.begin() + static_cast<long>(r), entries.begin() + static_cast<long>(end)),
                   static_cast<int>(entries.size()), r);
      r = end;
    }
  }

  if (stop_.exchange(false)) {
    // What was done stays listed; nothing combined is written, so nothing
    // waits for the trash.
    last_stopped_ = true;
    animated_gif_.reset();
    combined_pdf_.reset();
    pending_fate_.clear();
    ui_.ShowProgress(false);
    ui_.SetStatusText(Tr(kBatchStopped));
    ui_.SetDropCaption(Tr(kDropCaption));
    ShowResults(MessageKind::kFinal);
    return;
  }
  const bool collected = gif_collected_ || pdf_collected_;
  const bool nothing_found = entries.empty() || (folder_count == entries.size() && folder_files == 0);
  if ((gif_on || pdf_on) && nothing_found && !collected) {
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
  for (const PendingFate& p : pending_fate_) {
    if ((p.gif && !gif_written) || (p.pdf && !pdf_written)) continue;
    try {
      MoveSourceToTrash(p.source);
    } catch (const std::exception& e) {
      ReportFailure(p.source, e.what());
    }
  }
  pending_fate_.clear();

  ui_.ShowProgress(false);
  if (ui_.StatusText().empty()) ui_.SetStatusText(Tr(kBatchDone));
  ui_.SetDropCaption(Tr(kDropCaption));
  ShowResults(MessageKind::kFinal);
}

void Converter::AddLine(std::string line) {
  ui_.ResultLine(line);
  result_lines_.push_back(std::move(line));
}

void Converter::ShowResults(MessageKind kind) {
  if (!result_lines_.empty()) {
    if (!settings_.A_dialog) {
      std::string text = std::string(Tr("次のファイルとして保存しました。")) + kMessageBreak;
      for (const auto& line : result_lines_) text += line + "\r\n";
      ui_.ShowMessage(kind, text);
    }
    ui_.SetResults(result_lines_);
  }
  result_lines_.clear();
}

bool Converter::FinishCombined(std::unique_ptr<CombinedOutput>& output, bool collected, const std::string& last_entry,
                               const char* extension) {
  if (!output) return false;
  std::unique_ptr<CombinedOutput> owned = std::move(output);
  if (!collected) return false;  // nothing collected: skipped silently
  try {
    written_.clear();
    outcome_ = SourceOutcome{};
    current_source_id_ = platform::IdentityOf(last_entry);
    WriteOutput(
        last_entry, extension, [&](std::ostream& out) { owned->Save(out); }, /*combined=*/true);
    if (settings_.V_olddate && source_date_found_)
      for (const auto& path : written_) StampFileDate(path);
    return !outcome_.incomplete;
  } catch (const std::exception& e) {
    ReportFailure(last_entry, e.what());
  }
  return false;
}

void Converter::ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position) {
  const bool picker = settings_.V_transparent && (settings_.C_png || settings_.C_gif);
  if (jobs_ <= 1 || files.size() < 2 || dry_run_ || picker || !settings_.AnyFormat()) {
    for (size_t i = 0; i < files.size(); ++i) {
      if (i > 0) ui_.ProcessPendingEvents();
      if (stop_) break;
      ui_.SetProgressMax(progress_max);
      ConvertEntry(files[i]);
      ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
    }
    return;
  }
  // The workers see the settings as they are when the group starts; the
  // commits below read them live, as one job does.
  const Settings snapshot = settings_;
  const ColorValue picked = picked_color_;
  const int x_point = x_point_, y_point = y_point_;
  const bool gif_combined = animated_gif_ != nullptr, pdf_combined = combined_pdf_ != nullptr;
  std::deque<std::future<Prepared>> ahead;
  // Declared after the futures: it ends first, running what it was given.
  WorkerPool pool(jobs_);
  size_t launched = 0;
  auto launch = [&] {
    while (launched < files.size() && ahead.size() < static_cast<size_t>(jobs_)) {
      ahead.push_back(pool.Submit<Prepared>([&, file = files[launched]] {
        return PrepareAside(file, snapshot, picked, x_point, y_point, gif_combined, pdf_combined);
      }));
      ++launched;
    }
  };
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) ui_.ProcessPendingEvents();
    if (stop_) break;
    launch();
    ui_.SetProgressMax(progress_max);
    std::future<Prepared> next = std::move(ahead.front());
    ahead.pop_front();
    // The window stays alive while the next source is still being made.
    while (next.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) ui_.ProcessPendingEvents();
    launch();
    Prepared prepared = next.get();
    ConvertEntry(files[i], &prepared);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
  // A stopped group lets the work already started end, and drops it.
  for (auto& f : ahead) f.wait();
}

Converter::Prepared Converter::PrepareAside(const std::string& source, const Settings& settings, ColorValue picked,
                                            int x_point, int y_point, bool gif_combined, bool pdf_combined) const {
  Prepared p;
  try {
    // Our own temporaries are refused when committed; nothing to make.
    if (platform::IsOurTemporary(FileNameOf(source))) return p;
    std::unique_ptr<Graphic> picture = loader_.LoadFile(source);
    p.warnings = picture->Warnings();
    Bitmap working;
    picture->MoveTo(working);
    picture.reset();
    const int loaded_w = working.Width(), loaded_h = working.Height();
    const bool point_inside = x_point >= 0 && y_point >= 0 && x_point < loaded_w && y_point < loaded_h;
    PrepareSize(working, settings.O_gsize, loader_.Limits());
    PreparePixelColor(std::move(working), p.image, settings.C_PixelColor);
    p.frame.trans = settings.C_Trans;
    p.frame.x = point_inside ? Scale(x_point, p.image.Width(), loaded_w) : -1;
    p.frame.y = point_inside ? Scale(y_point, p.image.Height(), loaded_h) : -1;
    const WriterContext context{settings, picked, p.frame};
    p.bytes.resize(writers_.size());
    p.encode_errors.resize(writers_.size());
    for (size_t k = 0; k < writers_.size(); ++k) {
      const FormatWriter& writer = writers_[k];
      if (!writer.ticked(settings) || !writer.encode) continue;
      if ((writer.extension == "gif" && gif_combined) || (writer.extension == "pdf" && pdf_combined)) continue;
      try {
        StringSink out(spare_strings_.Take());
        writer.encode(p.image, context, out);
        p.bytes[k] = out.Take();
      } catch (...) {
        p.encode_errors[k] = std::current_exception();
      }
    }
    if (!gif_combined && !pdf_combined) p.image = DibImage();
  } catch (...) {
    p.error = std::current_exception();
  }
  return p;
}

void Converter::ConvertEntry(const std::string& source, Prepared* prepared) {
  try {
    written_.clear();
    source_date_found_ = false;
    ConvertPrepared(source, prepared);
    if (settings_.V_olddate && source_date_found_)
      for (const auto& path : written_) StampFileDate(path);
  } catch (const std::exception& e) {
    ReportFailure(source, e.what());
  }
}

void Converter::ReportFailure(const std::string& source, const std::string& reason) {
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
  throw InvalidGraphicError(Tr("無効なクリップボード フォーマットです"));
}

void Converter::ConvertOne(const std::string& source) { ConvertPrepared(source, nullptr); }

void Converter::ConvertPrepared(const std::string& source_in, Prepared* ready) {
  if (!settings_.AnyFormat()) {
    ui_.SetStatusText(Tr(kNoFormat));
    return;
  }
  outcome_ = SourceOutcome{};
  ui_.SetDropCaption(Tr("{1}を変換中", {source_in}));
  std::string source = source_in;
  const bool clip = source_in == "Clip";
  current_source_id_ = clip ? std::nullopt : platform::IdentityOf(source_in);
  if (!clip && platform::IsOurTemporary(FileNameOf(source_in)))
    throw Error(Tr("it is a temporary file left by an interrupted conversion; it is not converted"));

  // A dry run reads no picture: it only resolves the outputs.
  std::unique_ptr<Graphic> picture;
  if (ready && ready->error) std::rethrow_exception(ready->error);
  if (!dry_run_ && !ready) picture = clip ? LoadClipboardPicture() : loader_.LoadFile(source);
  if (clip) {
    ++clip_counter_;
    source = "Clip" + std::to_string(clip_counter_);
  }
  DibImage image;
  FrameOptions frame;
  frame.trans = settings_.C_Trans;
  if (picture) {
    for (const auto& warning : picture->Warnings()) ui_.LogWarning(source, warning);
    Bitmap working;
    picture->MoveTo(working);
    picture.reset();
    ui_.StepProgress();

    if ((settings_.C_png || settings_.C_gif) && settings_.V_transparent) {
      x_point_ = y_point_ = 0;
      if (auto click = ui_.PickTransparent(working)) {
        x_point_ = click->x;
        y_point_ = click->y;
        if (click->x >= 0 && click->y >= 0 && click->x < working.Width() && click->y < working.Height())
          picked_color_ = working.GetPixel(click->x, click->y);
      }
      frame.picker_shown = true;
    }
    const int loaded_w = working.Width(), loaded_h = working.Height();
    const bool point_inside = x_point_ >= 0 && y_point_ >= 0 && x_point_ < loaded_w && y_point_ < loaded_h;

    PrepareSize(working, settings_.O_gsize, loader_.Limits());
    PreparePixelColor(std::move(working), image, settings_.C_PixelColor);
    // The point was picked on the image as loaded; the frames use the prepared one.
    // A point outside the loaded image stays outside, so the frame step fails.
    frame.x = point_inside ? Scale(x_point_, image.Width(), loaded_w) : -1;
    frame.y = point_inside ? Scale(y_point_, image.Height(), loaded_h) : -1;
  } else if (ready) {
    for (const auto& warning : ready->warnings) ui_.LogWarning(source, warning);
    ui_.StepProgress();
    image = std::move(ready->image);
    frame = ready->frame;
  }

  const WriterContext context{settings_, picked_color_, frame};
  for (const FormatWriter& writer : writers_) {
    if (!writer.ticked(settings_)) continue;
    if (writer.extension == "gif" && animated_gif_) {
      if (!dry_run_) animated_gif_->Add(image, frame);
      gif_collected_ = outcome_.in_gif = true;
      continue;
    }
    if (writer.extension == "pdf" && combined_pdf_) {
      if (!dry_run_) combined_pdf_->Add(image, frame);
      pdf_collected_ = outcome_.in_pdf = true;
      continue;
    }
    if (!writer.encode) throw Error(Tr("{1} files cannot be written by this version", {writer.extension}));
    const size_t k = static_cast<size_t>(&writer - writers_.data());
    try {
      if (ready) {
        // Made aside: written as made, or its failure raised where one job
        // would have raised it.
        WriteOutput(source, writer.extension, [&](std::ostream& out) {
          if (ready->encode_errors[k]) std::rethrow_exception(ready->encode_errors[k]);
          out.write(ready->bytes[k].data(), static_cast<std::streamsize>(ready->bytes[k].size()));
        });
        spare_strings_.Give(std::move(ready->bytes[k]));
        ready->bytes[k] = std::string();
      } else {
        WriteOutput(source, writer.extension, [&](std::ostream& out) { writer.encode(image, context, out); });
      }
    } catch (const OutputRefused& e) {
      outcome_.incomplete = true;
      ReportFailure(source, e.what());
    }
  }

  // The source goes only when every output it asked for exists: never after
  // a refused, failed or declined output, and for the combined outputs only
  // once they are written at the end of the batch.
  if (settings_.A_delete && !clip && !outcome_.incomplete && !dry_run_) {
    if (outcome_.in_gif || outcome_.in_pdf)
      pending_fate_.push_back(PendingFate{source_in, outcome_.in_gif, outcome_.in_pdf});
    else
      MoveSourceToTrash(source_in);
  }
}

void Converter::MoveSourceToTrash(const std::string& source) {
  file_operation_.FromFFList = {source};
  if (file_operation_.Execute() != 0) throw platform::FileError(file_operation_.LastError());
}

void Converter::WriteOutput(const std::string& source, const std::string& extension,
                            const std::function<void(std::ostream&)>& encode, bool combined) {
  ResolveOutputPath(source, extension, combined);
  if (!output_allowed_) {
    outcome_.incomplete = true;
    ui_.OutputSkipped(source, output_path_);
    return;
  }
  if (dry_run_) {
    AddLine(source + kArrow + output_path_);
    return;
  }
  if (!folder_base_.empty() && settings_.S_folder) platform::MakeFolders(FolderOf(output_path_));
  platform::WriteFileAtomically(output_path_, encode);
  written_.push_back(output_path_);
  if (auto id = platform::IdentityOf(output_path_)) written_by_.emplace(*id, source);
  const auto info = platform::LookUp(output_path_);
  const std::string size_text = info ? SizeText(info->size) : "? B";
  AddLine(source + kArrow + output_path_ + " " + size_text);
}

void Converter::CheckNotProtected(const std::string& path) const {
  const auto id = platform::IdentityOf(path);
  if (!id) return;
  if (current_source_id_ && *id == *current_source_id_)
    throw OutputRefused(Tr("\"{1}\" is the source file itself; it is not overwritten", {path}));
  if (auto it = written_by_.find(*id); it != written_by_.end())
    throw OutputRefused(Tr("\"{1}\" was already written in this batch from {2}; it is not overwritten", {path, it->second}));
  if (batch_sources_.count(*id))
    throw OutputRefused(Tr("\"{1}\" is a source of this batch; it is not overwritten", {path}));
}

void Converter::ResolveOutputPath(const std::string& source, const std::string& extension, bool combined) {
  if (settings_.V_olddate) {
    // A link's own date: the source is the name the user chose.
    if (auto info = platform::LookUp(source, /*follow_links=*/false)) {
      source_date_ = platform::PackedLocalDate(info->mtime_seconds);
      source_date_found_ = true;
    } else {
      source_date_found_ = false;
    }
  }
  output_allowed_ = true;
  // The extension starts at the last dot of the file name; a dot in a
  // folder's name does not count.
  const size_t name_start = source.size() - FileNameOf(source).size();
  const size_t dot = source.rfind('.');
  const std::string stem = dot != std::string::npos && dot >= name_start ? source.substr(0, dot) : source;
  output_path_ = settings_.V_adds ? stem + "s." + extension : stem + "." + extension;
  if (combined && settings_.C_multi_fn) output_path_ = FolderOf(source) + settings_.multi_outfile + "." + extension;
  if (settings_.S_app) {
    output_path_ = program_folder_ + FileNameOf(output_path_);
  } else if (settings_.S_folder) {
    std::string folder = settings_.S_folder_n;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    // Files found below a dropped folder keep their place under the save folder.
    if (!combined && recursive_ && !folder_base_.empty() && source.rfind(folder_base_, 0) == 0)
      folder += FolderOf(source.substr(folder_base_.size()));
    output_path_ = folder + FileNameOf(output_path_);
  }
  CheckNotProtected(output_path_);
  if (!settings_.V_over && platform::FileExists(output_path_)) {
    // A dry run asks nothing: an existing file counts as declined.
    output_allowed_ =
        !dry_run_ && ui_.ConfirmOverwrite(Tr("File : {1}が既にあります。上書きしますか？", {output_path_}));
  }
}

void Converter::StampFileDate(const std::string& path) {
  platform::SetFileWriteTime(path, platform::LocalDateToFileTime(source_date_));
}

}  // namespace velmora
