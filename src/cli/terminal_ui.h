// The terminal as the user interface of the pipeline. stdout carries the
// results list (result and failure lines, each as soon as its file is done);
// stderr carries one reason line per failure, warnings, questions, the
// progress line and the final status.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/json_lines.h"
#include "pipeline/ports.h"

namespace velmora::cli {

// One file is always one line: control characters become \n, \t, \r or \xNN.
std::string EscapeControls(const std::string& text);

class TerminalUi : public UserInterface {
 public:
  TerminalUi(bool quiet, bool skip_existing);

  // The picker's answer for every source (--pick), if any.
  std::optional<PickerClick> pick;
  int failures = 0;
  // --json: a JSON line per source on stdout in place of the results list.
  bool json = false;
  JsonSummary summary;

  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool ConfirmOverwrite(const std::string& text) override;
  void RunOrderDialog(OrderDialogData&) override {}  // the given order stands
  std::optional<PickerClick> PickTransparent(const Bitmap&) override { return pick; }
  void SetStatusText(const std::string& text) override { status_ = text; }
  std::string StatusText() const override { return status_; }
  void SetDropCaption(const std::string& text) override;
  void ShowProgress(bool visible) override;
  void SetProgressMax(int max) override { max_ = max; }
  void SetProgressPosition(int position) override;
  void StepProgress() override {}
  void ProcessPendingEvents() override {}
  void ClearResults() override {}
  void SetResults(const std::vector<std::string>&) override {}  // printed line by line already
  void LogFailure(const std::string& source, const std::string& reason) override;
  void ResultLine(const std::string& line) override;
  void LogWarning(const std::string& source, const std::string& text) override;
  void OutputSkipped(const std::string& source, const std::string& path) override;
  void SourceDone(const SourceReport& report) override;

  // A line on stderr, after the progress line has been cleared.
  void Note(const std::string& text);

 private:
  void DrawProgress();
  void ClearProgress();

  bool quiet_;
  bool skip_existing_;
  bool progress_on_ = false;  // stderr is a terminal and not quiet
  bool drawn_ = false;
  std::string status_;
  std::string current_;
  int max_ = 0;
  int position_ = 0;
  std::chrono::steady_clock::time_point started_;
};

}  // namespace velmora::cli
