// The graphic classes: every decoder is a Graphic that loads from a stream and
// hands its picture to the working Bitmap.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "image/bitmap.h"
#include "base/error.h"
#include "image/conversion_context.h"
#include "image/limits.h"

namespace velmora {

// What a file carries beside its pixels, as stored: the colour profile, the
// EXIF block (TIFF-structured, without JPEG's "Exif\0\0"), the XMP packet
// and the IPTC-IIM records.
struct Embedded {
  std::vector<uint8_t> icc;
  std::vector<uint8_t> exif;
  std::string xmp;
  std::vector<uint8_t> iptc;
};

// What one packet a file carries may hold; a larger one is left behind,
// with a warning when it was asked for, so that what a file claims never
// costs more than these. EXIF and IPTC: what one JPEG segment holds; XMP:
// 1 MiB (a photo's packet holds a few KB, an editor's history some
// hundred); a colour profile: 16 MiB (the largest in use hold a few).
enum class Packet { kIcc, kExif, kXmp, kIptc };
inline constexpr size_t kMaxExifBytes = size_t{64} << 10;
inline constexpr size_t kMaxXmpBytes = size_t{1} << 20;
inline constexpr size_t kMaxIptcBytes = size_t{64} << 10;
inline constexpr size_t kMaxIccBytes = size_t{16} << 20;
size_t PacketLimit(Packet kind);

// Profile bytes made by read() the first time they are wanted, on whatever
// thread.
class LazyProfile {
 public:
  explicit LazyProfile(std::function<std::vector<uint8_t>()> read) : read_(std::move(read)) {}
  const std::vector<uint8_t>& Get() {
    std::call_once(once_, [this] { bytes_ = read_(); });
    return bytes_;
  }

 private:
  std::function<std::vector<uint8_t>()> read_;
  std::once_flag once_;
  std::vector<uint8_t> bytes_;
};

// What the caller asks of a decoder beyond the pixels.
struct DecodeRequest {
  // Keep the alpha channel apart instead of compositing over white.
  bool keep_alpha = false;
  // Keep EXIF, XMP and IPTC (the profile is always kept: the colours need it).
  bool metadata = false;
  // The conversion the decode is part of: its limits replace the loader's,
  // and each picture's size is told to it before the picture is made.
  const ConversionContext* context = nullptr;
  // A standard CMYK profile for CMYK pictures that carry none; none (or an
  // empty one): the decoders' own arithmetic. Read when first asked for, so
  // that the many pictures that are not CMYK never wait for it.
  std::shared_ptr<LazyProfile> standard_cmyk;
  const std::vector<uint8_t>* StandardCmyk() const;
  // A preview of at least this many pixels on the long edge is enough: a
  // decoder that can decode smaller for less (JPEG's scaled DCT) may.
  // 0: the picture at its own size.
  int preview_edge = 0;
};

// A decoder's size gate for code outside a Graphic (a model of its own):
// the claim checked as CheckClaimedSize does, then told to the context.
void ClaimSize(const DecodeLimits& limits, const ConversionContext* context, int64_t width, int64_t height,
               uint64_t available, double pixels_per_byte, const char* who);

class Graphic {
 public:
  virtual ~Graphic() = default;
  // The class name that messages show ("Bitmap", "Icon", ...).
  virtual std::string ClassName() const = 0;

  // Reads the file (a regular file within the input limit) and decodes it.
  void LoadFromFile(const std::string& path);
  // Decodes what the stream holds from its current position.
  void LoadFromStream(std::istream& in);
  // Decodes bytes in memory; raises the decoder's own error.
  void LoadFromMemory(const uint8_t* data, size_t size) { OnLoad(data, size); }
  // Clipboard data of one format with the clipboard's palette ignored.
  virtual void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data);

  // Hands the picture to a bitmap. Classes that cannot raise ConvertError
  // "<class> を Bitmap に代入することはできません".
  virtual void AssignTo(Bitmap& target) const;
  // AssignTo for a graphic that is not needed afterwards: a bitmap-holding
  // class hands its pixels over instead of copying them.
  virtual void MoveTo(Bitmap& target) { AssignTo(target); }

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // What the decoder noticed about data it could still decode.
  const std::vector<std::string>& Warnings() const { return warnings_; }

  // A picture whose format keeps part of it in a file of its own (the
  // palette beside a Dr. Halo picture) asks for that file by extension; the
  // loader, which knows where the picture came from, answers with its bytes
  // or with nothing. A decoder never sees a path.
  using Companion = std::function<std::optional<std::vector<uint8_t>>(const std::string& extension)>;
  void SetCompanion(Companion companion) { companion_ = std::move(companion); }
  // The name of the file being loaded, for the one class that must hand it
  // on (a Susie plug-in's IsSupported takes it); empty for a nameless stream.
  void SetFileName(std::string name) { file_name_ = std::move(name); }
  // What decoding may spend: the loader's limits (the defaults otherwise).
  void SetLimits(const DecodeLimits& limits) { limits_ = limits; }
  const DecodeLimits& Limits() const { return limits_; }
  // The conversion this decode is part of (its limits and its account of
  // memory); none: the limits alone. It must outlive the decode.
  void SetContext(const ConversionContext* context) {
    context_ = context;
    if (context) limits_ = context->limits;
  }
  const ConversionContext* Context() const { return context_; }
  void SetRequest(const DecodeRequest& request) { request_ = request; }
  const DecodeRequest& Request() const { return request_; }

  // The profile, EXIF and XMP the file carried (what the decoder found).
  const Embedded& Carried() const { return embedded_; }
  Embedded& Carried() { return embedded_; }
  // When keep_alpha was asked and the picture has an alpha channel: the
  // straight colours and the alpha (32 bits: blue, green, red, alpha) of
  // the picture as Picture shows it, beside the picture composited over
  // white as always. Empty otherwise.
  Bitmap TakeAlpha() { return std::move(alpha_); }

 protected:
  virtual void OnLoad(const uint8_t* data, size_t size) = 0;
  std::optional<std::vector<uint8_t>> CompanionFile(const std::string& extension) const {
    return companion_ ? companion_(extension) : std::nullopt;
  }
  const std::string& FileName() const { return file_name_; }
  // A reader of a picture with alpha calls this once it knows the size:
  // true when the caller wants the alpha kept (the plane is then made, rows
  // for AlphaRow); every pixel still goes to the picture over white.
  bool StartAlpha(int width, int height) {
    if (!request_.keep_alpha) return false;
    alpha_ = Bitmap(width, height, Bitmap::Format::k32Bit);
    return true;
  }
  // The one size gate of a decoder, before its first allocation for the
  // picture: the claim checked against the limits and against what the
  // data can hold (CheckClaimedSize), then told to the conversion, whose
  // account of memory may make it wait for room.
  void ClaimSize(int64_t width, int64_t height, uint64_t available, double pixels_per_byte, const char* who) const;
  // The same for a size whose data cannot be weighed first.
  void ClaimSize(int64_t width, int64_t height, const char* who) const;
  // Row y of the plane, or nullptr when none was started.
  uint8_t* AlphaRow(int y) { return alpha_.Empty() ? nullptr : alpha_.Row(y); }
  // Whether a packet of this kind is wanted and none is kept yet: a reader
  // asks before reading one.
  bool Wants(Packet kind) const;
  // Keeps a packet the file carries when Wants(kind) and it is within its
  // limit; a larger one is dropped with a warning. size alone, before the
  // bytes are read: CarrySize says whether to read them.
  void Carry(Packet kind, const uint8_t* data, size_t size);
  bool CarrySize(Packet kind, uint64_t size);
  std::vector<std::string> warnings_;
  Embedded embedded_;
  Bitmap alpha_;

 private:
  Companion companion_;
  std::string file_name_;
  DecodeLimits limits_;
  const ConversionContext* context_ = nullptr;
  DecodeRequest request_;
};

// A graphic that keeps its picture in a Bitmap: the decoders' common base.
class BitmapGraphic : public Graphic {
 public:
  void AssignTo(Bitmap& target) const override { target = bitmap_; }
  void MoveTo(Bitmap& target) override { target = std::move(bitmap_); }
  int Width() const override { return bitmap_.Width(); }
  int Height() const override { return bitmap_.Height(); }
  const Bitmap& Picture() const { return bitmap_; }

 protected:
  Bitmap bitmap_;
};

// A graphic class as the registries list it: a name, a factory and, for the
// side-format decoders, a content test of the data's first bytes.
struct GraphicClass {
  std::string name;
  std::function<std::unique_ptr<Graphic>()> create;
  std::function<bool(const uint8_t* data, size_t size)> recognises;  // empty: not a side-format class
};

// A pixel of straight colour and alpha: over white into bgr, and as it is
// into bgra when the alpha is kept (bgra not null).
inline void PutPixel(uint8_t* bgr, uint8_t* bgra, int b, int g, int r, int a) {
  bgr[0] = OverWhite(b, a);
  bgr[1] = OverWhite(g, a);
  bgr[2] = OverWhite(r, a);
  if (bgra) {
    bgra[0] = static_cast<uint8_t>(b);
    bgra[1] = static_cast<uint8_t>(g);
    bgra[2] = static_cast<uint8_t>(r);
    bgra[3] = static_cast<uint8_t>(a);
  }
}

// Raises the decoder's truncation error when size is below needed.
void RequireBytes(size_t size, size_t needed, const char* who);

}  // namespace velmora
