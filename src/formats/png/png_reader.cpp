// PNG input on libpng. Every colour type, bit depth and interlacing becomes
// 8-bit RGBA in the stored values, so a pixel composites over white exactly
// as it does from every other reader; the values' colours are told after
// (iCCP, else sRGB, else gAMA and cHRM as every reader takes them).
// libpng reports errors by longjmp, so every libpng call happens inside
// DecodePng, whose frames own nothing that needs a destructor.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <utility>
#include <istream>
#include <optional>
#include <iterator>
#include <vector>

#include "image/limits.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/color_profile.h"

namespace velmora {
namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

bool RecognisesPng(const uint8_t* data, size_t size) { return size >= 8 && std::memcmp(data, kSignature, 8) == 0; }

struct PngSink {
  // Called with the size once the header is read; returns false to refuse
  // (the reason is kept by the sink). Must not throw.
  // bits: per stored pixel; left: the bytes of the file still unread.
  bool (*begin)(void* self, png_uint_32 width, png_uint_32 height, int bits, bool interlaced, bool alpha, size_t left);
  // Rows to read the whole interlaced image into (RGBA), after begin.
  png_bytep* (*interlaced_rows)(void* self);
  // One decoded RGBA row. Must not throw.
  void (*row)(void* self, png_uint_32 y, const png_byte* rgba);
  // An ancillary chunk that may carry what the outputs keep (iCCP, tEXt,
  // zTXt, iTXt, eXIf), as stored: the reader decides what to make of it,
  // so that no such chunk can refuse the picture. Must not throw.
  void (*keep_chunk)(void* self, const png_byte* name, const png_byte* data, size_t size);
  // What gAMA and cHRM say, when there is no sRGB chunk. Must not throw.
  void (*stated)(void* self, const StatedColour& colour);
  void* self;
};

// A message that starts with this mark is one of our own texts (a catalog
// key); any other is libpng's own, quoted as it is.
constexpr char kOwnText = '\x01';

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos;
  jmp_buf jump;
  char message[200];
  bool own = false;  // the next png_error is ours
};

void OnPngError(png_structp png, png_const_charp text) {
  auto* in = static_cast<Input*>(png_get_error_ptr(png));
  if (in->own)
    std::snprintf(in->message, sizeof in->message, "%c%s", kOwnText, text);
  else
    std::snprintf(in->message, sizeof in->message, "%s", text);
  longjmp(in->jump, 1);
}

[[noreturn]] void OwnError(png_structp png, Input& in, const char* key) {
  in.own = true;
  png_error(png, key);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The chunks libpng would read itself and refuse the picture for (a profile
// whose size contradicts its header, a text that inflates past the limit):
// handed to the sink as they are instead.
constexpr png_byte kOwnChunks[] = "iCCP\0tEXt\0zTXt\0iTXt\0eXIf";

int OnChunk(png_structp png, png_unknown_chunkp chunk) {
  auto* sink = static_cast<PngSink*>(png_get_user_chunk_ptr(png));
  sink->keep_chunk(sink->self, chunk->name, chunk->data, chunk->size);
  return 1;
}

void ReadInput(png_structp png, png_bytep dst, size_t n) {
  auto* in = static_cast<Input*>(png_get_io_ptr(png));
  if (n > in->size - in->pos) OwnError(png, *in, N_("the data ends early"));
  std::memcpy(dst, in->data + in->pos, n);
  in->pos += n;
}

// Returns 0 on success, or 1 with message filled.
int DecodePng(const uint8_t* data, size_t size, const DecodeLimits& limits, PngSink* sink, char* message,
              size_t message_size) {
  Input in{data, size, 0, {}, {}, false};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &in, OnPngError, OnPngWarning);
  if (!png) {
    std::snprintf(message, message_size, "%c%s", kOwnText, N_("out of memory"));
    return 1;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(in.jump)) {
    if (info)
      std::snprintf(message, message_size, "%s", in.message);
    else
      std::snprintf(message, message_size, "%c%s", kOwnText, N_("out of memory"));
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    return 1;
  }
  png_set_read_fn(png, &in, ReadInput);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kOwnChunks, 5);
  png_set_read_user_chunk_fn(png, sink, OnChunk);
  // The side limit, and no chunk larger than the allocation limit or than
  // the data itself: a chunk claiming more is refused before allocating.
  const png_uint_32 side = static_cast<png_uint_32>(std::min<int64_t>(limits.max_side, PNG_UINT_31_MAX));
  png_set_user_limits(png, side, side);
  // libpng treats a chunk over the limit as a "benign" error, which it only
  // warns about on reading before allocating the chunk anyway.
  png_set_benign_errors(png, 0);
  png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(std::min<int64_t>(
                                    limits.max_allocation, std::max<int64_t>(static_cast<int64_t>(size) + 1, 16 << 20))));
  png_read_info(png, info);
  if (!png_get_valid(png, info, PNG_INFO_sRGB) && png_get_valid(png, info, PNG_INFO_gAMA | PNG_INFO_cHRM)) {
    StatedColour colour;
    if (png_get_valid(png, info, PNG_INFO_gAMA)) png_get_gAMA(png, info, &colour.gamma);
    if (png_get_valid(png, info, PNG_INFO_cHRM)) {
      double* p = colour.primaries.data();
      png_get_cHRM(png, info, &p[6], &p[7], &p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
    }
    sink->stated(sink->self, colour);
  }
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int interlace = png_get_interlace_type(png, info);
  const int bits = png_get_bit_depth(png, info) * png_get_channels(png, info);
    const bool alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
  if (!sink->begin(sink->self, width, height, bits, interlace != PNG_INTERLACE_NONE, alpha, in.size - in.pos)) {
    png_destroy_read_struct(&png, &info, nullptr);
    message[0] = 0;
    return 1;
  }
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4) OwnError(png, in, N_("unexpected row layout"));
  if (passes > 1) {
    png_read_image(png, sink->interlaced_rows(sink->self));
    png_bytep* rows = sink->interlaced_rows(sink->self);
    for (png_uint_32 y = 0; y < height; ++y) sink->row(sink->self, y, rows[y]);
  } else {
    png_bytep row = sink->interlaced_rows(sink->self)[0];
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(png, row, nullptr);
      sink->row(sink->self, y, row);
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return 0;
}

enum class InflateResult { kDone, kTooLarge, kDamaged };

// zlib data inflated into out, never past limit bytes.
InflateResult Inflate(const uint8_t* data, size_t size, size_t limit, std::vector<uint8_t>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return InflateResult::kDamaged;
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(std::min<size_t>(size, UINT32_MAX));
  out.clear();
  int status = Z_OK;
  uint8_t buffer[1 << 14];
  while (status == Z_OK) {
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    status = inflate(&z, Z_NO_FLUSH);
    const size_t made = sizeof buffer - z.avail_out;
    if (out.size() + made > limit) {
      inflateEnd(&z);
      return InflateResult::kTooLarge;
    }
    out.insert(out.end(), buffer, buffer + made);
    if (status == Z_BUF_ERROR && z.avail_in == 0) break;
  }
  inflateEnd(&z);
  return status == Z_STREAM_END ? InflateResult::kDone : InflateResult::kDamaged;
}

// "Raw profile type" text: a line with the name, a line with the length,
// then the bytes as hexadecimal digits over several lines.
std::vector<uint8_t> RawProfileBytes(const std::vector<uint8_t>& text) {
  size_t at = 0;
  for (int line = 0; line < 3 && at < text.size(); ++line) {
    while (at < text.size() && text[at] == '\n') ++at;
    while (at < text.size() && text[at] != '\n') ++at;
  }
  std::vector<uint8_t> bytes;
  int high = -1;
  for (; at < text.size(); ++at) {
    const uint8_t c = text[at];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return bytes;
}

class PngGraphic : public BitmapGraphic {
 public:
  explicit PngGraphic(std::string name) : name_(std::move(name)) {}
  std::string ClassName() const override { return name_; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    stated_.reset();
    PngSink sink{&PngGraphic::Begin, &PngGraphic::Rows, &PngGraphic::Row, &PngGraphic::KeepChunk, &PngGraphic::Stated, this};
    char message[200] = {};
    if (DecodePng(data, size, Limits(), &sink, message, sizeof message) != 0) {
      rgba_.clear();
      rows_.clear();
      if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
      const std::string reason = message[0] == kOwnText ? Tr(message + 1)
                                                           : WithLibraryText(Tr("the data cannot be read"), "libpng", message);
      throw Error(ErrorKind::kInvalidData, Tr("PNG image error: {1}", {reason}));
    }
    rgba_.clear();
    rows_.clear();
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
    for (const auto& [name, bytes] : chunks_) TakeChunk(name, bytes);
    chunks_.clear();
    // A profile of its own wins over what gAMA and cHRM say.
    if (stated_ && Wants(Packet::kIcc)) {
      const IccBytes icc = ProfileFor(*stated_);
      if (!icc.empty()) Carry(Packet::kIcc, icc.data(), icc.size());
    }
  }

 private:
  static bool Begin(void* self, png_uint_32 width, png_uint_32 height, int bits, bool interlaced, bool alpha,
                    size_t left) {
    auto* me = static_cast<PngGraphic*>(self);
    try {
      // zlib inflates at most 1032 bytes from one.
      me->ClaimSize(width, height, left, 1032.0 * 8 / std::max(bits, 1), N_("PNG image"));
      CheckAllocation(me->Limits(), static_cast<int64_t>(width) * (interlaced ? height : 1) * 4, N_("PNG image"));
      me->bitmap_ = Bitmap(static_cast<int>(width), static_cast<int>(height), Bitmap::Format::k24Bit);
      if (alpha) me->StartAlpha(static_cast<int>(width), static_cast<int>(height));
      const size_t row_bytes = static_cast<size_t>(width) * 4;
      me->rgba_.assign(interlaced ? row_bytes * height : row_bytes, 0);
      me->rows_.resize(interlaced ? height : 1);
      for (size_t y = 0; y < me->rows_.size(); ++y) me->rows_[y] = me->rgba_.data() + row_bytes * y;
      return true;
    } catch (...) {
      // Raised again once libpng's frames are gone.
      me->pending_ = std::current_exception();
      return false;
    }
  }
  static void Stated(void* self, const StatedColour& colour) { static_cast<PngGraphic*>(self)->stated_ = colour; }
  static png_bytep* Rows(void* self) { return static_cast<PngGraphic*>(self)->rows_.data(); }
  static void KeepChunk(void* self, const png_byte* name, const png_byte* data, size_t size) {
    auto* me = static_cast<PngGraphic*>(self);
    try {
      // Only the first profile counts, and text only when it is wanted.
      const std::string kind(reinterpret_cast<const char*>(name), 4);
      if (kind == "iCCP" ? !me->Wants(Packet::kIcc) : !me->Wants(Packet::kExif) && !me->Wants(Packet::kXmp)) return;
      me->chunks_.emplace_back(kind, std::vector<uint8_t>(data, data + size));
    } catch (...) {
      me->pending_ = std::current_exception();
    }
  }
  // What a kept chunk holds, once libpng is done: a profile, EXIF or XMP,
  // within its limit; anything else, damaged or too large, is passed over.
  void TakeChunk(const std::string& kind, const std::vector<uint8_t>& chunk) {
    const uint8_t* p = chunk.data();
    const size_t n = chunk.size();
    const size_t keyword_end = std::find(p, p + std::min<size_t>(n, 80), 0) - p;
    if (kind == "eXIf") return Carry(Packet::kExif, p, n);
    if (keyword_end >= n) return;
    const std::string keyword(reinterpret_cast<const char*>(p), keyword_end);
    if (kind == "iCCP") {
      // keyword, 0, compression method 0, the deflated profile
      std::vector<uint8_t> icc;
      if (keyword_end + 2 > n || p[keyword_end + 1] != 0) return;
      if (Inflate(p + keyword_end + 2, n - keyword_end - 2, kMaxIccBytes, icc) == InflateResult::kDone)
        Carry(Packet::kIcc, icc.data(), icc.size());
      else
        warnings_.push_back(ProfileIgnoredWarning(Tr("its compressed data is damaged or larger than {1} bytes",
                                                     {std::to_string(kMaxIccBytes)})));
      return;
    }
    const bool xmp = keyword == "XML:com.adobe.xmp";
    // ImageMagick's and exiftool's EXIF: "Raw profile type exif" (or APP1)
    // as hexadecimal text.
    const bool raw_exif = keyword == "Raw profile type exif" || keyword == "Raw profile type APP1";
    if (!(xmp && Wants(Packet::kXmp)) && !(raw_exif && Wants(Packet::kExif))) return;
    const Packet packet = xmp ? Packet::kXmp : Packet::kExif;
    // Hexadecimal text holds a byte in two characters and some lines.
    const size_t limit = xmp ? kMaxXmpBytes : 2 * kMaxExifBytes + 4096;
    std::vector<uint8_t> text;
    size_t at = keyword_end + 1;
    InflateResult result = InflateResult::kDone;
    if (kind == "tEXt") {
      text.assign(p + at, p + n);
    } else if (kind == "zTXt") {
      if (at + 1 > n || p[at] != 0) return;
      result = Inflate(p + at + 1, n - at - 1, limit, text);
    } else {  // iTXt: flag, method, language, 0, translated keyword, 0, text
      if (at + 2 > n) return;
      const bool compressed = p[at] != 0;
      at += 2;
      for (int field = 0; field < 2; ++field) {
        while (at < n && p[at] != 0) ++at;
        if (++at > n) return;
      }
      if (compressed)
        result = Inflate(p + at, n - at, limit, text);
      else
        text.assign(p + at, p + n);
    }
    if (result == InflateResult::kTooLarge || text.size() > limit) {
      CarrySize(packet, std::max<uint64_t>(text.size(), limit + 1));
      return;
    }
    if (result != InflateResult::kDone) return;
    if (xmp) return Carry(Packet::kXmp, text.data(), text.size());
    const std::vector<uint8_t> exif = RawProfileBytes(text);
    // The block may still start with JPEG's "Exif\0\0".
    const size_t skip = exif.size() > 6 && std::memcmp(exif.data(), "Exif\0\0", 6) == 0 ? 6 : 0;
    if (exif.size() > skip) Carry(Packet::kExif, exif.data() + skip, exif.size() - skip);
  }
  static void Row(void* self, png_uint_32 y, const png_byte* rgba) {
    auto* me = static_cast<PngGraphic*>(self);
    uint8_t* out = me->bitmap_.Row(static_cast<int>(y));
    uint8_t* kept = me->AlphaRow(static_cast<int>(y));
    // Over white, in the stored values.
    for (int x = 0; x < me->bitmap_.Width(); ++x, rgba += 4, out += 3)
      PutPixel(out, kept ? kept + x * 4 : nullptr, rgba[2], rgba[1], rgba[0], rgba[3]);
  }

  std::string name_;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> chunks_;
  std::vector<uint8_t> rgba_;
  std::vector<png_bytep> rows_;
  std::exception_ptr pending_;
  std::optional<StatedColour> stated_;
};

}  // namespace

const GraphicClass& PngSideClass() {
  static const GraphicClass cls{"PNGGraphic", [] { return std::make_unique<PngGraphic>("PNGGraphic"); }, RecognisesPng};
  return cls;
}

const GraphicClass& PngEncoderClass() {
  static const GraphicClass cls{"PngEncoder", [] { return std::make_unique<PngGraphic>("PngEncoder"); }, nullptr};
  return cls;
}

const InputFormat& PngFormat() {
  static const InputFormat format{
      "PNG",
      {{Registration::kSideFormat, PngSideClass, "png", N_("Portable network graphic images")},
        {Registration::kLate, PngEncoderClass, "PNG", N_("PNG Format")}},
      RecognisesPng,
      true,
      true,
      {"image/png"}};
  return format;
}

}  // namespace velmora
