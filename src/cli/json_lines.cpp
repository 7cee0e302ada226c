#include "cli/json_lines.h"

#include <cstdio>

namespace velmora::cli {
namespace {

// The length of the valid UTF-8 sequence at text[i], or 0.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  size_t n = 0;
  unsigned min = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000;
  else return 0;
  if (i + n > text.size()) return 0;
  unsigned code = c & (0xFF >> (n + 1));
  for (size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past Unicode are not text.
  if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return n;
}

std::string Number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

}  // namespace

std::string JsonString(const std::string& text, bool* valid) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      if (valid) *valid = false;
      ++i;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string HexOf(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

const char* StatusName(SourceReport::Status status) {
  switch (status) {
    case SourceReport::Status::kSkipped: return "skipped";
    case SourceReport::Status::kFailed: return "failed";
    case SourceReport::Status::kRefused: return "refused";
    default: return "written";
  }
}

namespace {

// "key":"text", and "key_hex":"..." when the text is not UTF-8.
std::string PathField(const char* key, const std::string& path) {
  bool valid = true;
  std::string out = std::string("\"") + key + "\":" + JsonString(path, &valid);
  if (!valid) out += std::string(",\"") + key + "_hex\":\"" + HexOf(path) + "\"";
  return out;
}

}  // namespace

std::string JsonLine(const SourceReport& r) {
  std::string out = "{" + PathField("source", r.source) + ",\"status\":\"" + StatusName(r.status) + "\"";
  out += ",\"outputs\":[";
  for (size_t i = 0; i < r.outputs.size(); ++i) {
    const auto& o = r.outputs[i];
    out += (i ? ",{" : "{") + PathField("path", o.path) + ",\"format\":" + JsonString(o.format) +
           ",\"bytes\":" + (o.bytes < 0 ? std::string("null") : std::to_string(o.bytes)) + "}";
  }
  out += "]";
  out += ",\"reason\":" + (r.reason.empty() ? std::string("null") : JsonString(r.reason));
  out += ",\"decode_ms\":" + Number(r.decode_ms) + ",\"encode_ms\":" + Number(r.encode_ms);
  if (r.width > 0) out += ",\"width\":" + std::to_string(r.width) + ",\"height\":" + std::to_string(r.height);
  if (r.out_width > 0)
    out += ",\"out_width\":" + std::to_string(r.out_width) + ",\"out_height\":" + std::to_string(r.out_height);
  return out + "}";
}

void JsonSummary::Count(const SourceReport& report) {
  ++sources;
  switch (report.status) {
    case SourceReport::Status::kWritten: ++written; break;
    case SourceReport::Status::kSkipped: ++skipped; break;
    case SourceReport::Status::kFailed: ++failed; break;
    case SourceReport::Status::kRefused: ++refused; break;
  }
}

std::string JsonSummary::Line() const {
  return "{\"summary\":true,\"sources\":" + std::to_string(sources) + ",\"written\":" + std::to_string(written) +
         ",\"skipped\":" + std::to_string(skipped) + ",\"failed\":" + std::to_string(failed) +
         ",\"refused\":" + std::to_string(refused) + ",\"wall_s\":" + Number(wall_s) + ",\"cpu_s\":" + Number(cpu_s) + "}";
}

}  // namespace velmora::cli
