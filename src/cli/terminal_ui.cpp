#include "cli/terminal_ui.h"

#include "platform/library_output.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "base/messages.h"

namespace velmora::cli {

std::string EscapeControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7F) {
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

TerminalUi::TerminalUi(bool quiet, bool skip_existing)
    : quiet_(quiet), skip_existing_(skip_existing), started_(std::chrono::steady_clock::now()) {}

void TerminalUi::ShowMessage(MessageKind, const std::string&) {
  // Failure boxes become the reason lines of LogFailure, and the final
  // message is the results list already printed on stdout.
}

bool TerminalUi::ConfirmOverwrite(const std::string& text) {
  if (skip_existing_ || !isatty(STDIN_FILENO)) return false;  // OutputSkipped tells why
  ClearProgress();
  std::cerr << EscapeControls(text) << " [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TerminalUi::SetDropCaption(const std::string& text) {
  // The caption names the file being converted, in the user's language:
  // the name sits where the caption's placeholder does.
  const std::string pattern = Tr("{1}を変換中");
  const size_t at = pattern.find("{1}");
  if (at == std::string::npos) return;
  const std::string before = pattern.substr(0, at), after = pattern.substr(at + 3);
  if (text.size() > before.size() + after.size() && text.compare(0, before.size(), before) == 0 &&
      text.compare(text.size() - after.size(), std::string::npos, after) == 0) {
    current_ = text.substr(before.size(), text.size() - before.size() - after.size());
    DrawProgress();
  }
}

void TerminalUi::ShowProgress(bool visible) {
  progress_on_ = visible && !quiet_ && isatty(platform::MessageFd());
  if (!visible) ClearProgress();
}

void TerminalUi::SetProgressPosition(int position) {
  position_ = position;
  DrawProgress();
}

void TerminalUi::LogFailure(const std::string& source, const std::string& reason) {
  ++failures;
  Note("velmora-cli: " + source + ": " + reason);
}

void TerminalUi::ResultLine(const std::string& line) {
  if (json) return;  // the reports say it
  ClearProgress();
  std::cout << EscapeControls(line) << '\n' << std::flush;
}

void TerminalUi::SourceDone(const SourceReport& report) {
  if (!json) return;
  summary.Count(report);
  ClearProgress();
  std::cout << JsonLine(report) << '\n' << std::flush;
}

void TerminalUi::LogWarning(const std::string& source, const std::string& text) {
  if (!quiet_) Note(Tr("velmora-cli: warning: {1}: {2}", {source, text}));
}

void TerminalUi::OutputSkipped(const std::string& source, const std::string& path) {
  if (skip_existing_) return;  // asked for: not a failure
  ++failures;
  Note(Tr("velmora-cli: {1}: \"{2}\" exists and was not overwritten (--overwrite replaces it, --skip-existing keeps "
          "it quietly)",
          {source, path}));
}

void TerminalUi::Note(const std::string& text) {
  ClearProgress();
  std::cout.flush();
  std::cerr << EscapeControls(text) << '\n' << std::flush;
}

void TerminalUi::DrawProgress() {
  if (!progress_on_ || max_ <= 0) return;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started_);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%lld:%02lld", static_cast<long long>(seconds.count() / 60),
                static_cast<long long>(seconds.count() % 60));
  std::string line = "[" + std::to_string(position_) + "/" + std::to_string(max_) + "] " + clock + " " +
                     EscapeControls(current_);
  if (line.size() > 200) line = line.substr(0, 100) + "…" + line.substr(line.size() - 99);
  std::cerr << "\r\033[K" << line << std::flush;
  drawn_ = true;
}

void TerminalUi::ClearProgress() {
  if (drawn_) std::cerr << "\r\033[K" << std::flush;
  drawn_ = false;
}

}  // namespace velmora::cli
