#include "formats/metadata.h"

// exiv2 0.27 hands out std::auto_ptr, which C++17 deprecates: this file
// alone holds it.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <mutex>
#include <set>

namespace velmora {
namespace {

// exiv2's XMP toolkit and its log are shared by the whole process; the
// conversions of several jobs take turns.
std::mutex& Exiv2Lock() {
  static std::mutex lock;
  return lock;
}

void Initialise() {
  static const bool done = [] {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
    return true;
  }();
  (void)done;
}

// The tags of a TIFF file's first directory that describe the file, not the
// picture: they never travel to another file.
bool IsFileStructure(const Exiv2::Exifdatum& tag) {
  static const std::set<std::string> kStructure = {
      "ImageWidth", "ImageLength", "BitsPerSample", "Compression", "PhotometricInterpretation", "StripOffsets",
      "SamplesPerPixel", "RowsPerStrip", "StripByteCounts", "PlanarConfiguration", "Predictor", "TileWidth",
      "TileLength", "TileOffsets", "TileByteCounts", "ExtraSamples", "SampleFormat", "ColorMap", "InterColorProfile",
      "XMLPacket", "JPEGInterchangeFormat", "JPEGInterchangeFormatLength", "NewSubfileType", "SubfileType",
      "FillOrder", "InkSet", "YCbCrSubSampling", "YCbCrPositioning", "YCbCrCoefficients", "ReferenceBlackWhite",
      "SubIFDs", "ImageResources", "IPTCNAA", "PrintImageMatching", "DNGPrivateData"};
  return tag.groupName() == "Image" && kStructure.count(tag.tagName()) > 0;
}

// Where a picture was taken or what place it shows, in IPTC-IIM and in
// the XMP of its Photoshop, IPTC Core and IPTC Extension schemas.
bool IsIptcLocation(const Exiv2::Iptcdatum& d) {
  static const std::set<std::string> kPlaces = {
      "Iptc.Application2.City",        "Iptc.Application2.SubLocation",  "Iptc.Application2.ProvinceState",
      "Iptc.Application2.CountryName", "Iptc.Application2.CountryCode",  "Iptc.Application2.LocationCode",
      "Iptc.Application2.LocationName"};
  return kPlaces.count(d.key()) > 0;
}

bool IsXmpLocation(const Exiv2::Xmpdatum& d) {
  static const std::set<std::string> kPlaces = {"Xmp.photoshop.City", "Xmp.photoshop.State", "Xmp.photoshop.Country",
                                                "Xmp.iptc.Location", "Xmp.iptc.CountryCode"};
  const std::string key = d.key();
  return (d.groupName() == "exif" && d.tagName().rfind("GPS", 0) == 0) || kPlaces.count(key) > 0 ||
         key.rfind("Xmp.iptcExt.LocationCreated", 0) == 0 || key.rfind("Xmp.iptcExt.LocationShown", 0) == 0;
}

}  // namespace

FittedMetadata FitMetadata(const Embedded& carried, int width, int height, bool strip_location) {
  FittedMetadata fitted;
  std::lock_guard<std::mutex> hold(Exiv2Lock());
  Initialise();
  try {
    if (!carried.exif.empty()) {
      Exiv2::ExifData exif;
      const Exiv2::ByteOrder order =
          Exiv2::ExifParser::decode(exif, carried.exif.data(), static_cast<uint32_t>(carried.exif.size()));
      Exiv2::ExifThumb(exif).erase();
      for (auto i = exif.begin(); i != exif.end();) {
        const bool gps = strip_location && (i->groupName() == "GPSInfo" || i->key() == "Exif.Image.GPSTag");
        i = gps || IsFileStructure(*i) ? exif.erase(i) : std::next(i);
      }
      exif["Exif.Image.Orientation"] = uint16_t{1};
      exif["Exif.Photo.PixelXDimension"] = static_cast<uint32_t>(width);
      exif["Exif.Photo.PixelYDimension"] = static_cast<uint32_t>(height);
      Exiv2::Blob blob;
      Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, exif);
      fitted.exif.assign(blob.begin(), blob.end());
    }
  } catch (const Exiv2::AnyError&) {
    fitted.exif.clear();
  }
  Exiv2::IptcData iptc;
  try {
    if (!carried.iptc.empty() &&
        Exiv2::IptcParser::decode(iptc, carried.iptc.data(), static_cast<uint32_t>(carried.iptc.size())) == 0) {
      for (auto i = iptc.begin(); i != iptc.end();) i = strip_location && IsIptcLocation(*i) ? iptc.erase(i) : std::next(i);
      if (!iptc.empty()) {
        const Exiv2::DataBuf records = Exiv2::IptcParser::encode(iptc);
        fitted.iptc.assign(records.pData_, records.pData_ + records.size_);
      }
    }
  } catch (const Exiv2::AnyError&) {
    fitted.iptc.clear();
    iptc.clear();
  }
  try {
    Exiv2::XmpData xmp;
    if (!carried.xmp.empty() && Exiv2::XmpParser::decode(xmp, carried.xmp) != 0) xmp.clear();
    if (!carried.xmp.empty() || !iptc.empty()) {
      // IPTC's values mirrored where the XMP says nothing of them: the
      // XMP, written later by every tool that keeps both, wins.
      Exiv2::XmpData mirror;
      if (!iptc.empty()) Exiv2::copyIptcToXmp(iptc, mirror);
      for (const Exiv2::Xmpdatum& d : mirror)
        if (xmp.findKey(Exiv2::XmpKey(d.key())) == xmp.end()) xmp.add(d);
      for (auto i = xmp.begin(); i != xmp.end();) i = strip_location && IsXmpLocation(*i) ? xmp.erase(i) : std::next(i);
      if (xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation")) != xmp.end()) xmp["Xmp.tiff.Orientation"] = "1";
      if (xmp.findKey(Exiv2::XmpKey("Xmp.exif.PixelXDimension")) != xmp.end())
        xmp["Xmp.exif.PixelXDimension"] = std::to_string(width);
      if (xmp.findKey(Exiv2::XmpKey("Xmp.exif.PixelYDimension")) != xmp.end())
        xmp["Xmp.exif.PixelYDimension"] = std::to_string(height);
      if (!xmp.empty() && Exiv2::XmpParser::encode(fitted.xmp, xmp, Exiv2::XmpParser::useCompactFormat, 0) != 0)
        fitted.xmp.clear();
    }
  } catch (const Exiv2::AnyError&) {
    fitted.xmp.clear();
  }
  return fitted;
}

void AddExifToTiff(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif) {
  std::lock_guard<std::mutex> hold(Exiv2Lock());
  Initialise();
  try {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(tiff.data(), static_cast<long>(tiff.size()));
    image->readMetadata();
    Exiv2::ExifData mine = image->exifData();
    Exiv2::ExifData theirs;
    Exiv2::ExifParser::decode(theirs, exif.data(), static_cast<uint32_t>(exif.size()));
    for (const Exiv2::Exifdatum& tag : theirs)
      if (!IsFileStructure(tag)) mine[tag.key()] = tag.value();
    image->setExifData(mine);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf written = io.read(static_cast<long>(io.size()));
    tiff.assign(written.pData_, written.pData_ + written.size_);
  } catch (const Exiv2::AnyError&) {
    // The TIFF stays as libtiff made it.
  }
}

}  // namespace velmora
