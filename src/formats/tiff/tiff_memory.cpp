#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/scratch.h"
#include "formats/tiff/tiff_private.h"

#include "base/messages.h"

namespace velmora::tiff {

OutputBuffer::OutputBuffer(size_t expected)
    : data_(Scratch(ScratchSlot::kCompressed, expected)), capacity_(expected) {}

void OutputBuffer::Write(uint64_t pos, const void* bytes, size_t n) {
  const uint64_t end = pos + n;
  if (end > capacity_) {
    if (end > SIZE_MAX / 2) throw std::bad_alloc();
    const size_t grown = std::max(static_cast<size_t>(end), capacity_ * 2);
    std::unique_ptr<uint8_t[]> fresh(new uint8_t[grown]);
    std::memcpy(fresh.get(), data_, size_);
    heap_ = std::move(fresh);
    data_ = heap_.get();
    capacity_ = grown;
  }
  if (pos > size_) std::memset(data_ + size_, 0, static_cast<size_t>(pos - size_));
  if (n > 0) std::memcpy(data_ + pos, bytes, n);
  if (end > size_) size_ = static_cast<size_t>(end);
}

namespace {

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemoryFile*>(h);
  const uint64_t length = m->output ? m->output->Size() : m->size;
  const uint8_t* data = m->output ? m->output->Data() : m->data;
  if (m->pos >= length) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size), length - m->pos));
  std::memcpy(buf, data + m->pos, n);
  m->pos += n;
  return static_cast<tsize_t>(n);
}

tsize_t WriteProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<MemoryFile*>(h);
  if (!m->output || size < 0) return -1;
  try {
    m->output->Write(m->pos, buf, static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return -1;  // libtiff reports the failed write
  }
  m->pos += static_cast<uint64_t>(size);
  return size;
}

toff_t SizeProc(thandle_t h) {
  auto* m = static_cast<MemoryFile*>(h);
  return m->output ? m->output->Size() : m->size;
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
  if (m->output) return 0;
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
  return Handle(TIFFClientOpenExt(file.output ? "output" : "input", mode, &file, ReadProc, WriteProc, SeekProc,
                                  CloseProc, SizeProc, MapProc, UnmapProc, options.get()),
                &TIFFClose);
}

std::string Diagnostics::Quoted(const std::string& lead) const {
  return failed ? WithLibraryText(lead, "libtiff", first_error) : lead;
}

}  // namespace velmora::tiff
