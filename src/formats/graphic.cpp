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
  throw InvalidGraphicError(Tr("無効なクリップボード フォーマットです"));
}

void Graphic::AssignTo(Bitmap&) const { throw ConvertError(Tr("{1} を Bitmap に代入することはできません", {ClassName()})); }

void RequireBytes(size_t size, size_t needed, const char* who) {
  if (size < needed) throw DecodeError(DecodeKind::kIncompleteData, Tr("{1}: unexpected end of data", {Tr(who)}));
}

}  // namespace velmora
