#include "platform/ini_file.h"

#include "base/text.h"

#include <filesystem>
#include <fstream>
#include <ostream>

#include "platform/platform.h"

namespace velmora {
namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  const size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    x = LowerAscii(x);
    y = LowerAscii(y);
    if (x != y) return false;
  }
  return true;
}

// "[name]" gives name; anything else an empty string.
std::string SectionOf(const std::string& line) {
  const std::string t = Trim(line);
  if (t.size() >= 2 && t.front() == '[') {
    const size_t close = t.find(']');
    if (close != std::string::npos) return Trim(t.substr(1, close - 1));
  }
  return "";
}

bool IsSection(const std::string& line) {
  const std::string t = Trim(line);
  return !t.empty() && t.front() == '[' && t.find(']') != std::string::npos;
}

// The key of a "key=value" line, or empty.
std::string KeyOf(const std::string& line) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return "";
  return Trim(line.substr(0, eq));
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) { Load(); }

bool IniFile::Exists() const { return platform::FileExists(path_); }

void IniFile::Load() {
  lines_.clear();
  std::ifstream in(path_, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines_.push_back(line);
  }
}

const std::string* IniFile::Find(const std::string& section, const std::string& key) const {
  bool inside = false;
  for (const auto& line : lines_) {
    if (IsSection(line)) {
      inside = SameText(SectionOf(line), section);
      continue;
    }
    if (inside && SameText(KeyOf(line), key)) return &line;
  }
  return nullptr;
}

std::string IniFile::ReadString(const std::string& section, const std::string& key, const std::string& def) const {
  const std::string* line = Find(section, key);
  if (!line) return def;
  std::string value = Trim(line->substr(line->find('=') + 1));
  // The profile functions drop one pair of enclosing quotes.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return value;
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
  const std::string value = ReadString(section, key, "");
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  if (i >= value.size() || value[i] < '0' || value[i] > '9') return def;
  long long n = 0;
  while (i < value.size() && value[i] >= '0' && value[i] <= '9' && n < 1000000000000LL) n = n * 10 + (value[i++] - '0');
  if (negative) n = -n;
  if (n > 2147483647LL || n < -2147483648LL) return def;
  return static_cast<int>(n);
}

bool IniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  dirty_ = true;
  const std::string entry = key + "=" + value;
  bool inside = false;
  size_t last_in_section = std::string::npos;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (IsSection(lines_[i])) {
      if (inside) break;
      inside = SameText(SectionOf(lines_[i]), section);
      if (inside) last_in_section = i;
      continue;
    }
    if (!inside) continue;
    if (SameText(KeyOf(lines_[i]), key)) {
      lines_[i] = entry;
      return;
    }
    if (!Trim(lines_[i]).empty()) last_in_section = i;
  }
  if (last_in_section != std::string::npos) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last_in_section + 1), entry);
    return;
  }
  if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
  lines_.push_back("[" + section + "]");
  lines_.push_back(entry);
}

void IniFile::DeleteKey(const std::string& section, const std::string& key) {
  bool inside = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (IsSection(lines_[i])) {
      inside = SameText(SectionOf(lines_[i]), section);
      continue;
    }
    if (inside && SameText(KeyOf(lines_[i]), key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      dirty_ = true;
      return;
    }
  }
}

void IniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

bool IniFile::Flush(std::string* error) {
  if (!dirty_) return true;
  try {
    const std::string parent = std::filesystem::path(path_).parent_path().string();
    if (!parent.empty()) platform::MakeFolders(parent);
    platform::WriteFileAtomically(path_, [&](std::ostream& out) {
      for (const auto& line : lines_) out << line << "\r\n";
    });
  } catch (const std::exception& e) {
    if (error) *error = e.what();
    return false;
  }
  dirty_ = false;
  return true;
}

}  // namespace velmora
