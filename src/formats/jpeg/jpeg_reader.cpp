// JPEG input on libjpeg-turbo. libjpeg reports errors by longjmp, so every
// libjpeg call happens inside DecodeJpeg, whose frames own nothing that needs
// a destructor; C++ allocation happens through a callback between calls.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <utility>
#include <istream>
#include <iterator>
#include <vector>

// jpeglib.h expects size_t and FILE to be declared before it.
#include <jpeglib.h>

#include "base/messages.h"
#include "image/limits.h"
#include "formats/exif.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/color_profile.h"
#include "image/orientation.h"
#include "formats/jpeg/jpeg_private.h"

namespace velmora {
namespace {

using jpeg::ErrorManager;
using jpeg::OnError;
using jpeg::OnMessage;

bool RecognisesJpeg(const uint8_t* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

enum { kCarriedExif, kCarriedXmp, kCarriedIcc, kCarriedPhotoshop };

struct JpegSink {
  // Called once the output size and colour space are known, before any
  // scan is decoded; returns the row buffer of width * components bytes per
  // row, rows top first, or nullptr to refuse. Must not throw.
  // arithmetic: the file's entropy coding, which decides how densely it can
  // describe its size.
  // file_width and file_height: the size the file claims, which a scaled
  // decode divides.
  uint8_t* (*allocate)(void* self, int width, int height, int file_width, int file_height, int components, int adobe,
                       bool arithmetic);
  // Keeps a copy of what the file carries (EXIF, XMP, the colour profile);
  // the markers' memory dies with libjpeg's object. Must not throw.
  void (*keep)(void* self, int what, const uint8_t* data, size_t size);
  void* self;
  int64_t max_memory = 0;
  size_t data_size = 0;
  bool metadata = false;  // IPTC is wanted
  int preview_edge = 0;   // DecodeRequest::preview_edge
  int orientation = 1;    // from the first EXIF segment
  ptrdiff_t stride = 0;  // from one row to the next (negative: rows go up in memory), set by allocate
};

// Returns 0 on success, or 1 with message filled. warning receives the first
// warning of a decodable but damaged file.
int DecodeJpeg(const uint8_t* data, size_t size, JpegSink* sink, char* message, char* warning) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  err.pub.emit_message = OnMessage;
  err.message[0] = 0;
  err.warning[0] = 0;
  if (setjmp(err.jump)) {
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
    jpeg_destroy_decompress(&cinfo);
    return 1;
  }
  jpeg_create_decompress(&cinfo);
  // libjpeg's own working memory (a progressive file's coefficients) stays
  // within the allocation limit: beyond it the decoder fails cleanly.
  cinfo.mem->max_memory_to_use = static_cast<long>(sink->max_memory);
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
  if (sink->metadata) jpeg_save_markers(&cinfo, JPEG_APP0 + 13, 0xFFFF);
  jpeg_read_header(&cinfo, TRUE);
  static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
  static const char kPhotoshop[] = "Photoshop 3.0";
  bool exif = false, xmp = false, photoshop = false;
  for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 13) {
      if (!photoshop && m->data_length > sizeof kPhotoshop &&
          std::memcmp(m->data, kPhotoshop, sizeof kPhotoshop) == 0) {
        sink->keep(sink->self, kCarriedPhotoshop, m->data + sizeof kPhotoshop, m->data_length - sizeof kPhotoshop);
        photoshop = true;
      }
      continue;
    }
    if (m->marker != JPEG_APP0 + 1) continue;
    if (!exif && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
      sink->orientation = ExifOrientation(m->data + 6, m->data_length - 6);
      sink->keep(sink->self, kCarriedExif, m->data + 6, m->data_length - 6);
      exif = true;
    } else if (!xmp && m->data_length > sizeof kXmp && std::memcmp(m->data, kXmp, sizeof kXmp) == 0) {
      sink->keep(sink->self, kCarriedXmp, m->data + sizeof kXmp, m->data_length - sizeof kXmp);
      xmp = true;
    }
  }
  // The profile may be cut into several markers; libjpeg joins them.
  JOCTET* icc = nullptr;
  unsigned icc_size = 0;
  if (jpeg_read_icc_profile(&cinfo, &icc, &icc_size)) {
    const std::unique_ptr<JOCTET, void (*)(void*)> owned(icc, std::free);
    sink->keep(sink->self, kCarriedIcc, icc, icc_size);
  }
  if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK)
    cinfo.out_color_space = JCS_CMYK;
  else if (cinfo.num_components == 1)
    cinfo.out_color_space = JCS_GRAYSCALE;
  else
    cinfo.out_color_space = JCS_EXT_BGR;
  // The size is checked from the header: a progressive file would otherwise
  // buffer every scan in jpeg_start_decompress first.
  // A preview decodes at 1/2, 1/4 or 1/8 when that still covers its edge:
  // the DCT does the scaling, and a fraction of the work is done.
  if (sink->preview_edge > 0) {
    const unsigned edge = std::max(cinfo.image_width, cinfo.image_height);
    for (unsigned denom : {8u, 4u, 2u}) {
      if (edge / denom >= static_cast<unsigned>(sink->preview_edge)) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = denom;
        cinfo.dct_method = JDCT_IFAST;
        break;
      }
    }
  }
  jpeg_calc_output_dimensions(&cinfo);
  uint8_t* rows =
      sink->allocate(sink->self, static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                     static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height),
                     cinfo.out_color_components, cinfo.saw_Adobe_marker, cinfo.arith_code != 0);
  if (!rows) {
    std::snprintf(message, JMSG_LENGTH_MAX, "image too large");
    jpeg_destroy_decompress(&cinfo);
    return 1;
  }
  jpeg_start_decompress(&cinfo);
  const ptrdiff_t stride = sink->stride;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rows + stride * static_cast<ptrdiff_t>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  std::snprintf(warning, JMSG_LENGTH_MAX, "%s", err.warning);
  jpeg_destroy_decompress(&cinfo);
  return 0;
}

class JpegGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "JPEGImage"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    JpegSink sink{&JpegGraphic::Allocate, &JpegGraphic::Keep, this, Limits().max_allocation, size, Request().metadata,
                  Request().preview_edge};
    sink_ = &sink;
    char message[JMSG_LENGTH_MAX] = {};
    char warning[JMSG_LENGTH_MAX] = {};
    if (DecodeJpeg(data, size, &sink, message, warning) != 0) {
      if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
      throw Error(ErrorKind::kInvalidData,
                        Tr("JPEG image error: {1}", {WithLibraryText(Tr("the data cannot be read"), "libjpeg", message)}));
    }
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
    if (warning[0])
      warnings_.push_back(
          Tr("JPEG warning: {1}", {WithLibraryText(Tr("the picture is damaged; what could be read is converted"), "libjpeg", warning)}));
    Finish(sink.orientation);
  }

 private:
  static uint8_t* Allocate(void* self, int width, int height, int file_width, int file_height, int components, int adobe,
                           bool arithmetic) {
    auto* me = static_cast<JpegGraphic*>(self);
    try {
      // Huffman coding spends at least a bit on every 8 x 8 block of the
      // first component of the file's own size; an arithmetic coder can
      // spend far less.
      me->ClaimSize(file_width, file_height, me->sink_->data_size, arithmetic ? 64.0 * 8 * 64 : 64.0 * 8, N_("JPEG image"));
      me->width_ = width, me->height_ = height, me->components_ = components, me->adobe_ = adobe != 0;
      if (components == 4) {
        me->raw_.assign(static_cast<size_t>(width) * height * components, 0);
        me->sink_->stride = static_cast<ptrdiff_t>(width) * components;
        return me->raw_.data();
      }
      // Grey and BGR rows go straight into the bitmap, bottom row first as
      // the DIB it becomes keeps them: no second full copy, no turning over.
      // libjpeg writes every row, a damaged file's too, or the decode fails
      // and the bitmap is dropped: its memory need not be cleared first.
      me->bitmap_ = Bitmap(width, height, components == 1 ? Bitmap::Format::k8Bit : Bitmap::Format::k24Bit,
                           Bitmap::RowOrder::kBottomFirst, Bitmap::Fill::kWrittenByCaller);
      me->sink_->stride = -static_cast<ptrdiff_t>(me->bitmap_.Stride());
      return me->bitmap_.Row(0);
    } catch (...) {
      // Raised again once libjpeg's frames are gone.
      me->pending_ = std::current_exception();
      return nullptr;
    }
  }

  static void Keep(void* self, int what, const uint8_t* data, size_t size) {
    auto* me = static_cast<JpegGraphic*>(self);
    try {
      if (what == kCarriedExif) me->Carry(Packet::kExif, data, size);
      if (what == kCarriedXmp) me->Carry(Packet::kXmp, data, size);
      if (what == kCarriedIcc) me->Carry(Packet::kIcc, data, size);
      if (what == kCarriedPhotoshop)
        ForEachPhotoshopResource(data, size, [me](uint16_t id, const uint8_t* bytes, size_t length) {
          if (id == kPhotoshopIptc) me->Carry(Packet::kIptc, bytes, length);
        });
    } catch (...) {
      me->pending_ = std::current_exception();
    }
  }

  void Finish(int orientation) {
    if (components_ == 1) bitmap_.SetPalette(GreyRamp(256));
    if (components_ == 4) bitmap_ = Bitmap(width_, height_, Bitmap::Format::k24Bit);
    // CMYK through the file's profile, or the standard one; without either,
    // the inks' product as it always was.
    const CmykToSrgb managed(components_ == 4 ? &embedded_.icc : nullptr,
                             components_ == 4 ? Request().StandardCmyk() : nullptr, adobe_, Limits());
    if (!managed.OwnProblem().empty()) warnings_.push_back(ProfileIgnoredWarning(managed.OwnProblem()));
    for (int y = 0; y < height_ && components_ == 4; ++y) {
      const uint8_t* s = raw_.data() + static_cast<size_t>(y) * width_ * components_;
      uint8_t* d = bitmap_.Row(y);
      if (managed.Managed()) {
        managed.Row(s, d, width_);
        continue;
      }
      for (int x = 0; x < width_; ++x) {
        // Adobe writes CMYK inverted; plain CMYK stores ink amounts.
        int c = s[x * 4], m = s[x * 4 + 1], yy = s[x * 4 + 2], k = s[x * 4 + 3];
        if (!adobe_) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        d[x * 3 + 2] = static_cast<uint8_t>((c * k + 127) / 255);
        d[x * 3 + 1] = static_cast<uint8_t>((m * k + 127) / 255);
        d[x * 3] = static_cast<uint8_t>((yy * k + 127) / 255);
      }
    }
    raw_.clear();
    raw_.shrink_to_fit();
    if (orientation != 1) bitmap_ = Oriented(bitmap_, orientation);
  }

  std::vector<uint8_t> raw_;
  int width_ = 0, height_ = 0, components_ = 3;
  bool adobe_ = false;
  std::exception_ptr pending_;
  JpegSink* sink_ = nullptr;
};

}  // namespace

const GraphicClass& JpegClass() {
  static const GraphicClass cls{"JPEGImage", [] { return std::make_unique<JpegGraphic>(); }, nullptr};
  return cls;
}

const InputFormat& JpegFormat() {
  static const InputFormat format{
      "JPEG",
      {{Registration::kEarly, JpegClass, "jpeg", N_("JPEG イメージファイル")},
        {Registration::kEarly, JpegClass, "jpg", N_("JPEG イメージファイル")},
        {Registration::kSideFormat, JpegClass, "jfif", N_("JPG images"), N_("JFIF images")},
        {Registration::kSideFormat, JpegClass, "jpg", N_("JPG images"), N_("JPG images")},
        {Registration::kSideFormat, JpegClass, "jpe", N_("JPG images"), N_("JPE images")},
        {Registration::kSideFormat, JpegClass, "jpeg", N_("JPG images"), N_("JPEG images")}},
      RecognisesJpeg,
      true,
      true,
      {"image/jpeg"}};
  return format;
}

}  // namespace velmora
