#include "cli/terminal_ui.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace velmora::cli {
namespace {

constexpr const char* kConverting = "を変換中";

}  // namespace

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
  if (text.size() > std::char_traits<char>::length(kConverting) &&
      text.compare(text.size() - std::char_traits<char>::length(kConverting), std::string::npos, kConverting) == 0) {
    current_ = text.substr(0, text.size() - std::char_traits<char>::length(kConverting));
    DrawProgress();
  }
}

void TerminalUi::ShowProgress(bool visible) {
  progress_on_ = visible && !quiet_ && isatty(STDERR_FILENO);
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
  ClearProgress();
  std::cout << EscapeControls(line) << '\n' << std::flush;
}

void TerminalUi::LogWarning(const std::string& source, const std::string& text) {
  if (!quiet_) Note("velmora-cli: warning: " + source + ": " + text);
}

void TerminalUi::OutputSkipped(const std::string& source, const std::string& path) {
  if (skip_existing_) return;  // asked for: not a failure
  ++failures;
  Note("velmora-cli: " + source + ": \"" + path +
       "\" exists and was not overwritten (--overwrite replaces it, --skip-existing keeps it quietly)");
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
