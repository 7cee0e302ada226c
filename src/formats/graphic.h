// The graphic classes: every decoder is a Graphic that loads from a stream and
// hands its picture to the working Bitmap.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "image/bitmap.h"
#include "image/errors.h"

namespace velmora {

// A graphic that cannot be assigned to the requested target.
class ConvertError : public Error {
 public:
  using Error::Error;
};

class Graphic {
 public:
  virtual ~Graphic() = default;
  // The class name that messages show ("Bitmap", "Icon", ...).
  virtual std::string ClassName() const = 0;

  // Opens the file read-only and loads it through LoadFromStream.
  void LoadFromFile(const std::string& path);
  // Loads from the stream's current position; raises the decoder's own error.
  void LoadFromStream(std::istream& in) { OnLoad(in); }
  // Clipboard data of one format with the clipboard's palette ignored.
  virtual void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data);

  // Hands the picture to a bitmap. Classes that cannot raise ConvertError
  // "<class> を Bitmap に代入することはできません".
  virtual void AssignTo(Bitmap& target) const;

  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // What the decoder noticed about data it could still decode.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 protected:
  virtual void OnLoad(std::istream& in) = 0;
  std::vector<std::string> warnings_;
};

// A graphic that keeps its picture in a Bitmap: the decoders' common base.
class BitmapGraphic : public Graphic {
 public:
  void AssignTo(Bitmap& target) const override { target = bitmap_; }
  int Width() const override { return bitmap_.Width(); }
  int Height() const override { return bitmap_.Height(); }
  const Bitmap& Picture() const { return bitmap_; }

 protected:
  Bitmap bitmap_;
};

// A graphic class as the registries list it: a name, a factory and, for the
// side-format decoders, a content test that leaves the stream where it was.
struct GraphicClass {
  std::string name;
  std::function<std::unique_ptr<Graphic>()> create;
  std::function<bool(std::istream&)> recognises;  // empty: not a side-format class
};

// Reads exactly n bytes or raises the decoder's truncation error.
void ReadExact(std::istream& in, void* dst, size_t n, const char* who);

}  // namespace velmora
