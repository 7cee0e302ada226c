// MagImage: reads and writes MAG ("MAki chan Graphic") files, 16 or 256
// colours, each 2-byte unit a literal or a copy from one of 15 fixed earlier
// positions, described by the flag A bit string and the flag B bytes.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/messages.h"
#include "image/bitmap.h"
#include "image/conversion_context.h"
#include "image/limits.h"
#include "image/dib_image.h"

namespace velmora {

// The MAG codec's two refusals: of data, and of an operation.
inline Error MagError(const std::string& detail) { return Error(ErrorKind::kInvalidData, Tr("MAG image error:") + detail); }
inline Error MagOperationError(const std::string& detail) {
  return Error(ErrorKind::kInternal, Tr("MAG invaild operation:") + detail);
}

// The encoded file, shared between copies of a MagImage.
struct MagData {
  MagData();
  std::vector<uint8_t> stream;
  std::array<uint8_t, 32> file_header{};
  std::array<uint8_t, 32> mag_header{};
  int width = 0;
  int height = 0;
};

// What a new image says of its maker.
inline constexpr const char* kMagUserName = ">?\?<";
inline constexpr const char* kMagComment = "orv's TMAGImage Ver 1.01";

class MagImage {
 public:
  MagImage();

  bool Color256 = false;
  std::string UserName = kMagUserName;
  std::string Comment = kMagComment;
  bool ScreenModeBit0 = false;
  uint16_t OriginY = 0;
  uint16_t OriginX = 0;

  // Reads the whole rest of the stream and decodes it at once.
  void LoadFromStream(std::istream& in);
  // limits: what decoding may spend (the loader's).
  // context: the conversion the decode is part of, told the size (or none).
  void LoadFromBytes(std::vector<uint8_t> bytes, const DecodeLimits& limits = DecodeLimits{},
                     const ConversionContext* context = nullptr);
  // Encodes when there is no encoded data or the image changed since.
  void SaveToStream(std::ostream& out);
  // Shares the other image's encoded data.
  void Assign(const MagImage& other);
  // Takes a picture: 1 bit -> 16 system colours, 4 and 8 bits as they are,
  // anything else -> 8 bits on the halftone palette; width padded with white.
  void Assign(const Bitmap& picture);
  void Assign(const DibImage& image);
  void AssignTo(Bitmap& target) const;

  int Width() const;
  int Height() const;
  void SetWidth(int width);
  void SetHeight(int height);
  bool Empty() const;
  bool Equals(const MagImage& other) const { return data_ == other.data_; }
  const Bitmap& Picture();
  const MagData& Data() const { return *data_; }

 private:
  // The mapped picture becomes the image: width padded with white.
  void Adopt(Bitmap picture);
  void Parse();
  void Decode(const DecodeLimits& limits, const ConversionContext* context);
  void Encode();
  int Group() const { return Color256 ? 4 : 8; }

  std::shared_ptr<MagData> data_;
  std::optional<Bitmap> bitmap_;
  bool modified_ = false;
};

// The MAG file of a prepared picture, written as MagImage would write it
// after Assign(image), without holding the mapped picture or the file.
void WriteMagPicture(const DibImage& image, std::ostream& out);

// dy (lines up) and dx (units left) of each flag nibble; index 0 is a literal.
inline constexpr int kMagCopyDy[16] = {0, 0, 0, 0, 1, 1, 2, 2, 2, 4, 4, 4, 8, 8, 8, 16};
inline constexpr int kMagCopyDx[16] = {0, 1, 2, 4, 0, 1, 0, 1, 2, 0, 1, 2, 0, 1, 2, 0};

}  // namespace velmora
