#include "cli/options.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>

#include "base/messages.h"
#include "app/presets.h"
#include "base/text.h"
#include "image/limits.h"
#include "image/prepare.h"
#include "pipeline/output_naming.h"
#include "pipeline/writers.h"

namespace velmora::cli {
namespace {

constexpr const char* kNotANumber = N_("{1}: '{2}' is not a number from {3} to {4}");

const std::vector<std::string> kColors = {"full", "256", "bw"};
const std::vector<std::string> kSizes = {"1/1", "1/2", "1/3", "1/5", "2/3", "3/4", "2x", "3x"};
const std::vector<std::string> kIconSizes = {"16", "32", "64", "128", "256"};

// Every -f name, in the window's order: "bmp,jpg,png,mag,gif,ico,pdf,tif".
std::string FormatNames() {
  std::string names;
  for (const OutputRow* row : OutputsInBarOrder()) names += (names.empty() ? "" : ",") + std::string(row->format().extension);
  return names;
}

// The box a -f name ticks, or nullptr.
bool Settings::*FormatNamed(const std::string& name) {
  for (const OutputRow& row : OutputTable()) {
    const OutputFormat& format = row.format();
    if (name == format.extension) return row.ticked;
    for (const char* alias : format.aliases)
      if (name == alias) return row.ticked;
  }
  return nullptr;
}


std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

int IndexIn(const std::string& value, const std::vector<std::string>& items, const std::string& option) {
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == value) return static_cast<int>(i);
  std::string all;
  for (const auto& item : items) all += (all.empty() ? "" : " | ") + item;
  throw UsageError(Tr("{1}: '{2}' is not one of {3}", {option, value, all}));
}

std::string ItemOr(const std::vector<std::string>& items, int index, const char* none) {
  return index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)] : none;
}

const char* OnOff(bool on) { return on ? Tr("on") : Tr("off"); }

std::string SaveFolder(const Settings& s) {
  if (s.S_app) return Tr("the program's folder");
  if (s.S_folder) return s.S_folder_n;
  return Tr("beside each source");
}

// A whole number without sign or spaces, within [low, high].
bool ParseNumber(const std::string& text, long low, long high, long& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::stol(text);
  return value >= low && value <= high;
}

int ParseJobs(const std::string& option, const std::string& value) {
  long n = 0;
  if (!ParseNumber(value, 1, 256, n)) throw UsageError(Tr(kNotANumber, {option, value, "1", "256"}));
  return static_cast<int>(n);
}

struct Option {
  std::vector<std::string> names;
  const char* value;  // the value's name in the help, or nullptr for a switch
  const char* help;
  std::function<void(CommandLine&, const std::string&, const std::string&)> apply;
  std::function<std::string(const Settings&, const DecodeLimits&)> now;  // the effective value, or empty
};

void Edit(CommandLine& line, std::function<void(Settings&)> edit) { line.edits.push_back(std::move(edit)); }

// A switch and its opposite: on sets a box of the settings, off clears it;
// the help shows the value in effect with the first.
void AddSwitch(std::vector<Option>& options, const char* on, const char* on_help, const char* off, const char* off_help,
               bool Settings::*field, void (*also)(CommandLine&) = nullptr) {
  options.push_back({{on}, nullptr, on_help,
                     [field, also](CommandLine& line, const std::string&, const std::string&) {
                       if (also) also(line);
                       Edit(line, [field](Settings& s) { s.*field = true; });
                     },
                     [field](const Settings& s, const DecodeLimits&) { return std::string(OnOff(s.*field)); }});
  options.push_back({{off}, nullptr, off_help,
                     [field](CommandLine& line, const std::string&, const std::string&) {
                       Edit(line, [field](Settings& s) { s.*field = false; });
                     },
                     nullptr});
}

// What the pictures become: formats, colour depth, size, quality, icons.
void AddPictureOptions(std::vector<Option>& o) {
  o.insert(o.end(), {

      {{"-f", "--formats"}, "LIST", N_("target formats, comma separated: {1}"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         std::vector<bool Settings::*> chosen;
         std::stringstream ss(v);
         std::string item;
         while (std::getline(ss, item, ',')) {
           item = LowerAscii(Trim(item));
           if (item.empty()) continue;
           bool Settings::*field = FormatNamed(item);
           if (!field) throw UsageError(Tr("{1}: unknown format '{2}' ({3})", {option, item, FormatNames()}));
           chosen.push_back(field);
         }
         line.formats_given = true;
         Edit(line, [chosen](Settings& s) {
           for (const OutputRow& row : OutputTable()) s.*row.ticked = false;
           for (auto f : chosen) s.*f = true;
         });
       },
       [](const Settings& s, const DecodeLimits&) { return FormatList(s); }},
      {{"--color"}, "C", N_("colour depth: full | 256 | bw"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const int i = IndexIn(v, kColors, option);
         line.color_given = true;
         Edit(line, [i](Settings& s) { s.C_PixelColor = i; });
       },
       [](const Settings& s, const DecodeLimits&) { return ItemOr(kColors, s.C_PixelColor, Tr("as loaded")); }},
      {{"--size"}, "S",
       N_("size: 1/1 | 1/2 | 1/3 | 1/5 | 2/3 | 3/4 | 2x | 3x, or WxH (fit inside), W or xH (one side), N% "
          "(the other side follows the aspect, rounded to the nearest pixel; never larger unless --enlarge)"),
       [](CommandLine& line, const std::string& option, const std::string& value) {
         std::string v = value;
         if (v == "2×") v = "2x";
         if (v == "3×") v = "3x";
         if (ParseSizeFit(v)) {
           Edit(line, [v](Settings& s) { s.O_gsize = Settings::kSizeFitIndex, s.size_fit = v, s.long_edge = 0; });
           return;
         }
         if (std::find(kSizes.begin(), kSizes.end(), v) == kSizes.end())
           throw UsageError(Tr("{1}: '{2}' is not one of {3}", {option, value, "1/1 | 1/2 | 1/3 | 1/5 | 2/3 | 3/4 | 2x | 3x | WxH | W | xH | N%"}));
         const int i = IndexIn(v, kSizes, option);
         Edit(line, [i](Settings& s) { s.O_gsize = i; });
       },
       [](const Settings& s, const DecodeLimits&) {
         if (s.O_gsize != Settings::kSizeFitIndex) return ItemOr(kSizes, s.O_gsize, "1/1");
         return s.long_edge > 0 ? Tr("long edge {1}", {std::to_string(s.long_edge)}) : s.size_fit;
       }},
      {{"--long-edge"}, "N", N_("the longest side N pixels (1..1048576), the other following the aspect"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         long n = 0;
         if (!ParseNumber(v, 1, 1 << 20, n)) throw UsageError(Tr(kNotANumber, {option, v, "1", "1048576"}));
         Edit(line, [n](Settings& s) { s.O_gsize = Settings::kSizeFitIndex, s.long_edge = static_cast<int>(n); });
       },
       nullptr},
      {{"--quality"}, "[FMT=]N", N_("1..10: JPEG quality (N-1)*10; PNG compression from strong (1) to fast (10); WebP, AVIF and JPEG XL quality 10N-5 (JPEG XL: as cjxl -q); FMT=N for one format ({7}), repeatable, over the plain value"),
       [](CommandLine& line, const std::string& option, const std::string& value) {
         const size_t equals = value.find('=');
         const std::string v = equals == std::string::npos ? value : value.substr(equals + 1);
         long n = 0;
         if (!ParseNumber(v, 1, 10, n)) throw UsageError(Tr(kNotANumber, {option, value, "1", "10"}));
         if (equals == std::string::npos) {
           Edit(line, [n](Settings& s) { s.O_quality_c = s.O_quality_t = static_cast<int>(n) - 1; });
           return;
         }
         const std::string name = LowerAscii(value.substr(0, equals));
         const OutputRow* row = nullptr;
         for (const OutputRow& r : OutputTable())
           if (FormatNamed(name) == r.ticked) row = &r;
         if (!row || !row->format().takes_quality)
           throw UsageError(Tr("{1}: '{2}' is not a format that takes a quality ({3})",
                               {option, value, ExtensionsWith(&OutputFormat::takes_quality)}));
         const std::string extension = row->format().extension;
         Edit(line, [extension, n](Settings& s) { s.format_quality[extension] = static_cast<int>(n); });
       },
       [](const Settings& s, const DecodeLimits&) {
         std::string now = std::to_string(s.O_quality_t + 1);
         for (const auto& [extension, q] : s.format_quality) now += ", " + extension + "=" + std::to_string(q);
         return now;
       }},
      {{"--fit"}, "MODE", N_("how --size WxH fills its box: contain (inside it), cover (covering it, the centre cut to WxH), fill (stretched to WxH)"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const int i = IndexIn(v, {"contain", "cover", "fill"}, option);
         Edit(line, [i](Settings& s) { s.fit = static_cast<Settings::Fit>(i); });
       },
       [](const Settings& s, const DecodeLimits&) {
         return std::string(s.fit == Settings::Fit::kCover ? "cover" : s.fit == Settings::Fit::kFill ? "fill" : "contain");
       }},
      {{"--rotate"}, "DEG", N_("turn every picture clockwise by 90, 180 or 270 degrees (0: not), after its own orientation, before sizing"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const int i = IndexIn(v, {"0", "90", "180", "270"}, option);
         Edit(line, [i](Settings& s) { s.rotate = 90 * i; });
       },
       [](const Settings& s, const DecodeLimits&) { return std::to_string(s.rotate); }},
      {{"--flip"}, "h|v|none", N_("mirror every picture left to right (h) or top to bottom (v), after --rotate"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const int i = IndexIn(v, {"none", "h", "v"}, option);
         Edit(line, [i](Settings& s) { s.flip = i == 0 ? 0 : i == 1 ? 'h' : 'v'; });
       },
       [](const Settings& s, const DecodeLimits&) { return s.flip ? std::string(1, s.flip) : std::string("none"); }},
      {{"--icon-size"}, "N", N_("icon size: 16 | 32 | 64 | 128 | 256"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const int i = IndexIn(v, kIconSizes, option);
         Edit(line, [i](Settings& s) { s.O_icosize = i; });
       },
       [](const Settings& s, const DecodeLimits&) { return ItemOr(kIconSizes, s.O_icosize, Tr("none")); }}
  });
}

// Transparency and the batch-wide files.
void AddCombinedOptions(std::vector<Option>& o) {
  // {2}..{7}: the formats whose descriptors say they hold a profile, EXIF,
  // alpha, take a transparent colour, a lossless kind, a quality (HelpText).
  AddSwitch(o, "--trans", N_("transparent colour for {5} (the top-left pixel, or --pick)"), "--no-trans", N_("no transparent colour"), &Settings::C_Trans);
  o.insert(o.end(), {
      {{"--pick"}, "X,Y", N_("take the transparent colour at pixel X,Y of every source (needs --trans)"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const size_t comma = v.find(',');
         long x = 0, y = 0;
         if (comma == std::string::npos || !ParseNumber(Trim(v.substr(0, comma)), 0, 65535, x) ||
             !ParseNumber(Trim(v.substr(comma + 1)), 0, 65535, y))
           throw UsageError(Tr("{1}: '{2}' is not X,Y with two whole numbers from 0 to 65535", {option, v}));
         line.pick = PickerClick{static_cast<int>(x), static_cast<int>(y)};
         Edit(line, [](Settings& s) { s.V_transparent = true; });
       },
       nullptr}
  });
  AddSwitch(o, "--lossless", N_("lossless {6} (the other formats keep their one kind)"), "--lossy", N_("lossy {6} at --quality"), &Settings::C_lossless);
  AddSwitch(o, "--enlarge", N_("let --size and --long-edge make a picture larger"), "--no-enlarge",
            N_("never make a picture larger with --size or --long-edge"), &Settings::enlarge);
  AddSwitch(o, "--keep-profile",
            N_("carry an embedded RGB colour profile into {2} outputs, the pixels as they are"),
            "--srgb", N_("convert pictures with a colour profile to sRGB (perceptual)"), &Settings::keep_profile);
  AddSwitch(o, "--keep-metadata",
            N_("copy EXIF, XMP and IPTC into {3} outputs (orientation 1, the output's size, no thumbnail)"),
            "--no-metadata", N_("write no EXIF or XMP"), &Settings::V_metadata);
  AddSwitch(o, "--strip-location", N_("with --keep-metadata, leave every location field out (GPS, city, region, country)"), "--keep-location",
            N_("with --keep-metadata, keep the location fields too"), &Settings::strip_location);
  AddSwitch(o, "--keep-alpha",
            N_("keep the alpha channel in {4} outputs (the others composite over white)"),
            "--flatten-alpha", N_("composite transparent areas over white in every output"), &Settings::keep_alpha);
  AddSwitch(o, "--multipdf", N_("one combined PDF for the batch"), "--no-multipdf", N_("one PDF per source"), &Settings::C_Multipdf);
  AddSwitch(o, "--animgif", N_("one animated GIF for the batch"), "--no-animgif", N_("one GIF per source"), &Settings::C_animegif);
  o.insert(o.end(), {
      {{"--delay"}, "N", N_("frame delay of the animated GIF, 0..65535 hundredths of a second"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         long n = 0;
         if (!ParseNumber(v, 0, 65535, n)) throw UsageError(Tr(kNotANumber, {option, v, "0", "65535"}));
         Edit(line, [v](Settings& s) { s.C_delay = v; });
       },
       [](const Settings& s, const DecodeLimits&) { return s.C_delay; }},
      {{"--name"}, "NAME", N_("name of the combined PDF / animated GIF (NAME.pdf, NAME.gif)"),
       [](CommandLine& line, const std::string& option, const std::string& value) {
         std::string v = value;
         const std::string lower = LowerAscii(v);
         for (const char* ext : {".pdf", ".gif"})
           if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ext) == 0) v.resize(v.size() - 4);
         if (v.empty() || v.find('/') != std::string::npos || v == "." || v == "..")
           throw UsageError(Tr("{1}: '{2}' is not a file name without folders", {option, value}));
         Edit(line, [v](Settings& s) { s.C_multi_fn = true, s.multi_outfile = v; });
       },
       [](const Settings& s, const DecodeLimits&) { return s.C_multi_fn ? s.multi_outfile : Tr("the last source's name"); }}
  });
}

// Where the outputs go and which sources are read.
void AddPlaceOptions(std::vector<Option>& o) {
  o.insert(o.end(), {
      {{"--beside-source"}, nullptr, N_("write outputs beside their source"),
       [](CommandLine& line, const std::string&, const std::string&) {
         Edit(line, [](Settings& s) { s.S_sourcefile = true, s.S_app = s.S_folder = false; });
       },
       [](const Settings& s, const DecodeLimits&) { return SaveFolder(s); }},
      {{"--app-folder"}, nullptr, N_("write outputs into the program's folder"),
       [](CommandLine& line, const std::string&, const std::string&) {
         Edit(line, [](Settings& s) { s.S_app = true, s.S_sourcefile = s.S_folder = false; });
       },
       [](const Settings& s, const DecodeLimits&) { return SaveFolder(s); }},
      {{"--out"}, "DIR", N_("write outputs into DIR (made when missing)"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         if (v.empty()) throw UsageError(Tr("{1}: the folder name is empty", {option}));
         line.out_folder = v;
       },
       [](const Settings& s, const DecodeLimits&) { return SaveFolder(s); }},
      {{"-r", "--recursive"}, nullptr,
       N_("descend into subfolders (with --out, their layout is kept); links to folders are not followed"),
       [](CommandLine& line, const std::string&, const std::string&) { line.recursive = true; }, nullptr},
      {{"--hidden"}, nullptr, N_("with --recursive, descend into hidden folders (names starting with \".\") too"),
       [](CommandLine& line, const std::string&, const std::string&) { line.hidden = true; }, nullptr}
  });
}

// What happens to existing files and to the sources.
void AddFileOptions(std::vector<Option>& o) {
  AddSwitch(o, "--overwrite", N_("replace existing files without asking"), "--no-overwrite", N_("ask before replacing a file (a terminal is needed to answer)"), &Settings::V_over, [](CommandLine& line) { line.overwrite_given = true; });
  o.insert(o.end(), {
      {{"--skip-existing"}, nullptr, N_("keep existing files without asking; such skips are not failures"),
       [](CommandLine& line, const std::string&, const std::string&) { line.skip_existing = true; }, nullptr}
  });
  AddSwitch(o, "--suffix-s", N_("add \"s\" to output names (a.jpg -> as.png)"), "--no-suffix-s", N_("output names as their source's"), &Settings::V_adds);
  o.insert(o.end(), {
      {{"--rename"}, "PATTERN", N_("name outputs by a pattern of {name} {n} {n:3} {width} {height} {format} {date} and text, the extension added (\"\" for the source's name)"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         if (!v.empty())
           if (const std::string why = PatternProblem(v); !why.empty())
             throw UsageError(Tr("{1}: '{2}': {3}", {option, v, why}));
         Edit(line, [v](Settings& s) { s.rename = v; });
       },
       [](const Settings& s, const DecodeLimits&) { return s.rename.empty() ? Tr("the source's name") : s.rename; }}
  });
  AddSwitch(o, "--keep-date", N_("give outputs their source's date"), "--no-keep-date", N_("outputs get the time they were written"), &Settings::V_olddate);
  // Not AddSwitch: a script's sources move only when its own command line
  // says so, whatever a settings file asks, so both switches are noted.
  o.insert(o.end(), {
      {{"--trash-source"}, nullptr, N_("move each source to the trash once all its outputs are written"),
       [](CommandLine& line, const std::string&, const std::string&) {
         line.fate_given = true;
         Edit(line, [](Settings& s) { s.A_delete = true; });
       },
       [](const Settings& s, const DecodeLimits&) { return std::string(OnOff(s.A_delete)); }},
      {{"--keep-source"}, nullptr, N_("leave the sources where they are (the default, whatever the settings file says)"),
       [](CommandLine& line, const std::string&, const std::string&) {
         line.fate_given = true;
         Edit(line, [](Settings& s) { s.A_delete = false; });
       },
       nullptr}
  });
}

// How the run goes.
void AddRunOptions(std::vector<Option>& o) {
  o.insert(o.end(), {
      {{"--max-pixels"}, "N", N_("refuse pictures of more than N pixels (settings file: [Limits] MaxPixels)"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         long n = 0;
         if (!ParseNumber(v, 1, 999999999, n))
           throw UsageError(Tr("{1}: '{2}' is not a number of pixels from 1 to 999999999", {option, v}));
         line.max_pixels = n;
       },
       [](const Settings&, const DecodeLimits& limits) { return std::to_string(limits.max_pixels); }},
      {{"-j", "--jobs"}, "N", N_("convert N sources at once (1..256); outputs and lines keep the batch's order"),
       [](CommandLine& line, const std::string& name, const std::string& v) { line.jobs = ParseJobs(name, v); },
       [](const Settings&, const DecodeLimits&) { return std::to_string(DefaultJobs()); }},
      {{"--json"}, nullptr,
       N_("print one JSON object per file on standard output instead of the results list, and a summary at the end (see the README)"),
       [](CommandLine& line, const std::string&, const std::string&) { line.json = true; }, nullptr},
      {{"--files-from"}, "FILE", N_("also convert the paths listed in FILE (- for standard input), one per line, in that order"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         if (v.empty()) throw UsageError(Tr("{1}: the file name is empty", {option}));
         line.files_from = v;
       },
       nullptr},
      {{"-0", "--null"}, nullptr, N_("with --files-from, the paths are separated by NUL characters instead of lines"),
       [](CommandLine& line, const std::string&, const std::string&) { line.null_separated = true; }, nullptr},
      {{"--shard"}, "K/N", N_("convert only the K-th of N parts of the files (every N-th file from the K-th), so that N runs convert each file once"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         const size_t slash = v.find('/');
         long k = 0, n = 0;
         if (slash == std::string::npos || !ParseNumber(v.substr(slash + 1), 1, 1000000, n) ||
             !ParseNumber(v.substr(0, slash), 1, n, k))
           throw UsageError(Tr("{1}: '{2}' is not K/N with 1 <= K <= N", {option, v}));
         line.shard_part = static_cast<int>(k), line.shard_parts = static_cast<int>(n);
       },
       nullptr},
      {{"--stdout"}, nullptr, N_("write the one output of one picture (a path, or - for standard input) to standard output"),
       [](CommandLine& line, const std::string&, const std::string&) { line.to_stdout = true; }, nullptr},
      {{"-n", "--dry-run"}, nullptr, N_("list the outputs that would be written; read and change nothing"),
       [](CommandLine& line, const std::string&, const std::string&) { line.dry_run = true; }, nullptr},
      {{"-q", "--quiet"}, nullptr, N_("print only the results list, failures and questions"),
       [](CommandLine& line, const std::string&, const std::string&) { line.quiet = true; }, nullptr},
      {{"--ini"}, "FILE", N_("settings file to read (and to write with --save)"),
       [](CommandLine& line, const std::string&, const std::string& v) { line.ini_path = v; }, nullptr},
      {{"--preset"}, "NAME", N_("read the preset NAME (a settings file in the presets folder) instead of the settings file; with --save, write it"),
       [](CommandLine& line, const std::string& option, const std::string& v) {
         if (const std::string why = PresetProblem(v); !why.empty()) throw UsageError(Tr("{1}: '{2}': {3}", {option, v, why}));
         line.preset = v;
       },
       nullptr},
      {{"--list-presets"}, nullptr, N_("list the presets by name"),
       [](CommandLine& line, const std::string&, const std::string&) { line.list_presets = true; }, nullptr},
      {{"--no-settings"}, nullptr, N_("read and write no settings file: the desktop program's defaults and the options alone apply"),
       [](CommandLine& line, const std::string&, const std::string&) { line.no_settings = true; }, nullptr},
      {{"--save"}, nullptr, N_("write the effective settings to the settings file"),
       [](CommandLine& line, const std::string&, const std::string&) { line.save = true; }, nullptr},
      {{"-h", "--help"}, nullptr, N_("show this help with the values now in effect"),
       [](CommandLine& line, const std::string&, const std::string&) { line.help = true; }, nullptr},
      {{"--list-formats"}, nullptr, N_("list every extension read, its description and where its reader comes from"),
       [](CommandLine& line, const std::string&, const std::string&) { line.list_formats = true; }, nullptr},
      {{"--version"}, nullptr, N_("show the version"),
       [](CommandLine& line, const std::string&, const std::string&) { line.version = true; }, nullptr}
  });
}

const std::vector<Option>& Options() {
  static const std::vector<Option> options = [] {
    std::vector<Option> o;
    AddPictureOptions(o);
    AddCombinedOptions(o);
    AddPlaceOptions(o);
    AddFileOptions(o);
    AddRunOptions(o);
    return o;
  }();
  return options;
}

const Option* Find(const std::string& name) {
  for (const auto& option : Options())
    for (const auto& n : option.names)
      if (n == name) return &option;
  return nullptr;
}

}  // namespace

int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 256u));
}

std::string FormatList(const Settings& s) {
  std::string list;
  for (const OutputRow& row : OutputTable())  // the writers' own order
    if (s.*row.ticked) list += (list.empty() ? "" : ",") + std::string(row.format().extension);
  return list.empty() ? Tr("none") : list;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_done || a.empty() || a[0] != '-' || a == "-") {
      line.paths.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    const size_t eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
    const std::string name = a.substr(0, eq);
    const Option* option = Find(name);
    if (!option) throw UsageError(Tr("unknown option '{1}'", {a}));
    std::string value;
    if (option->value) {
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else {
        if (i + 1 >= args.size()) throw UsageError(Tr("{1} needs a value ({2})", {name, option->value}));
        value = args[++i];
      }
    } else if (eq != std::string::npos) {
      throw UsageError(Tr("{1} takes no value", {name}));
    }
    option->apply(line, name, value);
  }
  return line;
}

void CheckEffective(const CommandLine& line, const Settings& s) {
  if (line.pick && !s.C_Trans) throw UsageError(Tr("--pick needs --trans: without a transparent colour nothing is picked"));
  if (line.shard_parts > 0 && s.AnyCombined())
    throw UsageError(Tr("--shard cannot make one combined PDF or animated GIF: each part would write its own (--no-multipdf, --no-animgif)"));
  if (line.null_separated && line.files_from.empty()) throw UsageError(Tr("-0 needs --files-from"));
  const bool stdin_picture = std::find(line.paths.begin(), line.paths.end(), "-") != line.paths.end();
  if (stdin_picture && line.files_from == "-")
    throw UsageError(Tr("standard input cannot hold both the picture and the list of files"));
  if (stdin_picture && !line.to_stdout) throw UsageError(Tr("a picture from standard input (-) needs --stdout"));
  if (line.to_stdout) {
    if (line.paths.size() != 1 || !line.files_from.empty())
      throw UsageError(Tr("--stdout writes one picture: give exactly one path, or - for standard input"));
    int ticked = 0;
    for (const OutputRow& row : OutputTable()) ticked += s.*row.ticked ? 1 : 0;
    if (ticked != 1) throw UsageError(Tr("--stdout writes one format: choose exactly one with -f"));
    if (line.json || line.shard_parts > 0 || line.dry_run)
      throw UsageError(Tr("--stdout cannot be used with --json, --shard or --dry-run"));
  }
  long delay = 0;
  if (s.C_gif && !ParseNumber(s.C_delay, 0, 65535, delay))
    throw UsageError(Tr("--delay: the settings file holds '{1}', not a number from 0 to 65535", {s.C_delay}));
}

namespace {

// An option's help line, translated or as its key with the placeholders
// filled (the completion scripts, made at build time in no language).
std::string HelpOf(const Option& option, bool translated) {
  const std::string a[] = {
      FormatNames(), ExtensionsWith(&OutputFormat::holds_icc), ExtensionsWith(&OutputFormat::holds_exif),
      ExtensionsWith(&OutputFormat::holds_alpha), ExtensionsWith(&OutputFormat::takes_transparency),
      ExtensionsWith(&OutputFormat::takes_lossless), ExtensionsWith(&OutputFormat::takes_quality)};
  const std::initializer_list<std::string_view> args = {a[0], a[1], a[2], a[3], a[4], a[5], a[6]};
  return translated ? Tr(option.help, args) : FillPlaceholders(option.help, args);
}

// The values a shell may offer after an option: its closed list, if it has one.
std::vector<std::string> ValuesOf(const Option& option) {
  const std::string& name = option.names.back();
  std::vector<std::string> values;
  auto split = [&](const std::string& list) {
    std::stringstream ss(list);
    for (std::string item; std::getline(ss, item, ',');) values.push_back(item);
  };
  if (name == "--formats") split(FormatNames());
  if (name == "--color") values = kColors;
  if (name == "--size") values = kSizes;
  if (name == "--icon-size") values = kIconSizes;
  if (name == "--fit") values = {"contain", "cover", "fill"};
  if (name == "--rotate") values = {"0", "90", "180", "270"};
  if (name == "--flip") values = {"h", "v", "none"};
  if (name == "--quality") {
    for (int n = 1; n <= 10; ++n) values.push_back(std::to_string(n));
    std::stringstream ss(ExtensionsWith(&OutputFormat::takes_quality));
    for (std::string item; std::getline(ss, item, ',');)
      if (!Trim(item).empty()) values.push_back(Trim(item) + "=");
  }
  return values;
}

}  // namespace

std::vector<OptionCompletion> CompletionTable() {
  std::vector<OptionCompletion> table;
  for (const Option& option : Options()) {
    OptionCompletion entry{option.names, option.value ? option.value : "", HelpOf(option, false), ValuesOf(option),
                           OptionCompletion::Kind::kNone};
    if (!entry.value.empty())
      entry.kind = entry.value == "FILE"          ? OptionCompletion::Kind::kFile
                   : entry.value == "DIR"         ? OptionCompletion::Kind::kFolder
                   : entry.names.back() == "--formats" ? OptionCompletion::Kind::kList
                   : !entry.values.empty()        ? OptionCompletion::Kind::kWord
                                                  : OptionCompletion::Kind::kText;
    table.push_back(std::move(entry));
  }
  return table;
}

std::string HelpText(const Settings& s, const DecodeLimits& limits, const std::string& ini_path, bool ini_exists) {
  std::string text = Tr(
      "Usage: velmora-cli [OPTIONS] PATH...\n"
      "Converts image files, and the files inside folders, into every chosen format.\n"
      "Options not given keep the value of the settings file, shared with the desktop program:\n"
      "  {1}\n"
      "The values in [now: ...] are those in effect with the options before --help.\n\n",
      {ini_exists ? ini_path : Tr("{1} (not found: the desktop program's defaults apply)", {ini_path})});
  for (const auto& option : Options()) {
    std::string left = "  ";
    if (option.names.size() == 1) left += "    ";
    for (size_t i = 0; i < option.names.size(); ++i) left += (i ? ", " : "") + option.names[i];
    if (option.value) left += std::string(" ") + option.value;
    if (left.size() < 24) left.resize(24, ' ');
    else left += "  ";
    text += left + HelpOf(option, true);
    if (option.now) text += Tr("  [now: {1}]", {option.now(s, limits)});
    text += "\n";
  }
  text += Tr(
      "\nStandard output carries the results list: one line per file written\n"
      "(SOURCE → OUTPUT SIZE) and one per failure (SOURCE × 変換できませんでした),\n"
      "each as soon as its file is done. Standard error carries one reason line per\n"
      "failure (velmora-cli: SOURCE: REASON), warnings, questions, the progress line\n"
      "on a terminal and the final status. Control characters in names are printed\n"
      "as \\n, \\t, \\r or \\xNN.\n"
      "\nExit status: 0 every requested output was written; 1 a source or an output\n"
      "failed, collided, or was not written because the file existed (without\n"
      "--skip-existing); 2 usage error; 130, 143, 129 interrupted by SIGINT, SIGTERM,\n"
      "SIGHUP (temporary files are removed).\n");
  return text;
}

}  // namespace velmora::cli
