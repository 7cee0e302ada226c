// The GIF image model: a logical screen with a global colour table and an
// ordered list of frames, the colour-table rebuild, the frame optimisation
// and the GIF file format with LZW-coded pixel data.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "formats/output_format.h"
#include "image/dib_image.h"

namespace velmora {

class GifColorMap {
 public:
  using Rgb = std::array<uint8_t, 3>;
  int Count() const { return static_cast<int>(entries_.size()); }
  int Capacity() const { return capacity_; }
  const Rgb& operator[](int i) const { return entries_[static_cast<size_t>(i)]; }
  // Appends an entry and returns its index; "Color table overflow" at 256.
  int Add(uint8_t red, uint8_t green, uint8_t blue);
  void Clear();
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }
  // 0 for an empty table, else the smallest b >= 1 with 2^b >= count.
  int ColorBits() const;

 private:
  std::vector<Rgb> entries_;
  int capacity_ = 0;
  bool sorted_ = false;
};

class GifFrame;

class GifExtension {
 public:
  virtual ~GifExtension() = default;
  virtual void Write(std::ostream& out) const = 0;
};

class GifGraphicControlExtension : public GifExtension {
 public:
  explicit GifGraphicControlExtension(GifFrame& owner) : owner_(owner) {}
  // block size, packed, delay (2), transparent index, terminator
  std::array<uint8_t, 6> bytes{4, 0, 0, 0, 0, 0};

  bool Transparent() const { return bytes[1] & 1; }
  void SetTransparent(bool on);
  int TransparentIndex() const { return bytes[4]; }
  // An index beyond the owner's active table is replaced by 0.
  void SetTransparentIndex(int index);
  int Disposal() const { return (bytes[1] >> 2) & 7; }
  void SetDisposal(int method) { bytes[1] = static_cast<uint8_t>((bytes[1] & ~0x1C) | ((method * 4) & 0x1C)); }
  uint16_t Delay() const { return static_cast<uint16_t>(bytes[2] | (bytes[3] << 8)); }
  void SetDelay(uint16_t delay) {
    bytes[2] = static_cast<uint8_t>(delay);
    bytes[3] = static_cast<uint8_t>(delay >> 8);
  }
  void Write(std::ostream& out) const override;

 private:
  GifFrame& owner_;
};

// The "NETSCAPE2.0" looping application extension.
class GifLoopExtension : public GifExtension {
 public:
  uint16_t loop_count = 0;
  uint32_t buffer_size = 0;
  void Write(std::ostream& out) const override;
};

class GifImage;

namespace platform {
class SpoolFile;
}

// Where the frames of a long animation keep their pixels: one spool file,
// each frame a region of it.
struct GifPixelSpool;

// The colour indexes of a frame, one per pixel, rows top first: in memory,
// in the image's spool so that an animation of many frames needs the memory
// of a few, or made from the picture's rows whenever they are read, so that
// a single picture is written without a plane of indexes beside it.
class FramePixels {
 public:
  // Writes the indexes of one row of the picture (its full width).
  using RowMaker = std::function<void(int y, uint8_t* indexes)>;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Takes new content (handed to the spool when the frame has one).
  void Assign(std::vector<uint8_t> pixels);
  // Reads the indexes from rows made on demand; the picture behind them
  // must outlive the frame.
  void Borrow(int width, int height, RowMaker rows);
  // Keeps the rectangle at (x, y), w by h, of a frame width wide.
  void Cut(int width, int x, int y, int w, int h);
  void Clear();
  // Calls row with each row of indexes, width wide, remapping applied, top
  // first; y counts from 0.
  void ForEachRow(int width, const std::function<void(int y, const uint8_t* row)>& row) const;
  // One index.
  uint8_t At(size_t i) const;
  // How many pixels hold each index.
  std::array<uint64_t, 256> Histogram() const;
  // Replaces every index v by map[v]. The change is only noted: it is applied
  // to the pixels when they are next read, so that re-indexing all frames of
  // an animation for every frame added costs 256 steps a frame, not a pass
  // over each frame's pixels in the spool.
  void Remap(const std::array<uint8_t, 256>& map);

  // The indexes to read, or to change: a changed view goes back to the spool
  // when it ends. Views of a frame in memory are the memory itself.
  class View {
   public:
    View(const FramePixels& owner, bool write);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    uint8_t* data() { return data_; }
    uint8_t* begin() { return data_; }
    uint8_t* end() { return data_ + size_; }
    uint8_t& operator[](size_t i) { return data_[i]; }
    size_t size() const { return size_; }

   private:
    const FramePixels& owner_;
    bool write_;
    std::vector<uint8_t> loaded_;
    uint8_t* data_;
    size_t size_;
  };
  View Edit() { return View(*this, true); }
  View Read() const { return View(*this, false); }

 private:
  friend class GifImage;
  // Applies a noted remapping to the stored pixels (borrowed rows keep it
  // and apply it as they are read).
  void Settle() const;
  void Count(const uint8_t* data) const;
  // Borrowed rows: one row of the kept rectangle, raw or remapped.
  void MakeRow(int y, uint8_t* out, bool remapped) const;
  // Every borrowed row, remapped, into out.
  void MakeAll(uint8_t* out) const;
  // Borrowed rows made into memory, remapped (an Edit of the frame).
  void Materialise() const;
  struct Borrowed {
    RowMaker rows;
    int x = 0, y = 0, width = 0;  // the kept rectangle; its height is size_ / width
    std::vector<uint8_t> full_row;
  };
  mutable std::unique_ptr<Borrowed> borrowed_;
  mutable std::vector<uint8_t> memory_;
  // The remapping still to apply, and the histogram of the stored pixels.
  mutable std::array<uint8_t, 256> pending_{};
  mutable bool has_pending_ = false;
  mutable std::array<uint64_t, 256> stored_histogram_{};
  mutable bool histogram_valid_ = false;
  GifPixelSpool* spool_ = nullptr;
  uint64_t offset_ = 0;
  uint64_t capacity_ = 0;  // spool bytes reserved for this frame
  size_t size_ = 0;
};

class GifFrame {
 public:
  explicit GifFrame(GifImage& image) : image_(image) {}
  uint16_t left = 0, top = 0, width = 0, height = 0;
  uint8_t packed = 0;
  GifColorMap local;
  FramePixels pixels;
  std::vector<std::unique_ptr<GifExtension>> extensions;
  bool transparent = false;

  bool Empty() const { return pixels.empty() || width == 0 || height == 0; }
  // The frame's first graphic control extension, or nullptr.
  GifGraphicControlExtension* Gce() const;
  // Local table if it has entries, else the global one if it has, else local.
  const GifColorMap& ActiveTable() const;
  int TransparentIndex() const {
    const GifGraphicControlExtension* gce = Gce();
    return gce ? gce->TransparentIndex() : 0;
  }
  // Creates the frame's graphic control extension (appended by the caller).
  std::unique_ptr<GifGraphicControlExtension> CreateGraphicControl();

 private:
  GifImage& image_;
};

class GifTrailer {
 public:
  static void Write(std::ostream& out);
};

class GifImage {
 public:
  GifImage();
  ~GifImage();
  GifImage(const GifImage&) = delete;
  GifImage& operator=(const GifImage&) = delete;

  // From now on, frames keep their pixels in a temporary file rather than in
  // memory (an animation of a whole batch); raises platform's FileError.
  void SpoolFrames();
  // From now on, frames read their indexes from the pictures handed to
  // AddFrame, which must outlive the image (one picture written at once).
  void BorrowPictures() { borrow_ = true; }

  uint16_t screen_width = 0, screen_height = 0;
  uint8_t screen_packed = 0, background = 0, aspect = 0;
  GifColorMap global;
  std::vector<std::unique_ptr<GifFrame>> frames;

  // Imports an image as a new frame; returns its index.
  int AddFrame(const DibImage& image);
  // The colour index at (x, y) of a frame; "Invalid pixel coordinates" outside.
  static int FramePixel(const GifFrame& frame, int x, int y);
  // Rebuilds all colour tables into one global table sorted by use.
  void OptimizeColorTables();
  // Option bits: 1 crop, 2 merge (merge runs first).
  void OptimizeFrames(int options);
  // The whole GIF file; "Unsupported GIF version" without frames.
  void SaveToStream(std::ostream& out);

 private:
  void Merge(GifFrame& c, GifFrame& p);
  int SettleTransparentIndex(GifFrame& c);
  static void Crop(GifFrame& frame);
  static bool AllTransparent(const GifFrame& frame);
  int MaxColorBits() const;
  void WritePixels(std::ostream& out, const GifFrame& frame) const;
  std::unique_ptr<GifPixelSpool> spool_;
  bool borrow_ = false;
};

// Appends a prepared image as a frame with its extensions: the loop extension
// on frame 0, a graphic control extension with the delay (decimal text,
// modulo 65536) and, when trans is set, the transparent index of the pixel at
// pick (or the top-left pixel). Raises for a delay that is not a number.
struct GifFramePoint {
  int x = 0;
  int y = 0;
};
// Adds a frame as the GIF writers do, then the frame finishing: the colour
// tables rebuilt, then merge and crop.
void AddFinishedFrame(GifImage& gif, const DibImage& image, const EncodeOptions& options);

void AddGifFrame(GifImage& image, const DibImage& dib, bool trans, const std::string& delay_text,
                 const GifFramePoint* pick);
int PickTransparentIndex(const GifFrame& frame, const GifFramePoint* pick);

// The animated GIF of a batch. Each frame is re-optimised against all the
// others whenever one is added, so no frame is final before the end; the
// frames' pixels wait in a spool file instead of memory.
class AnimatedGif : public CombinedOutput {
 public:
  AnimatedGif() { gif_.SpoolFrames(); }
  void Add(const DibImage& image, const EncodeOptions& options) override {
    AddFinishedFrame(gif_, image, options);
    ++added_;
  }
  int Count() const override { return added_; }
  void Save(std::ostream& out) override { gif_.SaveToStream(out); }

 private:
  GifImage gif_;
  int added_ = 0;
};

}  // namespace velmora
