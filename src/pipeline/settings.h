// The state of every control the conversion reads, one field per control,
// named after it. The GUI writes a control's state here the moment it
// changes; the CLI fills it from the settings file and its options.
#pragma once

#include <map>
#include <string>

namespace velmora {

struct Settings {
  // Main window geometry and state ("Window").
  int pos_x = 235;
  int pos_y = 288;
  int size_x = 374;
  int size_y = 334;
  std::string window_state;  // "Max", "Normal", "Min" or empty

  // Target formats ("Format").
  bool C_bmp = false;
  bool C_jpg = false;
  bool C_png = false;
  bool C_mag = false;
  bool C_gif = false;
  bool C_ico = false;
  bool C_pdf = false;
  bool C_tif = false;
  // The additions' bar ("Format" for the boxes, "Extra" for the rest).
  bool C_webp = false;
  bool C_avif = false;
  bool C_jxl = false;
  bool extra_panel = false;
  bool C_lossless = false;  // WebP and JPEG XL lossless
  // What a picture carries ("Extra"; the metadata tick is the settings
  // dialog's, in "Config_Conv").
  bool keep_profile = false;    // carry an RGB profile instead of converting to sRGB
  bool V_metadata = false;      // carry EXIF and XMP
  bool strip_location = false;  // ... without the GPS fields
  bool keep_alpha = false;      // alpha into the formats that hold it
  // Any size: O_gsize 8 ("指定…") takes the longest side or this fit
  // ("WxH", "W", "xH", "N%"); never larger than the source unless enlarge.
  std::string size_fit;
  int long_edge = 0;
  bool enlarge = false;
  // How a "WxH" box is filled: inside it (contain), covering it and cut to
  // it at the centre (cover), or stretched to it (fill).
  enum class Fit { kContain, kCover, kFill };
  Fit fit = Fit::kContain;
  // Turned clockwise (0, 90, 180, 270) then flipped ('h', 'v' or none),
  // after the picture's own orientation and before sizing.
  int rotate = 0;
  char flip = 0;
  // Output names from a pattern instead of the source's (see output_naming.h).
  std::string rename;
  // Quality 1..10 for one format (its extension), over the quality bar.
  std::map<std::string, int> format_quality;

  // Effect bar ("Effect"). List indexes are -1 when no item is selected.
  bool effect_panel = false;
  bool C_Trans = false;
  bool C_Multipdf = false;
  bool C_animegif = false;
  int C_PixelColor = 1;  // 0 full colour, 1 256 colours, 2 black and white
  std::string C_delay = "30";

  // Option bar ("Option").
  bool option_panel = false;
  int O_quality_c = 5;  // list "1".."10"
  int O_quality_t = 5;  // track bar 0..9, what the writers read
  int O_icosize = 1;    // 0 "16", 1 "32", 2 "64", 3 "128", 4 "256"
  int O_gsize = 0;      // 0 "1/1" ... 7 "3x"

  // Settings dialog: save place ("Config_Save").
  bool S_sourcefile = true;
  bool S_app = false;
  bool S_folder = false;
  std::string S_folder_n;  // always ends in "/"

  // Settings dialog: behaviour ("Config_Active").
  bool A_dialog = false;
  bool A_front = false;
  bool A_send = false;
  bool A_clip = false;
  bool A_delete = false;

  // Settings dialog: conversion ("Config_Conv").
  bool V_over = false;
  bool V_adds = false;
  bool V_olddate = false;
  bool V_transparent = false;

  // Order dialog: name of the combined outputs (not stored in the file).
  bool C_multi_fn = false;
  std::string multi_outfile = "multi";

  // Whether any box of the output table is ticked (pipeline/writers.cpp).
  bool AnyFormat() const;
  // Whether a ticked format asks for the transparent-colour picker.
  bool PickerWanted() const;
  // The alpha is kept and some ticked format holds it.
  bool AlphaWanted() const;
  // A ticked format makes one batch-wide file (the animated GIF, the
  // combined PDF).
  bool AnyCombined() const;
  // The size list's last entry, "指定…".
  static constexpr int kSizeFitIndex = 8;
};

}  // namespace velmora
