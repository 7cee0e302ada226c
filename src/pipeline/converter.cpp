#include "pipeline/converter.h"

#include <ostream>
#include <stdexcept>

#include "image/prepare.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// Line breaks inside message texts: a line feed, then a carriage return.
constexpr const char* kMessageBreak = "\n\r";
constexpr const char* kArrow = " → ";

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

}  // namespace

std::string SizeText(int64_t bytes) {
  if (bytes <= 1024) return std::to_string(bytes) + " B";
  return std::to_string(bytes / 1024) + " KB";
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
    ~Idle() { busy = false; }
  } idle{busy_};
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
  const std::string base = folder.back() == '/' ? folder : folder + "/";
  for (const auto& entry : platform::ListFolder(base))
    if (!entry.folder) files.push_back(base + entry.name);
  return files;
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

  if (entries.size() > 1) {
    for (int pass = 0; pass < 2; ++pass) {
      const bool pdf_pass = pass == 0;
      if (pdf_pass ? !pdf_on : !gif_on) continue;
      OrderDialogData data;
      data.caption = pdf_pass ? "pdf一括出力時出力順設定" : "gifｱﾆﾒ出力時出力順設定";
      data.entry_mode = true;
      data.rows.push_back({"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ", "ﾌｧｲﾙ日付", "ﾌｧｲﾙ名（ﾌﾙﾊﾟｽ）"});
      for (const auto& entry : entries) {
        std::vector<std::string> row{FileNamePart(entry), "", "", entry};
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
  for (size_t r = 0; r < entries.size(); ++r) {
    const std::string& entry = entries[r];
    ui_.ProcessPendingEvents();
    if (platform::FolderExists(entry)) {
      ++folder_count;
      std::vector<std::string> files = CollectFolder(entry);
      if (files.size() > 1 && (gif_on || pdf_on)) {
        OrderDialogData data;
        data.caption = pdf_on ? "pdf一括出力時出力順設定" : "gifｱﾆﾒ出力時出力順設定";
        data.entry_mode = false;
        data.rows.push_back({"ﾌｧｲﾙ名", "ﾌｧｲﾙｻｲｽﾞ", "ﾌｧｲﾙ日付"});
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
      for (size_t o = 0; o < files.size(); ++o) {
        ui_.ProcessPendingEvents();
        ui_.SetProgressMax(static_cast<int>(files.size()));
        ConvertEntry(files[o]);
        ui_.SetProgressPosition(static_cast<int>(o + 1));
      }
    } else {
      ui_.SetProgressMax(static_cast<int>(entries.size()));
      ConvertEntry(entry);
      ui_.SetProgressPosition(static_cast<int>(r + 1));
    }
  }

  const bool collected = (animated_gif_ && animated_gif_->Count() > 0) || (combined_pdf_ && combined_pdf_->Count() > 0);
  const bool nothing_found = entries.empty() || (folder_count == entries.size() && folder_files == 0);
  if ((gif_on || pdf_on) && nothing_found && !collected) {
    // An empty batch of combined outputs ends silently.
    animated_gif_.reset();
    combined_pdf_.reset();
    result_lines_.clear();
    ui_.ShowProgress(false);
    return;
  }
  if (!entries.empty()) {
    FinishCombined(animated_gif_, entries.back(), "gif");
    FinishCombined(combined_pdf_, entries.back(), "pdf");
  }
  animated_gif_.reset();
  combined_pdf_.reset();

  ui_.ShowProgress(false);
  if (ui_.StatusText().empty()) ui_.SetStatusText(kBatchDone);
  ui_.SetDropCaption(kDropCaption);
  ShowResults(MessageKind::kFinal);
}

void Converter::ShowResults(MessageKind kind) {
  if (!result_lines_.empty()) {
    if (!settings_.A_dialog) {
      std::string text = std::string("次のファイルとして保存しました。") + kMessageBreak;
      for (const auto& line : result_lines_) text += line + "\r\n";
      ui_.ShowMessage(kind, text);
    }
    ui_.SetResults(result_lines_);
  }
  result_lines_.clear();
}

void Converter::FinishCombined(std::unique_ptr<CombinedOutput>& output, const std::string& last_entry,
                               const char* extension) {
  if (!output) return;
  std::unique_ptr<CombinedOutput> owned = std::move(output);
  if (owned->Count() == 0) return;  // nothing collected: skipped silently
  try {
    written_.clear();
    WriteOutput(
        last_entry, extension, [&](std::ostream& out) { owned->Save(out); }, /*combined=*/true);
    if (settings_.V_olddate && source_date_found_)
      for (const auto& path : written_) StampFileDate(path);
  } catch (const std::exception& e) {
    ReportFailure(last_entry, e);
  }
}

void Converter::ConvertEntry(const std::string& source) {
  try {
    written_.clear();
    source_date_found_ = false;
    ConvertOne(source);
    if (settings_.V_olddate && source_date_found_)
      for (const auto& path : written_) StampFileDate(path);
  } catch (const std::exception& e) {
    ReportFailure(source, e);
  }
}

void Converter::ReportFailure(const std::string& source, const std::exception& error) {
  if (!settings_.A_dialog)
    ui_.ShowMessage(MessageKind::kFailure, source + kMessageBreak + "このファイルは変換できません");
  result_lines_.push_back(source + " × 変換できませんでした");
  ui_.LogFailure(source, error.what());
}

void Converter::CaptureOnce() {
  result_lines_.clear();
  ui_.ClearResults();
  if (clipboard_ && clipboard_->HasBitmap()) {
    try {
      written_.clear();
      ConvertOne("Clip");
    } catch (const std::exception& e) {
      const char* text = "クリップボードから保存できません。";
      if (!settings_.A_dialog) ui_.ShowMessage(MessageKind::kClipboard, text);
      ui_.SetStatusText(text);
      ui_.LogFailure("Clip", e.what());
    }
  } else {
    const char* text = "クリップボードに画像が入っていません。";
    if (!settings_.A_dialog) ui_.ShowMessage(MessageKind::kClipboard, text);
    ui_.SetStatusText(text);
  }
  ShowResults(MessageKind::kClipboard);
  ui_.SetDropCaption(kDropCaption);
}

std::unique_ptr<Graphic> Converter::LoadClipboardPicture() {
  if (clipboard_) {
    for (uint32_t format : clipboard_->Formats()) {
      if (const GraphicClass* cls = loader_.Registry().FindClipboardFormat(format)) {
        auto graphic = cls->create();
        graphic->LoadFromClipboardFormat(format, clipboard_->Data(format));
        return graphic;
      }
    }
  }
  throw InvalidGraphicError("無効なクリップボード フォーマットです");
}

void Converter::ConvertOne(const std::string& source_in) {
  if (!settings_.AnyFormat()) {
    ui_.SetStatusText(kNoFormat);
    return;
  }
  ui_.SetDropCaption(source_in + "を変換中");
  std::string source = source_in;
  std::unique_ptr<Graphic> picture;
  if (source != "Clip") {
    picture = loader_.LoadFile(source);
  } else {
    picture = LoadClipboardPicture();
    ++clip_counter_;
    source = "Clip" + std::to_string(clip_counter_);
  }
  Bitmap working;
  picture->AssignTo(working);
  picture.reset();
  ui_.StepProgress();

  FrameOptions frame;
  frame.trans = settings_.C_Trans;
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

  PrepareSize(working, settings_.O_gsize);
  DibImage image;
  PreparePixelColor(working, image, settings_.C_PixelColor);
  // The point was picked on the image as loaded; the frames use the prepared one.
  // A point outside the loaded image stays outside, so the frame step fails.
  frame.x = point_inside ? Scale(x_point_, image.Width(), loaded_w) : -1;
  frame.y = point_inside ? Scale(y_point_, image.Height(), loaded_h) : -1;

  const WriterContext context{settings_, picked_color_, frame};
  for (const FormatWriter& writer : writers_) {
    if (!writer.ticked(settings_)) continue;
    if (writer.extension == "gif" && animated_gif_) {
      animated_gif_->Add(image, frame);
      continue;
    }
    if (writer.extension == "pdf" && combined_pdf_) {
      combined_pdf_->Add(image, frame);
      continue;
    }
    if (!writer.encode) throw std::runtime_error(writer.extension + " files cannot be written by this version");
    WriteOutput(source, writer.extension, [&](std::ostream& out) { writer.encode(image, context, out); });
  }

  if (settings_.A_delete && source_in != "Clip") {
    file_operation_.FromFFList = {source_in};
    file_operation_.Execute();
  }
}

void Converter::WriteOutput(const std::string& source, const std::string& extension,
                            const std::function<void(std::ostream&)>& encode, bool combined) {
  ResolveOutputPath(source, extension, combined);
  if (!output_allowed_) return;
  platform::WriteFileAtomically(output_path_, encode);
  written_.push_back(output_path_);
  const auto info = platform::LookUp(output_path_);
  const std::string size_text = info ? SizeText(info->size) : "? B";
  result_lines_.push_back(source + kArrow + output_path_ + " " + size_text);
}

void Converter::ResolveOutputPath(const std::string& source, const std::string& extension, bool combined) {
  if (settings_.V_olddate) {
    if (auto info = platform::LookUp(source)) {
      source_date_ = platform::PackedLocalDate(info->mtime_seconds);
      source_date_found_ = true;
    } else {
      source_date_found_ = false;
    }
  }
  output_allowed_ = true;
  const size_t slash = source.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = source.rfind('.');
  const std::string stem = dot != std::string::npos && dot >= name_start ? source.substr(0, dot) : source;
  output_path_ = settings_.V_adds ? stem + "s." + extension : stem + "." + extension;
  if (combined && settings_.C_multi_fn) {
    std::string folder = slash == std::string::npos ? "" : source.substr(0, slash == 0 ? 1 : slash);
    if (!folder.empty() && folder.back() != '/') folder += '/';
    output_path_ = folder + settings_.multi_outfile + "." + extension;
  }
  if (settings_.S_app) {
    output_path_ = program_folder_ + FileNamePart(output_path_);
  } else if (settings_.S_folder) {
    std::string folder = settings_.S_folder_n;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    output_path_ = folder + FileNamePart(output_path_);
  }
  if (!settings_.V_over && platform::FileExists(output_path_)) {
    output_allowed_ = ui_.ConfirmOverwrite("File : " + output_path_ + "が既にあります。上書きしますか？");
  }
}

void Converter::StampFileDate(const std::string& path) {
  platform::SetFileWriteTime(path, platform::LocalDateToFileTime(source_date_));
}

}  // namespace velmora
