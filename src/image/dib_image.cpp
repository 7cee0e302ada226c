#include "image/dib_image.h"
#include "base/messages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "image/bmp_core.h"
#include "base/error.h"
#include "image/limits.h"
#include "image/quantizer.h"

namespace velmora {
namespace {

BitmapInfoHeader ToBitmapInfoHeader(const bmp::InfoHeader& i) {
  BitmapInfoHeader h;
  h.biSize = i.size;
  h.biWidth = static_cast<int32_t>(i.width);
  h.biHeight = static_cast<int32_t>(i.height);
  h.biPlanes = i.planes;
  h.biBitCount = i.bits;
  h.biCompression = i.compression;
  h.biSizeImage = i.size_image;
  h.biXPelsPerMeter = i.x_pels_per_meter;
  h.biYPelsPerMeter = i.y_pels_per_meter;
  h.biClrUsed = i.clr_used;
  h.biClrImportant = i.clr_important;
  return h;
}

void SerializeHeader(const BitmapInfoHeader& h, uint8_t* p) {
  PutLe32(p, 40);
  PutLe32(p + 4, static_cast<uint32_t>(h.biWidth));
  PutLe32(p + 8, static_cast<uint32_t>(h.biHeight));
  PutLe16(p + 12, h.biPlanes);
  PutLe16(p + 14, h.biBitCount);
  PutLe32(p + 16, h.biCompression);
  PutLe32(p + 20, h.biSizeImage);
  PutLe32(p + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  PutLe32(p + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  PutLe32(p + 32, h.biClrUsed);
  PutLe32(p + 36, h.biClrImportant);
}

// Where pixel bytes come from: a stream (exact reads, the stream's read error
// when short) or a memory block (bound-checked).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual void Read(void* dst, size_t n) = 0;
  virtual void Skip(uint64_t n) = 0;
  // Reads n bytes into new pixel memory; a source that cannot hold n more
  // bytes fails as its short read would, before the memory is allocated.
  PixelMemory ReadPixels(size_t n, bool use_fmo) {
    if (n > Remaining()) ShortRead();
    PixelMemory bits(n, use_fmo);
    Read(bits.Data(), n);
    return bits;
  }
  // Bytes left to read (as many as could be wanted when unknown).
  virtual uint64_t Remaining() = 0;
  [[noreturn]] virtual void ShortRead() = 0;
};

class StreamSource : public ByteSource {
 public:
  explicit StreamSource(std::istream& in) : in_(in) {}
  void Read(void* dst, size_t n) override {
    in_.read(static_cast<char*>(dst), static_cast<std::streamsize>(n));
    if (static_cast<size_t>(in_.gcount()) != n) ShortRead();
  }
  // The stream's own read error.
  [[noreturn]] void ShortRead() override { throw Error(ErrorKind::kTruncated, "Stream read error"); }
  uint64_t Remaining() override {
    const auto here = in_.tellg();
    if (here < 0) return UINT64_MAX;  // not seekable: the read will tell
    in_.seekg(0, std::ios::end);
    const auto end = in_.tellg();
    in_.seekg(here);
    return end >= here ? static_cast<uint64_t>(end - here) : 0;
  }
  void Skip(uint64_t n) override {
    char buf[4096];
    while (n > 0) {
      const size_t chunk = static_cast<size_t>(std::min<uint64_t>(n, sizeof buf));
      Read(buf, chunk);
      n -= chunk;
    }
  }

 private:
  std::istream& in_;
};

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  void Read(void* dst, size_t n) override {
    if (n > size_ - pos_) ShortRead();
    std::memcpy(dst, data_ + pos_, n);
    pos_ += n;
  }
  void Skip(uint64_t n) override {
    if (n > size_ - pos_) ShortRead();
    pos_ += static_cast<size_t>(n);
  }
  uint64_t Remaining() override { return size_ - pos_; }
  [[noreturn]] void ShortRead() override {
    throw Error(ErrorKind::kInvalidData, Tr("DibImage.LoadFromClipboardFormat: Data is too short"));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The info header (40 or 12 bytes) and colour table, as files and packed DIBs
// share them. strict (files) refuses unsupported bit counts right after the
// header; packed DIBs find out when their pixels are read.
struct InfoBlock {
  DibParts parts;
  uint32_t masks[3] = {0, 0, 0};
  int64_t declared = 0;  // colour-table entries the header declares
  int64_t read = 0;      // bytes read, header included
  bool bitfields = false;
  bool core = false;
};

InfoBlock ReadInfo(ByteSource& src, bool strict, const char* bad_size_message) {
  InfoBlock info;
  uint8_t raw[40];
  src.Read(raw, 4);
  const uint32_t bi_size = GetLe32(raw);
  if (bi_size != 40 && bi_size != 12) throw Error(ErrorKind::kInvalidData, bad_size_message);
  src.Read(raw + 4, bi_size - 4);
  BitmapInfoHeader& h = info.parts.header;
  h = ToBitmapInfoHeader(bmp::ParseInfoHeader(raw, bi_size));
  const int bits = h.biBitCount;
  if (bi_size == 40) {
    if (h.biXPelsPerMeter == 0) h.biXPelsPerMeter = 3780;
    if (h.biYPelsPerMeter == 0) h.biYPelsPerMeter = 3780;
    if (strict && bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Invalid BitCout"));
    if (h.biClrUsed == 0) h.biClrUsed = bits >= 1 && bits <= 8 ? 1u << bits : 0;
    info.declared = h.biClrUsed;
    info.read = 40;
    info.bitfields = h.biCompression == 3;
    if (info.bitfields) {
      uint8_t m[12];
      src.Read(m, 12);
      for (int c = 0; c < 3; ++c) info.masks[c] = GetLe32(m + 4 * c);
      info.read += 12;
    }
    const int64_t entries = std::min<int64_t>(info.declared, 256);
    for (int64_t i = 0; i < entries; ++i) {
      uint8_t q[4];
      src.Read(q, 4);
      info.parts.table[static_cast<size_t>(i)] = bmp::TableEntry(q);
    }
    info.read += 4 * entries;
    h.biClrUsed = static_cast<uint32_t>(entries);
  } else {
    if (strict && bits != 1 && bits != 4 && bits != 8 && bits != 24)
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Invalid BitCount"));
    // The core header becomes a 40-byte one with three-byte entries widened.
    const int entries = bits >= 1 && bits <= 8 ? 1 << bits : 0;
    h.biSize = 40;
    h.biXPelsPerMeter = h.biYPelsPerMeter = 3780;
    h.biClrUsed = static_cast<uint32_t>(entries);
    for (int i = 0; i < entries; ++i) {
      uint8_t q[3];
      src.Read(q, 3);
      info.parts.table[static_cast<size_t>(i)] = bmp::TableEntry(q);
    }
    info.core = true;
    info.declared = entries;
    info.read = 12 + 3 * entries;
  }
  return info;
}

// Converts 16 or 32-bit rows read from src into a 24-bit DibParts with the
// stored row order kept.
DibParts ReadBitFields(const BitmapInfoHeader& h, const uint32_t masks_in[3], ByteSource& src, bool use_fmo) {
  const int width = h.biWidth;
  const int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  const int bits = h.biBitCount;
  uint32_t masks[3];
  if (h.biCompression == 3)
    std::copy(masks_in, masks_in + 3, masks);
  else
    bmp::DefaultMasks(bits, masks);
  bmp::ChannelScaler channel[3];
  for (int c = 0; c < 3; ++c) {
    if (masks[c] == 0) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Invalid Masks"));
    channel[c] = bmp::ChannelScaler(masks[c], bmp::ChannelScaling::kTruncate);
  }
  const int64_t src_stride = bits == 16 ? ((static_cast<int64_t>(width) * 2 + 3) & ~int64_t{3}) : int64_t{width} * 4;
  const int64_t dst_stride = RowBytes(width, 24);
  DibParts out;
  out.header = h;
  out.bits = PixelMemory(static_cast<size_t>(dst_stride * height), use_fmo);
  std::vector<uint8_t> row(static_cast<size_t>(src_stride));
  for (int y = 0; y < height; ++y) {
    src.Read(row.data(), row.size());
    uint8_t* d = out.bits.Data() + dst_stride * y;
    for (int x = 0; x < width; ++x) {
      const uint32_t pixel = bits == 16 ? GetLe16(&row[x * 2]) : GetLe32(&row[x * 4]);
      d[x * 3] = channel[2].Of(pixel);
      d[x * 3 + 1] = channel[1].Of(pixel);
      d[x * 3 + 2] = channel[0].Of(pixel);
    }
  }
  out.header.biBitCount = 24;
  out.header.biCompression = 0;
  out.header.biSizeImage = 0;
  return out;
}

// Reads the pixel data that follows header and colour table. rle_size is the
// byte count of compressed data (ignored for uncompressed images, whose size
// follows from the header).
DibParts ReadPixels(DibParts parts, const uint32_t masks[3], ByteSource& src, int64_t rle_size, bool use_fmo,
                    const char* bitcount_message, const DecodeLimits& limits) {
  BitmapInfoHeader& h = parts.header;
  if (h.biWidth <= 0 || h.biHeight == 0) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Invalid Width or Height"));
  const int64_t height = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  CheckImageSize(limits, h.biWidth, height, "DibStorage.LoadFromStream");
  const int bits = h.biBitCount;
  if (bits == 16 || bits == 32) {
    if (h.biCompression != 0 && h.biCompression != 3)
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Invalid Compression"));
    DibParts out = ReadBitFields(h, masks, src, use_fmo);
    out.table = parts.table;
    return out;
  }
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) throw Error(ErrorKind::kInvalidData, bitcount_message);
  PixelFormatOf(h);  // refuses compressions that do not fit the bit count
  if (h.biCompression == 0) {
    const int64_t size = RowBytes(h.biWidth, bits) * height;
    parts.bits = src.ReadPixels(static_cast<size_t>(size), use_fmo);
  } else {
    if (h.biHeight < 0) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: Top-down RLE image"));
    if (rle_size <= 0) rle_size = h.biSizeImage;
    if (rle_size <= 0) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: No RLE data"));
    // RLE never expands a row beyond twice its pixel count plus framing.
    const int64_t limit = (RowBytes(h.biWidth, 8) * 2 + 4) * height + 2;
    if (rle_size > limit) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: RLE data size is out of range"));
    if (!bmp::RlePlausible(h.biWidth, height, static_cast<size_t>(rle_size)))
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromStream: RLE data of {1} bytes cannot describe {2} x {3} pixels",
                               {std::to_string(rle_size), std::to_string(h.biWidth), std::to_string(height)}));
    parts.bits = src.ReadPixels(static_cast<size_t>(rle_size), use_fmo);
    h.biSizeImage = static_cast<uint32_t>(rle_size);
  }
  return parts;
}

}  // namespace

std::shared_ptr<DibStorage> DibStorage::AdoptDIB(int width, int height, int bit_count, PixelMemory bits,
                                                 bool use_fmo) {
  auto storage = CreateDIB(width, height, 0, bit_count, use_fmo, /*allocate=*/false);
  const int64_t abs_height = height < 0 ? -static_cast<int64_t>(height) : height;
  if (bits.Size() != static_cast<size_t>(RowBytes(width, bit_count) * abs_height))
    throw Error(ErrorKind::kInternal, Tr("DibStorage.CreateDIB: Invalid Parameters"));
  storage->parts.bits = std::move(bits);
  return storage;
}

std::shared_ptr<DibStorage> DibStorage::CreateDIB(int width, int height, int palette_size, int bit_count,
                                                  bool use_fmo, bool allocate) {
  if (width <= 0 || height == 0 || palette_size < 0 || palette_size > 256 ||
      (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 24))
    throw Error(ErrorKind::kInternal, Tr("DibStorage.CreateDIB: Invalid Parameters"));
  const int64_t abs_height = height < 0 ? -static_cast<int64_t>(height) : height;
  CheckImageSize(kModelLimits, width, abs_height, "DibStorage.CreateDIB");
  auto storage = std::make_shared<DibStorage>();
  storage->use_fmo = use_fmo;
  BitmapInfoHeader& h = storage->parts.header;
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<uint16_t>(bit_count);
  h.biClrUsed = static_cast<uint32_t>(palette_size);
  if (allocate) storage->parts.bits = PixelMemory(static_cast<size_t>(RowBytes(width, bit_count) * abs_height), use_fmo);
  return storage;
}

PixelFormat PixelFormatOf(const BitmapInfoHeader& h) {
  switch (h.biBitCount) {
    case 1:
      if (h.biCompression == 0) return PixelFormat::k1Bit;
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.GetPixelFormat: Invalid DIB(1Bit)"));
    case 4:
      if (h.biCompression == 0) return PixelFormat::k4Bit;
      if (h.biCompression == 2) return PixelFormat::k4BitRLE;
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.GetPixelFormat: Invalid DIB(4Bit)"));
    case 8:
      if (h.biCompression == 0) return PixelFormat::k8Bit;
      if (h.biCompression == 1) return PixelFormat::k8BitRLE;
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.GetPixelFormat: Invalid DIB(8Bit)"));
    case 24:
      if (h.biCompression == 0) return PixelFormat::k24Bit;
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.GetPixelFormat: Invalid DIB(24Bit)"));
    default:
      throw Error(ErrorKind::kInvalidData, Tr("DibStorage.GetPixelFormat: Invalid DIB(Illegal BitCount)"));
  }
}

ProgressSteps::ProgressSteps(const ProgressCallback* callback, std::string message, int steps)
    : callback_(callback && *callback ? callback : nullptr), message_(std::move(message)), steps_(steps) {
  if (callback_) (*callback_)(ProgressStage::kBegin, 0, message_);
}

ProgressSteps::~ProgressSteps() {
  if (callback_) {
    try {
      (*callback_)(ProgressStage::kEnd, 100, message_);
    } catch (...) {
      // A progress observer must not turn a finished conversion into a failure.
    }
  }
}

void ProgressSteps::Step() {
  ++done_;
  if (callback_ && done_ < steps_) (*callback_)(ProgressStage::kRunning, done_ * 100 / steps_, message_);
}

DibImage::DibImage() { storage_ = DibStorage::CreateDIB(1, 1, 256, 8, use_fmo_); }

void DibImage::ReplaceStorage(std::shared_ptr<DibStorage> storage) {
  storage_ = std::move(storage);
  UpdatePalette();
}

void DibImage::UpdatePalette() { storage_->palette_object.reset(); }

void DibImage::Changed() {
  if (on_change_) on_change_();
}

void DibImage::UniqueDIB() {
  if (storage_.use_count() <= 1) return;
  auto copy = std::make_shared<DibStorage>();
  copy->use_fmo = storage_->use_fmo;
  copy->parts.header = storage_->parts.header;
  copy->parts.table = storage_->parts.table;
  copy->parts.bits = PixelMemory(storage_->ImageSize(), copy->use_fmo, /*zeroed=*/false);  // copied over whole
  if (storage_->ImageSize()) std::memcpy(copy->parts.bits.Data(), storage_->parts.bits.Data(), storage_->ImageSize());
  storage_ = std::move(copy);
}

uint8_t* DibImage::MutableBits() {
  UniqueDIB();
  return storage_->parts.bits.Data();
}

void DibImage::SetWidth(int width) {
  if (width <= 0) throw Error(ErrorKind::kInternal, Tr("DibImage.SetWidth: Invalid Width"));
  if (width == Width()) return;
  ReplaceStorage(DibStorage::CreateDIB(width, storage_->parts.header.biHeight, PaletteSize(), BitCount(), use_fmo_));
  Changed();
}

void DibImage::SetHeight(int height) {
  if (height == 0) throw Error(ErrorKind::kInternal, Tr("DibImage.SetWidth: Invalid Height"));
  if (height == storage_->parts.header.biHeight) return;
  ReplaceStorage(DibStorage::CreateDIB(Width(), height, PaletteSize(), BitCount(), use_fmo_));
  Changed();
}

void DibImage::SetBitCount(int bit_count) {
  if (bit_count != 1 && bit_count != 4 && bit_count != 8 && bit_count != 24)
    throw Error(ErrorKind::kInternal, Tr("DibImage.SetBitCount: Invalid BitCount"));
  if (bit_count == BitCount()) return;
  ReplaceStorage(DibStorage::CreateDIB(Width(), storage_->parts.header.biHeight, bit_count == 24 ? 0 : 1 << bit_count,
                                       bit_count, use_fmo_));
  Changed();
}

void DibImage::SetPaletteSize(int size) {
  if (BitCount() == 24) {
    if (size < 0 || size > 256) throw Error(ErrorKind::kInvalidData, Tr("DibImage.SetPaletteSize: Palette Index is Out of Range 1"));
  } else if (size < 1 || size > 256) {
    throw Error(ErrorKind::kInvalidData, Tr("DibImage.SetPaletteSize: Palette Index is Out of Range 2"));
  }
  if (size == PaletteSize()) return;
  UniqueDIB();
  storage_->parts.header.biClrUsed = static_cast<uint32_t>(size);
  storage_->parts.header.biClrImportant = 0;
  UpdatePalette();
  Changed();
}

std::optional<std::vector<RgbQuad>> DibImage::Palette() const {
  if (PaletteSize() == 0) return std::nullopt;
  if (!storage_->palette_object) {
    const auto& table = storage_->parts.table;
    std::vector<RgbQuad> entries(table.begin(), table.begin() + std::min(PaletteSize(), 256));
    for (auto& e : entries) e.reserved = 0;
    storage_->palette_object = std::move(entries);
  }
  return storage_->palette_object;
}

void DibImage::SetPalette(const std::vector<RgbQuad>* palette) {
  UniqueDIB();
  if (!palette) {
    storage_->parts.header.biClrUsed = 0;
    UpdatePalette();
    Changed();
    return;
  }
  if (palette->empty()) throw Error(ErrorKind::kInvalidData, Tr("DibImage.SetPalette: Invalid Palette"));
  const size_t n = std::min<size_t>(palette->size(), 256);
  for (size_t i = 0; i < n; ++i) {
    storage_->parts.table[i] = (*palette)[i];
    storage_->parts.table[i].reserved = 0;
  }
  storage_->parts.header.biClrUsed = static_cast<uint32_t>(n);
  UpdatePalette();
  storage_->palette_object = std::vector<RgbQuad>(storage_->parts.table.begin(), storage_->parts.table.begin() + n);
  Changed();
}

void DibImage::SetPixelFormat(PixelFormat target) {
  const PixelFormat current = GetPixelFormat();
  if (target == current) return;
  UniqueDIB();
  const bool fmo = storage_->use_fmo;
  const DibParts& src = storage_->parts;

  static const struct {
    PixelFormat from, to;
    const char* message;
    int steps;
  } kStages[] = {
      {PixelFormat::k24Bit, PixelFormat::k4Bit, "PixelFormat 24Bit -> 4Bit", 16},
      {PixelFormat::k24Bit, PixelFormat::k4BitRLE, "PixelFormat 24Bit -> 4BitRLE", 16},
      {PixelFormat::k24Bit, PixelFormat::k8Bit, "PixelFormat 24Bit -> 8Bit", 256},
      {PixelFormat::k24Bit, PixelFormat::k8BitRLE, "PixelFormat 24Bit -> 8BitRLE", 256},
      {PixelFormat::k8Bit, PixelFormat::k4Bit, "PixelFormat 8Bit -> 4Bit", 16},
      {PixelFormat::k8Bit, PixelFormat::k4BitRLE, "PixelFormat 8Bit -> 4BitRLE", 16},
      {PixelFormat::k8BitRLE, PixelFormat::k4Bit, "PixelFormat 8BitRLE -> 4Bit", 16},
      {PixelFormat::k8BitRLE, PixelFormat::k4BitRLE, "PixelFormat 8BitRLE -> 4BitRLE", 16},
  };
  std::optional<ProgressSteps> progress;
  for (const auto& stage : kStages) {
    if (stage.from == current && stage.to == target) progress.emplace(&on_progress_, stage.message, stage.steps);
  }

  // Decode RLE first; every further step starts from an uncompressed form.
  std::optional<DibParts> work;
  auto base = [&]() -> const DibParts& { return work ? *work : src; };
  if (current == PixelFormat::k8BitRLE) work = Convert8BitRLETo8BitRGB(src, fmo);
  if (current == PixelFormat::k4BitRLE) work = Convert4BitRLETo4BitRGB(src, fmo);
  int from_bits = base().header.biBitCount;
  const int to_bits = target == PixelFormat::k1Bit                                      ? 1
                      : target == PixelFormat::k4Bit || target == PixelFormat::k4BitRLE ? 4
                      : target == PixelFormat::k8Bit || target == PixelFormat::k8BitRLE ? 8
                                                                                        : 24;
  if (from_bits != to_bits) {
    if (to_bits == 24) {
      work = ConvertIndexedToTrueColor(base(), fmo);
    } else if (to_bits == 1) {
      work = ConvertToMonochrome(base(), background_, fmo);
    } else if (from_bits == 1 && to_bits == 4) {
      work = Convert1BitRGBTo4BitRGB(base(), fmo);
    } else if (from_bits == 1 && to_bits == 8) {
      work = Convert1BitRGBTo8BitRGB(base(), fmo);
    } else if (from_bits == 4 && to_bits == 8) {
      work = Convert4BitRGBTo8BitRGB(base(), fmo);
    } else if (from_bits == 24 && (to_bits == 8 || to_bits == 4) && !work && target != PixelFormat::k8BitRLE &&
               target != PixelFormat::k4BitRLE) {
      // The storage is ours alone (made so above) and nothing below can
      // raise before it takes the result: the picture is quantized over its
      // own rows instead of beside them.
      ProgressSteps* steps = progress ? &*progress : nullptr;
      work = to_bits == 8 ? ConvertTrueColorTo8BitRGBLowInPlace(storage_->parts, steps)
                          : ConvertTrueColorTo4BitRGBLowInPlace(storage_->parts, steps);
    } else if (from_bits == 24 && to_bits == 8) {
      work = ConvertTrueColorTo8BitRGBLow(base(), progress ? &*progress : nullptr, fmo);
    } else if (from_bits == 24 && to_bits == 4) {
      work = ConvertTrueColorTo4BitRGBLow(base(), progress ? &*progress : nullptr, fmo);
    } else if (from_bits == 8 && to_bits == 4) {
      DibParts full = ConvertIndexedToTrueColor(base(), fmo);
      work = ConvertTrueColorTo4BitRGBLow(full, progress ? &*progress : nullptr, fmo);
    }
  }
  if (target == PixelFormat::k8BitRLE) work = Convert8BitRGBTo8BitRLE(base(), fmo);
  if (target == PixelFormat::k4BitRLE) work = Convert4BitRGBTo4BitRLE(base(), fmo);
  if (work) storage_->parts = std::move(*work);
  UpdatePalette();
  Changed();
}

void DibImage::Assign(const DibImage& source) {
  if (&source == this) return;
  storage_ = source.storage_;
  background_ = source.background_;
  Changed();
}

namespace {

// A bitmap's palette as the colour table of an indexed DIB of its bit count.
void TakeBitmapPalette(DibParts& parts, const std::vector<RgbQuad>& palette, int bits) {
  if (bits == 24) return;
  for (size_t i = 0; i < palette.size() && i < 256; ++i) {
    parts.table[i] = palette[i];
    parts.table[i].reserved = 0;
  }
  parts.header.biClrUsed = 1u << bits;
}

}  // namespace

void DibImage::Assign(const Bitmap& source) {
  int bits = source.Bits();
  if (bits == 32) bits = 24;
  auto storage = DibStorage::CreateDIB(source.Width(), source.Height(), 0, bits, use_fmo_);
  DibParts& p = storage->parts;
  const int height = source.Height();
  const int64_t stride = RowBytes(source.Width(), bits);
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = p.bits.Data() + stride * (height - 1 - y);
    const uint8_t* src = source.Row(y);
    if (source.Bits() == 32) {
      for (int x = 0; x < source.Width(); ++x) {
        dst[x * 3] = src[x * 4];
        dst[x * 3 + 1] = src[x * 4 + 1];
        dst[x * 3 + 2] = src[x * 4 + 2];
      }
    } else {
      std::memcpy(dst, src, static_cast<size_t>(stride));
    }
  }
  TakeBitmapPalette(p, source.Palette(), bits);
  ReplaceStorage(std::move(storage));
  Changed();
}

void DibImage::Assign(Bitmap&& source) {
  if (source.Bits() == 32 || source.Empty()) {
    Assign(static_cast<const Bitmap&>(source));
    return;
  }
  const int bits = source.Bits(), width = source.Width(), height = source.Height();
  const std::vector<RgbQuad> palette = source.Palette();
  const size_t stride = static_cast<size_t>(RowBytes(width, bits));
  const bool bottom_first = source.Order() == Bitmap::RowOrder::kBottomFirst;
  PixelMemory memory = source.TakePixels();
  // A DIB keeps its bottom row first: rows stored top first change places
  // where they are, so the picture is never held twice.
  std::vector<uint8_t> spare(bottom_first ? 0 : stride);
  for (int top = 0, bottom = height - 1; !bottom_first && top < bottom; ++top, --bottom) {
    uint8_t* a = memory.Data() + stride * static_cast<size_t>(top);
    uint8_t* b = memory.Data() + stride * static_cast<size_t>(bottom);
    std::memcpy(spare.data(), a, stride);
    std::memcpy(a, b, stride);
    std::memcpy(b, spare.data(), stride);
  }
  auto storage = DibStorage::AdoptDIB(width, height, bits, std::move(memory), use_fmo_);
  DibParts& p = storage->parts;
  TakeBitmapPalette(p, palette, bits);
  ReplaceStorage(std::move(storage));
  Changed();
}

void DibImage::AssignDefault() {
  ReplaceStorage(DibStorage::CreateDIB(1, 1, 256, 8, use_fmo_));
  Changed();
}

void DibImage::AssignTo(Bitmap& target) const {
  const DibParts* parts = &storage_->parts;
  std::optional<DibParts> decoded;
  const PixelFormat format = GetPixelFormat();
  if (format == PixelFormat::k8BitRLE) decoded = Convert8BitRLETo8BitRGB(*parts, false);
  if (format == PixelFormat::k4BitRLE) decoded = Convert4BitRLETo4BitRGB(*parts, false);
  if (decoded) parts = &*decoded;
  const int bits = parts->header.biBitCount;
  Bitmap out(Width(), Height(), static_cast<Bitmap::Format>(bits));
  const int height = Height();
  const bool bottom_up = parts->header.biHeight > 0;
  const int64_t stride = RowBytes(Width(), bits);
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = parts->bits.Data() + stride * (bottom_up ? height - 1 - y : y);
    std::memcpy(out.Row(y), src, static_cast<size_t>(stride));
  }
  if (auto palette = Palette()) out.SetPalette(*palette);
  target = std::move(out);
}

const uint8_t* DibImage::TopRow(int y) const {
  const DibParts& p = storage_->parts;
  const int height = Height();
  const int64_t stride = RowBytes(Width(), p.header.biBitCount);
  return p.bits.Data() + stride * (p.header.biHeight > 0 ? height - 1 - y : y);
}

ColorValue DibImage::GetPixel(int x, int y) const {
  const PixelFormat format = GetPixelFormat();
  if (format == PixelFormat::k4BitRLE || format == PixelFormat::k8BitRLE) {
    Bitmap b;
    AssignTo(b);
    return b.GetPixel(x, y);
  }
  const uint8_t* row = TopRow(y);
  if (format == PixelFormat::k24Bit) return MakeColor(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
  const int index = IndexAt(row, x, format == PixelFormat::k1Bit ? 1 : format == PixelFormat::k4Bit ? 4 : 8);
  return index < PaletteSize() ? QuadColor(storage_->parts.table[static_cast<size_t>(index)]) : 0;
}

void DibImage::SaveToStream(std::ostream& out) const {
  const DibParts& p = storage_->parts;
  const uint32_t n = p.header.biClrUsed;
  const uint32_t s = static_cast<uint32_t>(p.ImageSize());
  uint8_t head[54] = {};
  PutLe16(head, bmp::kFileType);
  PutLe32(head + 2, 54 + 4 * n + s);
  PutLe32(head + 10, 54 + 4 * n);
  SerializeHeader(p.header, head + 14);
  out.write(reinterpret_cast<const char*>(head), sizeof head);
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t q[4] = {p.table[i].blue, p.table[i].green, p.table[i].red, 0};
    out.write(reinterpret_cast<const char*>(q), 4);
  }
  out.write(reinterpret_cast<const char*>(p.bits.Data()), s);
  if (!out) throw Error(ErrorKind::kInvalidData, Tr("Stream write error"));
}

void DibImage::LoadFromStream(std::istream& in, const DecodeLimits& limits) {
  StreamSource src(in);
  uint8_t file_header[14];
  src.Read(file_header, sizeof file_header);
  const bmp::FileHeader file = bmp::ParseFileHeader(file_header);
  if (file.type != bmp::kFileType) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromFile: File type is invalid"));
  const int64_t bf_size = file.size;
  const int64_t bf_off_bits = file.off_bits;
  InfoBlock info = ReadInfo(src, true, "DibStorage.LoadFromStream: Invalid Bitmap Header Size");
  // The offset must leave room for every declared entry, also those beyond 256.
  const int64_t needed = 14 + (info.core ? 12 + 3 * info.declared : 40 + 4 * info.declared + (info.bitfields ? 12 : 0));
  if (bf_off_bits < needed) throw Error(ErrorKind::kInvalidData, Tr("DibStorage.LoadFromFile: bfOffBits is too small"));
  src.Skip(static_cast<uint64_t>(bf_off_bits - 14 - info.read));
  LoadParts(ReadPixels(std::move(info.parts), info.masks, src, bf_size - bf_off_bits, use_fmo_,
                       "DibStorage.LoadFromStream: Invalid biBitCount", limits));
}

void DibImage::LoadParts(DibParts parts) {
  auto storage = std::make_shared<DibStorage>();
  storage->use_fmo = use_fmo_;
  storage->parts = std::move(parts);
  ReplaceStorage(std::move(storage));
  Changed();
}

void DibImage::SaveToFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw Error(ErrorKind::kInvalidData, Tr("Cannot create file \"{1}\": {2}", {path, SystemErrorText(errno)}));
  SaveToStream(out);
}

void DibImage::LoadFromFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error(ErrorKind::kInvalidData, Tr("Cannot open file \"{1}\": {2}", {path, SystemErrorText(errno)}));
  LoadFromStream(in);
}

std::vector<uint8_t> DibImage::SaveToClipboardFormat() const {
  const DibParts& p = storage_->parts;
  const size_t n = p.header.biClrUsed;
  std::vector<uint8_t> block(40 + 4 * n + p.ImageSize(), 0);
  SerializeHeader(p.header, block.data());
  for (size_t i = 0; i < n; ++i) {
    block[40 + 4 * i] = p.table[i].blue;
    block[40 + 4 * i + 1] = p.table[i].green;
    block[40 + 4 * i + 2] = p.table[i].red;
  }
  if (p.ImageSize()) std::memcpy(block.data() + 40 + 4 * n, p.bits.Data(), p.ImageSize());
  return block;
}

void DibImage::LoadFromClipboardFormat(uint32_t format, const uint8_t* data, size_t size, const DecodeLimits& limits) {
  if (format != 8 || !data || size == 0)
    throw Error(ErrorKind::kUnsupported, Tr("DibImage.LoadFromClipboardFormat: Invalid Clipboard Format or No Data"));
  MemorySource src(data, size);
  InfoBlock info = ReadInfo(src, false, "DibImage.LoadFromClipboardFormat: Invalid Clipboard Data");
  LoadParts(ReadPixels(std::move(info.parts), info.masks, src, static_cast<int64_t>(src.Remaining()), use_fmo_,
                       "DibStorage.LoadFromClipboardFormat: Invalid biBitCount", limits));
}

}  // namespace velmora
