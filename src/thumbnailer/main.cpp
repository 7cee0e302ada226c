// velmora-thumbnailer -s SIZE INPUT OUTPUT: a PNG of at most SIZE pixels on
// the long edge, for the freedesktop thumbnailer convention. A file manager
// runs it on every file a user merely browses past, so it trusts nothing: no
// plug-ins, no settings file, small limits, five seconds, and nothing at
// OUTPUT unless the whole thumbnail was made.
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/ini_store.h"
#include "base/messages.h"
#include "base/sanitized.h"
#include "formats/loader.h"
#include "image/conversion_context.h"
#include "pipeline/settings.h"
#include "pipeline/source_job.h"
#include "pipeline/writers.h"
#include "platform/platform.h"


namespace velmora {
namespace {

constexpr unsigned kSeconds = 5;
constexpr int kLargestThumbnail = 4096;

// Thumbnails come from pictures people keep, not from posters: a little
// above a 30 Mpx camera's frame, and a fraction of the converter's memory.
DecodeLimits ThumbnailLimits() {
  DecodeLimits limits;
  limits.max_pixels = int64_t{1} << 25;
  limits.max_side = int64_t{1} << 16;
  limits.max_allocation = int64_t{256} << 20;
  limits.max_file = int64_t{128} << 20;
  limits.max_memory = int64_t{768} << 20;
  return limits;
}

// What the kernel enforces whatever a library does: the wall-clock alarm's
// default action ends the process before anything is written, and the
// address space catches an allocation no limit above foresaw. (A sanitizer
// reserves terabytes of address space, so it goes without the second.)
void Confine() {
  alarm(kSeconds);
  rlimit cpu{kSeconds, kSeconds + 1};
  setrlimit(RLIMIT_CPU, &cpu);
#ifndef VELMORA_SANITIZED
  rlimit memory{rlim_t{1} << 30, rlim_t{1} << 30};
  setrlimit(RLIMIT_AS, &memory);
#endif
}

struct Arguments {
  int size = 0;
  std::string input, output;
};

bool Parse(const std::vector<std::string>& args, Arguments& parsed) {
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-s" && i + 1 < args.size()) {
      const std::string& text = args[++i];
      int value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > kLargestThumbnail)
        return false;
      parsed.size = value;
    } else {
      files.push_back(args[i]);
    }
  }
  if (parsed.size == 0 || files.size() != 2) return false;
  parsed.input = files[0];
  parsed.output = files[1];
  return true;
}

int Run(const Arguments& args) {
  const DecodeLimits limits = ThumbnailLimits();
  Loader loader(limits);
  loader.SetRequest(StandardRequest());
  Settings settings;
  settings.C_png = true;
  settings.C_PixelColor = 0;
  settings.O_gsize = Settings::kSizeFitIndex;
  settings.long_edge = args.size;
  settings.enlarge = false;
  settings.keep_alpha = true;
  settings.O_quality_t = 2;  // a quick deflate: the file manager waits for it
  const std::vector<FormatWriter> writers = DefaultWriters();
  ConversionContext context;
  context.limits = limits;
  SourceJob job(loader, context);
  JobPlan plan;
  plan.settings = &settings;
  plan.writers = &writers;
  JobResult result = job.Run(SourceInput{args.input}, plan);
  if (result.failure) throw Error(result.failure->kind, result.failure->reason);
  for (const EncodedOutput& output : result.outputs) {
    if (!output.made) continue;
    if (output.failure) throw Error(output.failure->kind, output.failure->reason);
    alarm(0);
    platform::WriteFileAtomically(args.output, [&](std::ostream& out) {
      out.write(output.bytes.data(), static_cast<std::streamsize>(output.bytes.size()));
    });
    return 0;
  }
  throw Error(ErrorKind::kInternal, "no thumbnail was made");
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  velmora::Confine();
  velmora::platform::UseUserLanguage();
  velmora::Arguments args;
  if (!velmora::Parse(std::vector<std::string>(argv + 1, argv + argc), args)) {
    std::cerr << velmora::Tr("usage: velmora-thumbnailer -s SIZE INPUT OUTPUT (SIZE from 1 to 4096)") << '\n';
    return 2;
  }
  try {
    return velmora::Run(args);
  } catch (const std::exception& e) {
    std::cerr << "velmora-thumbnailer: " << args.input << ": " << e.what() << '\n';
    return 1;
  }
}
