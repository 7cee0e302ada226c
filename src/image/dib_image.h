// DibImage: the device-independent bitmap every writer consumes. It holds a BMP
// file's content without its 14-byte file header (info header, colour table,
// pixel rows) in a DibStorage that several images share until one changes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/color.h"
#include "image/limits.h"
#include "image/pixel_memory.h"

namespace velmora {

struct BitmapInfoHeader {
  uint32_t biSize = 40;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 1;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 3780;
  int32_t biYPelsPerMeter = 3780;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

enum class PixelFormat { k1Bit, k4Bit, k4BitRLE, k8Bit, k8BitRLE, k24Bit };

using ColorTable = std::array<RgbQuad, 256>;

// Header, colour table and pixel bytes: what a pixel-format conversion builds
// completely before swapping it into a storage.
struct DibParts {
  BitmapInfoHeader header;
  ColorTable table{};
  PixelMemory bits;
  size_t ImageSize() const { return bits.Size(); }
  int Width() const { return header.biWidth; }
  int Height() const { return header.biHeight < 0 ? -header.biHeight : header.biHeight; }
};

// The pixel store. Shared through std::shared_ptr: its use count is the
// storage's RefCount.
class DibStorage {
 public:
  // A blank, zero-filled storage; raises DibParameterError
  // "DibStorage.CreateDIB: Invalid Parameters" for bad arguments.
  // allocate false leaves the pixel memory empty for the caller to fill.
  static std::shared_ptr<DibStorage> CreateDIB(int width, int height, int palette_size, int bit_count, bool use_fmo,
                                               bool allocate = true);
  // A storage around pixel memory the caller hands over (rows as the height's
  // sign says, RowBytes each), with palette size 0.
  static std::shared_ptr<DibStorage> AdoptDIB(int width, int height, int bit_count, PixelMemory bits, bool use_fmo);

  int Width() const { return parts.Width(); }
  int Height() const { return parts.Height(); }
  size_t ImageSize() const { return parts.ImageSize(); }

  DibParts parts;
  bool use_fmo = true;
  // The cached palette object: built from the colour table on demand.
  mutable std::optional<std::vector<RgbQuad>> palette_object;
};

// The format of a header, or InvalidDibError with the fixed texts.
PixelFormat PixelFormatOf(const BitmapInfoHeader& header);

enum class ProgressStage { kBegin, kRunning, kEnd };
using ProgressCallback = std::function<void(ProgressStage stage, int percent, const std::string& message)>;

class DibImage {
 public:
  // A 1 x 1, 8-bit image with 256 black colour-table entries and pixel 0.
  DibImage();

  int Width() const { return storage_->Width(); }
  int Height() const { return storage_->Height(); }
  void SetWidth(int width);
  void SetHeight(int height);
  int BitCount() const { return storage_->parts.header.biBitCount; }
  void SetBitCount(int bit_count);
  int PaletteSize() const { return static_cast<int>(storage_->parts.header.biClrUsed); }
  void SetPaletteSize(int size);
  // The palette object (the first PaletteSize table entries); none when 0.
  std::optional<std::vector<RgbQuad>> Palette() const;
  // Takes the entries of a palette object; nullptr sets PaletteSize 0.
  void SetPalette(const std::vector<RgbQuad>* palette);

  PixelFormat GetPixelFormat() const { return PixelFormatOf(storage_->parts.header); }
  void SetPixelFormat(PixelFormat format);

  void Assign(const DibImage& source);
  void Assign(const Bitmap& source);
  // The same, taking the bitmap's pixel memory instead of copying it (a
  // 32-bit bitmap is copied to 24 bits); the bitmap is empty afterwards.
  void Assign(Bitmap&& source);
  // No source: back to the fresh 1 x 1 default.
  void AssignDefault();
  void AssignTo(DibImage& target) const { target.Assign(*this); }
  void AssignTo(Bitmap& target) const;

  void SaveToStream(std::ostream& out) const;
  // limits: what reading may spend (a loader's; the model's own by default).
  void LoadFromStream(std::istream& in, const DecodeLimits& limits = kModelLimits);
  void SaveToFile(const std::string& path) const;
  void LoadFromFile(const std::string& path);

  // The packed DIB of clipboard format 8: header, colour table, pixel bytes.
  std::vector<uint8_t> SaveToClipboardFormat() const;
  void LoadFromClipboardFormat(uint32_t format, const uint8_t* data, size_t size,
                              const DecodeLimits& limits = kModelLimits);

  // A DibImage always holds at least 1 x 1 pixels, so this is false but for
  // storage that lost its pixels.
  bool Empty() const { return storage_->ImageSize() == 0; }

  ColorValue BackgroundColor() const { return background_; }
  void SetBackgroundColor(ColorValue color) { background_ = color; }

  const BitmapInfoHeader& Header() const { return storage_->parts.header; }
  const ColorTable& Table() const { return storage_->parts.table; }
  const uint8_t* Bits() const { return storage_->parts.bits.Data(); }
  size_t ImageSize() const { return storage_->ImageSize(); }
  int RefCount() const { return static_cast<int>(storage_.use_count()); }
  bool SharesStorageWith(const DibImage& other) const { return storage_ == other.storage_; }
  // Copies the storage when shared, so that the caller may change it.
  void UniqueDIB();
  // Row y counted from the top, for the uncompressed formats (1, 4, 8 and 24
  // bits): writers read the rows where they are instead of copying them.
  const uint8_t* TopRow(int y) const;
  // The colour at (x, y) from the top left, through the palette when
  // indexed (0 for an index beyond it).
  ColorValue GetPixel(int x, int y) const;
  // Direct pixel access for writers and tests; calls UniqueDIB first.
  uint8_t* MutableBits();

  // Pixel memory of new storages lives in anonymous mappings when on.
  void SetUseFMO(bool on) { use_fmo_ = on; }

  void SetOnProgress(ProgressCallback callback) { on_progress_ = std::move(callback); }
  void SetOnChange(std::function<void()> callback) { on_change_ = std::move(callback); }

 private:
  void ReplaceStorage(std::shared_ptr<DibStorage> storage);
  void UpdatePalette();
  void Changed();
  void LoadParts(DibParts parts);

  std::shared_ptr<DibStorage> storage_;
  ColorValue background_ = MakeColor(255, 255, 255);
  bool use_fmo_ = true;
  ProgressCallback on_progress_;
  std::function<void()> on_change_;
};

// Conversions between pixel formats (dib_convert.cpp). Each checks its source
// and raises DibTypeError naming itself when called on another format.
class ProgressSteps;
DibParts Convert1BitRGBTo4BitRGB(const DibParts& src, bool use_fmo);
DibParts Convert1BitRGBTo8BitRGB(const DibParts& src, bool use_fmo);
DibParts Convert4BitRGBTo8BitRGB(const DibParts& src, bool use_fmo);
DibParts ConvertIndexedToTrueColor(const DibParts& src, bool use_fmo);
DibParts Convert8BitRGBTo4BitRGB(const DibParts& src, bool use_fmo);
DibParts ConvertToMonochrome(const DibParts& src, ColorValue background, bool use_fmo);
DibParts Convert8BitRLETo8BitRGB(const DibParts& src, bool use_fmo);
DibParts Convert4BitRLETo4BitRGB(const DibParts& src, bool use_fmo);
DibParts Convert8BitRGBTo8BitRLE(const DibParts& src, bool use_fmo);
DibParts Convert4BitRGBTo4BitRLE(const DibParts& src, bool use_fmo);

// Progress of one conversion stage: steps done out of a fixed number.
class ProgressSteps {
 public:
  ProgressSteps(const ProgressCallback* callback, std::string message, int steps);
  ~ProgressSteps();
  ProgressSteps(const ProgressSteps&) = delete;
  ProgressSteps& operator=(const ProgressSteps&) = delete;
  void Step();

 private:
  const ProgressCallback* callback_;
  std::string message_;
  int steps_;
  int done_ = 0;
};

}  // namespace velmora
