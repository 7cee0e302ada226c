#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <ostream>

#include "formats/tiff/tiff_private.h"

#include "base/messages.h"

namespace velmora::tiff {

namespace {

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemoryFile*>(h);
  if (m->out) return -1;  // written files are not read back
  const uint64_t length = m->size;
  const uint8_t* data = m->data;
  if (m->pos >= length) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), length - m->pos));
  std::memcpy(buf, data + m->pos, n);
  for (const auto& [at, value] : m->patches)
    if (at >= m->pos && at < m->pos + n) static_cast<uint8_t*>(buf)[at - m->pos] = value;
  m->pos += n;
  return static_cast<tsize_t>(n);
}

tsize_t WriteProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemoryFile*>(h);
  if (!m->out || size < 0) return -1;
  try {
    // A gap libtiff leaves (its word alignment) reads as zeros: not every
    // stream can seek past its end.
    if (m->pos > m->written) {
      if (m->at != m->written && !m->out->seekp(static_cast<std::streamoff>(m->base + m->written))) return -1;
      static const char kZeros[8] = {};
      for (uint64_t left = m->pos - m->written; left > 0;) {
        const uint64_t n = std::min<uint64_t>(left, sizeof kZeros);
        if (!m->out->write(kZeros, static_cast<std::streamsize>(n))) return -1;
        left -= n;
      }
      m->at = m->written = m->pos;
    }
    // Mostly straight on; a seek only where libtiff patches an offset.
    if (m->at != m->pos && !m->out->seekp(static_cast<std::streamoff>(m->base + m->pos))) return -1;
    if (!m->out->write(static_cast<const char*>(buf), size)) return -1;
  } catch (const std::exception&) {
    return -1;  // libtiff reports the failed write
  }
  m->pos += static_cast<uint64_t>(size);
  m->at = m->pos;
  m->written = std::max(m->written, m->pos);
  return size;
}

toff_t SizeProc(thandle_t h) {
  auto* m = static_cast<MemoryFile*>(h);
  return m->out ? m->written : m->size;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemoryFile*>(h);
  const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : SizeProc(h);
  m->pos = base + off;
  return m->pos;
}

int CloseProc(thandle_t) { return 0; }

// Handing libtiff the whole input as a mapping takes its lenient mapped-file
// path, which reads tiles whose byte counts exceed the tile size.
int MapProc(thandle_t h, tdata_t* base, toff_t* size) {
  auto* m = static_cast<MemoryFile*>(h);
  if (m->out || !m->patches.empty()) return 0;
  *base = const_cast<uint8_t*>(m->data);
  *size = m->size;
  return 1;
}

void UnmapProc(thandle_t, tdata_t, toff_t) {}

int OnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* d = static_cast<Diagnostics*>(user);
  if (!d->failed) {
    char text[200];
    std::vsnprintf(text, sizeof text, fmt, ap);
    std::snprintf(d->first_error, sizeof d->first_error, "%s%s%s", module ? module : "", module ? ": " : "", text);
  }
  d->failed = true;
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

Handle Open(const char* mode, MemoryFile& file, Diagnostics& diagnostics, int64_t max_alloc) {
  std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                           &TIFFOpenOptionsFree);
  if (!options) throw std::bad_alloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &diagnostics);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, nullptr);
  if (max_alloc > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), static_cast<tmsize_t>(max_alloc));
  return Handle(TIFFClientOpenExt(file.out ? "output" : "input", mode, &file, ReadProc, WriteProc, SeekProc,
                                  CloseProc, SizeProc, MapProc, UnmapProc, options.get()),
                &TIFFClose);
}

std::string Diagnostics::Quoted(const std::string& lead) const {
  return failed ? WithLibraryText(lead, "libtiff", first_error) : lead;
}

}  // namespace velmora::tiff
