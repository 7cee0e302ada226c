// --json: each source's report as one JSON object on a line of its own, and
// a summary at the end, for scripts (jq, a database loader) rather than
// people. Paths are bytes on this system: one that is not valid UTF-8 is
// given with U+FFFD for each stray byte, and exactly in hex beside it.
#pragma once

#include <string>

#include "pipeline/ports.h"

namespace velmora::cli {

// A JSON string literal of text, quotes included; invalid UTF-8 bytes
// become U+FFFD and valid is cleared (when given).
std::string JsonString(const std::string& text, bool* valid = nullptr);
// The bytes as lower-case hex.
std::string HexOf(const std::string& bytes);
// "written", "skipped", "failed", "refused".
const char* StatusName(SourceReport::Status status);
// The report as one line, without the line end.
std::string JsonLine(const SourceReport& report);

// What the run did in all, the last line.
struct JsonSummary {
  int sources = 0, written = 0, skipped = 0, failed = 0, refused = 0;
  double wall_s = 0, cpu_s = 0;
  void Count(const SourceReport& report);
  std::string Line() const;
};

}  // namespace velmora::cli
