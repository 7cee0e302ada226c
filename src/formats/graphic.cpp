#include "formats/graphic.h"
#include "base/messages.h"

#include <istream>
#include <iterator>

#include "image/limits.h"
#include "platform/platform.h"

namespace velmora {

const std::vector<uint8_t>* DecodeRequest::StandardCmyk() const {
  if (!standard_cmyk) return nullptr;
  const std::vector<uint8_t>& bytes = standard_cmyk->Get();
  return bytes.empty() ? nullptr : &bytes;
}

void Graphic::LoadFromFile(const std::string& path) {
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, Limits().max_file);
  LoadFromMemory(data.data(), data.size());
}

void Graphic::LoadFromStream(std::istream& in) {
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LoadFromMemory(data.data(), data.size());
}

void Graphic::LoadFromClipboardFormat(uint32_t, const std::vector<uint8_t>&) {
  throw Error(ErrorKind::kUnsupported, Tr("無効なクリップボード フォーマットです"));
}

void Graphic::AssignTo(Bitmap&) const { throw Error(ErrorKind::kUnsupported, Tr("{1} を Bitmap に代入することはできません", {ClassName()})); }

size_t PacketLimit(Packet kind) {
  switch (kind) {
    case Packet::kIcc: return kMaxIccBytes;
    case Packet::kExif: return kMaxExifBytes;
    case Packet::kXmp: return kMaxXmpBytes;
    case Packet::kIptc: return kMaxIptcBytes;
  }
  return 0;
}

namespace {

const char* PacketName(Packet kind) {
  switch (kind) {
    case Packet::kIcc: return N_("colour profile");
    case Packet::kExif: return "EXIF";
    case Packet::kXmp: return "XMP";
    case Packet::kIptc: return "IPTC";
  }
  return "";
}

}  // namespace

void ClaimSize(const DecodeLimits& limits, const ConversionContext* context, int64_t width, int64_t height,
               uint64_t available, double pixels_per_byte, const char* who) {
  CheckClaimedSize(limits, width, height, available, pixels_per_byte, who);
  if (context) context->Admit(width, height);
}

void Graphic::ClaimSize(int64_t width, int64_t height, uint64_t available, double pixels_per_byte,
                        const char* who) const {
  velmora::ClaimSize(Limits(), context_, width, height, available, pixels_per_byte, who);
}

void Graphic::ClaimSize(int64_t width, int64_t height, const char* who) const {
  CheckImageSize(Limits(), width, height, who);
  if (context_) context_->Admit(width, height);
}

bool Graphic::Wants(Packet kind) const {
  switch (kind) {
    case Packet::kIcc: return embedded_.icc.empty();
    case Packet::kExif: return request_.metadata && embedded_.exif.empty();
    case Packet::kXmp: return request_.metadata && embedded_.xmp.empty();
    case Packet::kIptc: return request_.metadata && embedded_.iptc.empty();
  }
  return false;
}

bool Graphic::CarrySize(Packet kind, uint64_t size) {
  if (!Wants(kind) || size == 0) return false;
  if (size <= PacketLimit(kind)) return true;
  warnings_.push_back(Tr("its {1} of {2} bytes is larger than the {3} bytes carried, and is left out",
                         {Tr(PacketName(kind)), std::to_string(size), std::to_string(PacketLimit(kind))}));
  return false;
}

void Graphic::Carry(Packet kind, const uint8_t* data, size_t size) {
  if (!CarrySize(kind, size)) return;
  switch (kind) {
    case Packet::kIcc: embedded_.icc.assign(data, data + size); break;
    case Packet::kExif: embedded_.exif.assign(data, data + size); break;
    case Packet::kXmp: embedded_.xmp.assign(reinterpret_cast<const char*>(data), size); break;
    case Packet::kIptc: embedded_.iptc.assign(data, data + size); break;
  }
}

void RequireBytes(size_t size, size_t needed, const char* who) {
  if (size < needed) throw Error(ErrorKind::kTruncated, Tr("{1}: unexpected end of data", {Tr(who)}));
}

}  // namespace velmora
