// How the pipeline meets the windows: everything it asks of the user or shows
// to the user, and the clipboard. The GUI implements these with Qt, the CLI
// with the terminal, the tests with scripted fakes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/color.h"

namespace velmora {

enum class MessageKind {
  kFailure,    // "<path>\n\rこのファイルは変換できません"
  kFinal,      // "次のファイルとして保存しました。" and the result lines
  kClipboard,  // clipboard capture outcomes
  kHint,       // first-start hint
};

// The grid of the order dialog: row 0 is the header.
struct OrderDialogData {
  std::string caption;
  bool entry_mode = true;  // entry mode: 4 columns, path in 3; folder mode: 3 columns, path in 0
  std::vector<std::vector<std::string>> rows;
  bool multi_fn = false;  // the name box C_multi_fn and its text
  std::string multi_outfile = "multi";
};

// What the transparent-colour picker recorded: the last press, if any.
struct PickerClick {
  int x = 0;
  int y = 0;
};

// What became of one source, as a script reads it: sent once per source
// when it is done (and once for each combined output at the end).
struct SourceReport {
  struct Output {
    std::string path;
    std::string format;  // the extension: "png"
    int64_t bytes = -1;  // -1: not written (a dry run)
  };
  enum class Status { kWritten, kSkipped, kFailed, kRefused };
  std::string source;
  std::vector<Output> outputs;
  Status status = Status::kWritten;
  std::string reason;  // the failures' and refusals' reasons, joined by "; "
  double decode_ms = 0, encode_ms = 0;
  int width = 0, height = 0;          // as loaded (0: not loaded)
  int out_width = 0, out_height = 0;  // as prepared
};

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // A modal information box with the title "Velmora".
  virtual void ShowMessage(MessageKind kind, const std::string& text) = 0;
  // The "確認" box; true only for OK.
  virtual bool ConfirmOverwrite(const std::string& text) = 0;
  // Shows the order dialog modally; the rows and name box come back changed.
  virtual void RunOrderDialog(OrderDialogData& data) = 0;
  // Shows the picker with the loaded bitmap; the last press, or none when the
  // user closed it without pressing.
  virtual std::optional<PickerClick> PickTransparent(const Bitmap& loaded) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual std::string StatusText() const = 0;
  virtual void SetDropCaption(const std::string& text) = 0;
  virtual void ShowProgress(bool visible) = 0;
  virtual void SetProgressMax(int max) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void StepProgress() = 0;
  // Lets pending window events run (repaints, drops, menu commands).
  virtual void ProcessPendingEvents() = 0;
  virtual void ClearResults() = 0;
  virtual void SetResults(const std::vector<std::string>& lines) = 0;
  // The reason a source failed (the error's own text), for logs; shown even
  // when dialogs are suppressed.
  virtual void LogFailure(const std::string& source, const std::string& reason) = 0;

  // Each result or failure line the moment it joins the results list.
  virtual void ResultLine(const std::string& /*line*/) {}
  // A decoder's warning about a source that still converted (a truncated
  // JPEG, say).
  virtual void LogWarning(const std::string& /*source*/, const std::string& /*text*/) {}
  // An output that was not written because the file exists and overwriting
  // was declined.
  virtual void OutputSkipped(const std::string& /*source*/, const std::string& /*path*/) {}
  // A source is done: what was written, skipped or failed.
  virtual void SourceDone(const SourceReport& /*report*/) {}
};

// Clipboard formats of the desktop this system stands in for.
inline constexpr uint32_t kCfBitmap = 2;
inline constexpr uint32_t kCfMetafilePict = 3;
inline constexpr uint32_t kCfDib = 8;
inline constexpr uint32_t kCfEnhMetafile = 14;
// The format the GIF class registers by the name "GIF Image" (the first
// number the desktop hands out for named formats).
inline constexpr uint32_t kCfGifImage = 0xC000;

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Whether a picture is on the clipboard.
  virtual bool HasBitmap() = 0;
  // The formats on the clipboard, in the clipboard's own order.
  virtual std::vector<uint32_t> Formats() = 0;
  // The data of one format (a packed DIB for kCfDib and kCfBitmap).
  virtual std::vector<uint8_t> Data(uint32_t format) = 0;
};

}  // namespace velmora
