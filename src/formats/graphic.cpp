#include "formats/graphic.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>

namespace velmora {

void Graphic::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("Cannot open file \"" + path + "\": " + std::strerror(errno));
  LoadFromStream(in);
}

void Graphic::LoadFromClipboardFormat(uint32_t, const std::vector<uint8_t>&) {
  throw InvalidGraphicError("無効なクリップボード フォーマットです");
}

void Graphic::AssignTo(Bitmap&) const { throw ConvertError(ClassName() + " を Bitmap に代入することはできません"); }

void ReadExact(std::istream& in, void* dst, size_t n, const char* who) {
  in.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
  if (static_cast<size_t>(in.gcount()) != n) throw DecodeError(DecodeKind::kIncompleteData, std::string(who) + ": unexpected end of data");
}

}  // namespace velmora
