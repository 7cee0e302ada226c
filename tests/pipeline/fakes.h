// Scripted stand-ins for the windows and the clipboard: they answer from a
// script and record every call.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/ports.h"

namespace velmora::test {

class FakeUi : public UserInterface {
 public:
  std::vector<std::pair<MessageKind, std::string>> messages;
  std::vector<std::string> confirmations;
  std::deque<bool> confirm_answers;  // default: decline
  std::vector<OrderDialogData> dialogs;
  std::function<void(OrderDialogData&)> on_order_dialog;
  std::vector<std::pair<int, int>> picker_shown;  // loaded bitmap sizes
  std::optional<PickerClick> pick;
  std::vector<std::string> status_history;
  std::vector<std::string> captions;
  std::vector<std::string> results;
  int clear_results = 0;
  std::vector<std::pair<std::string, std::string>> failures;
  std::vector<std::pair<std::string, std::string>> warnings;
  std::vector<std::pair<std::string, std::string>> skipped;  // source, path
  std::vector<std::string> lines;                            // every line as it was added
  std::function<void()> on_pending_events;
  bool progress_visible = false;
  int progress_max = 0;
  int progress_position = 0;

  void ShowMessage(MessageKind kind, const std::string& text) override { messages.emplace_back(kind, text); }
  bool ConfirmOverwrite(const std::string& text) override {
    confirmations.push_back(text);
    if (confirm_answers.empty()) return false;
    const bool a = confirm_answers.front();
    confirm_answers.pop_front();
    return a;
  }
  void RunOrderDialog(OrderDialogData& data) override {
    if (on_order_dialog) on_order_dialog(data);
    dialogs.push_back(data);
  }
  std::optional<PickerClick> PickTransparent(const Bitmap& loaded) override {
    picker_shown.emplace_back(loaded.Width(), loaded.Height());
    return pick;
  }
  void SetStatusText(const std::string& text) override {
    status_ = text;
    status_history.push_back(text);
  }
  std::string StatusText() const override { return status_; }
  void SetDropCaption(const std::string& text) override { captions.push_back(text); }
  void ShowProgress(bool visible) override { progress_visible = visible; }
  void SetProgressMax(int max) override { progress_max = max; }
  void SetProgressPosition(int position) override { progress_position = position; }
  void StepProgress() override { ++progress_position; }
  void ProcessPendingEvents() override {
    if (on_pending_events) {
      auto f = std::move(on_pending_events);
      on_pending_events = nullptr;
      f();
    }
  }
  void ClearResults() override {
    ++clear_results;
    results.clear();
  }
  void SetResults(const std::vector<std::string>& lines) override { results = lines; }
  void LogFailure(const std::string& source, const std::string& reason) override {
    failures.emplace_back(source, reason);
  }

  void ResultLine(const std::string& line) override { lines.push_back(line); }
  void LogWarning(const std::string& source, const std::string& text) override { warnings.emplace_back(source, text); }
  void OutputSkipped(const std::string& source, const std::string& path) override { skipped.emplace_back(source, path); }

  int Count(MessageKind kind) const {
    int n = 0;
    for (const auto& m : messages) n += m.first == kind;
    return n;
  }

 private:
  std::string status_;
};

class FakeClipboard : public Clipboard {
 public:
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> items;
  bool HasBitmap() override {
    for (const auto& i : items)
      if (i.first == kCfBitmap || i.first == kCfDib) return true;
    return false;
  }
  std::vector<uint32_t> Formats() override {
    std::vector<uint32_t> f;
    for (const auto& i : items) f.push_back(i.first);
    return f;
  }
  std::vector<uint8_t> Data(uint32_t format) override {
    for (const auto& i : items)
      if (i.first == format) return i.second;
    return {};
  }
};

}  // namespace velmora::test
