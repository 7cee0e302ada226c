#include "base/messages.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <fstream>
#include <iterator>

namespace velmora {
namespace {

// Written once at start-up, before any worker thread exists, then only read.
platform::MessageTable& Table() {
  static platform::MessageTable table;
  return table;
}

}  // namespace

const char* Tr(const char* key) {
  const auto& table = Table();
  if (table.empty() || !key) return key;
  const auto it = table.find(key);
  return it == table.end() || it->second.empty() ? key : it->second.c_str();
}

std::string FillPlaceholders(std::string_view text, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(text.size() + 64);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 2] == '}') {
      const size_t n = static_cast<size_t>(text[i + 1] - '1');
      if (n < args.size()) {
        out += *(args.begin() + n);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string Tr(const char* key, std::initializer_list<std::string_view> args) { return FillPlaceholders(Tr(key), args); }

std::string SystemErrorText(int err) {
  // The C library's English texts are the keys.
  static const std::pair<int, const char*> kTexts[] = {
      {EPERM, N_("Operation not permitted")},
      {ENOENT, N_("No such file or directory")},
      {EIO, N_("Input/output error")},
      {ENXIO, N_("No such device or address")},
      {EBADF, N_("Bad file descriptor")},
      {EAGAIN, N_("Resource temporarily unavailable")},
      {ENOMEM, N_("Cannot allocate memory")},
      {EACCES, N_("Permission denied")},
      {EBUSY, N_("Device or resource busy")},
      {EEXIST, N_("File exists")},
      {EXDEV, N_("Invalid cross-device link")},
      {ENODEV, N_("No such device")},
      {ENOTDIR, N_("Not a directory")},
      {EISDIR, N_("Is a directory")},
      {EINVAL, N_("Invalid argument")},
      {ENFILE, N_("Too many open files in system")},
      {EMFILE, N_("Too many open files")},
      {ETXTBSY, N_("Text file busy")},
      {EFBIG, N_("File too large")},
      {ENOSPC, N_("No space left on device")},
      {EROFS, N_("Read-only file system")},
      {EPIPE, N_("Broken pipe")},
      {ENAMETOOLONG, N_("File name too long")},
      {ENOTEMPTY, N_("Directory not empty")},
      {ELOOP, N_("Too many levels of symbolic links")},
      {EDQUOT, N_("Disk quota exceeded")},
      {EOVERFLOW, N_("Value too large for defined data type")},
  };
  for (const auto& [number, text] : kTexts)
    if (number == err) return Tr(text);
  return WithLibraryText(Tr("system error {1}", {std::to_string(err)}), "libc", std::strerror(err));
}

std::string WithLibraryText(const std::string& lead, const char* library, const std::string& text) {
  std::string quoted = text;
  // Libraries end some texts with a line break of their own.
  while (!quoted.empty() && (quoted.back() == '\n' || quoted.back() == ' ' || quoted.back() == '.')) quoted.pop_back();
  if (quoted.empty()) return lead;
  return lead + " (" + library + ": " + quoted + ")";
}

namespace platform {

bool ReadMessageFile(const std::string& path, MessageTable& table) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 28) return false;
  auto u32 = [&](size_t at, bool swap) -> uint32_t {
    const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at);
    return swap ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
                : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  };
  bool swap = false;
  if (u32(0, false) != 0x950412deu) {
    if (u32(0, true) != 0x950412deu) return false;
    swap = true;
  }
  if (u32(4, swap) >> 16 != 0) return false;  // a major revision we do not know
  const uint64_t count = u32(8, swap), originals = u32(12, swap), translations = u32(16, swap);
  if (originals + count * 8 > data.size() || translations + count * 8 > data.size()) return false;
  auto text = [&](uint64_t table_at, uint64_t i, std::string& out) {
    const uint64_t length = u32(static_cast<size_t>(table_at + i * 8), swap);
    const uint64_t at = u32(static_cast<size_t>(table_at + i * 8 + 4), swap);
    if (at + length >= data.size()) return false;  // the text and its NUL
    out.assign(data, static_cast<size_t>(at), static_cast<size_t>(length));
    return true;
  };
  MessageTable read;
  for (uint64_t i = 0; i < count; ++i) {
    std::string key, value;
    if (!text(originals, i, key) || !text(translations, i, value)) return false;
    if (key.empty()) continue;  // the catalog's own header
    // Plural forms carry their variants after a NUL; we use the first.
    if (key.find('\0') != std::string::npos) key.resize(key.find('\0'));
    if (value.find('\0') != std::string::npos) value.resize(value.find('\0'));
    read.emplace(std::move(key), std::move(value));
  }
  table = std::move(read);
  return true;
}

void SetMessageTable(MessageTable table) { Table() = std::move(table); }

}  // namespace platform
}  // namespace velmora
