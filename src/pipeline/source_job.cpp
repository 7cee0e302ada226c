#include "pipeline/source_job.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "base/messages.h"
#include "base/paths.h"

namespace velmora {
namespace {

// The least free space, whatever the outputs, for an encoded file to wait
// on disk for its commit.
constexpr uint64_t kPendingHeadroom = uint64_t{1} << 30;

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Failure FailureOf(const std::exception_ptr& error, const std::string& what) {
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    return {e.Kind(), e.what()};
  } catch (const std::bad_alloc&) {
    return {ErrorKind::kTooLarge, what.empty() ? Tr("not enough memory") : Tr("not enough memory to {1}", {what})};
  } catch (const std::exception& e) {
    return {ErrorKind::kInternal, e.what()};
  }
}

size_t JobResult::Held() const {
  size_t n = 0;
  for (const EncodedOutput& output : outputs) n += output.bytes.size();
  return n + picture.image.ImageSize();
}

SourceJob::SourceJob(const Loader& loader, const ConversionContext& context, JobsBudget::Share* share,
                     SpareStrings* spare)
    : loader_(loader), context_(context), share_(share), spare_(spare) {}

uint64_t SourceJob::Need(int64_t width, int64_t height, const JobPlan& plan) const {
  const Settings& settings = *plan.settings;
  const auto pixels = [](int64_t w, int64_t h) { return static_cast<uint64_t>(w) * static_cast<uint64_t>(h); };
  const uint64_t alpha = settings.AlphaWanted() ? 4 : 0;
  int64_t out_width = width, out_height = height;
  PreparedSizeOf(settings, width, height, out_width, out_height);
  const uint64_t decoded = pixels(width, height) * (3 + alpha);
  const bool resized = out_width != width || out_height != height;
  const uint64_t prepared = resized ? pixels(out_width, out_height) * (3 + alpha) : decoded;
  // The encoders run one after another on the prepared picture.
  const int bits = settings.C_PixelColor == 1 ? 8 : 24;
  EncodeOptions options = OptionsFor(settings, WriterContext{settings, kNoColor, {}, {}, &context_});
  uint64_t encoder = 0;
  for (const FormatWriter& writer : *plan.writers) {
    if (!writer.Ticked(settings) || (plan.combined && plan.combined(writer))) continue;
    const OutputFormat& format = writer.Format();
    options.quality = OptionsFor(settings, WriterContext{settings, kNoColor, {}, {}, &context_}, &format).quality;
    encoder = std::max(encoder, format.memory ? format.memory(out_width, out_height, bits, options) : kEncoderBuffers);
  }
  // Decoding holds the picture and the decoder's own rows; resizing both
  // pictures at once; encoding the prepared one and the encoder.
  return std::max(decoded + decoded / 5 + (resized ? prepared : 0), prepared + encoder);
}

LoadedPicture SourceJob::Load(const SourceInput& input, const JobPlan& plan, std::vector<std::string>& warnings) {
  if (context_.Stopped()) throw Error(ErrorKind::kCancelled, Tr("変換を中止しました。"));
  const Settings& settings = *plan.settings;
  ConversionContext context = context_;
  if (share_) context.admit = [this, &plan](int64_t w, int64_t h) { share_->Need(Need(w, h, plan)); };
  DecodeRequest request = loader_.Request();
  request.keep_alpha = settings.AlphaWanted();
  request.metadata = settings.V_metadata;
  request.context = &context;
  std::unique_ptr<Graphic> graphic;
  if (input.graphic) {
    graphic = input.graphic();
  } else if (input.bytes) {
    graphic = loader_.LoadByContent(input.bytes->data(), input.bytes->size(), request);
    if (!graphic) throw Error(ErrorKind::kUnsupported, Tr("{1}: not a picture in a format read here", {input.path}));
  } else {
    graphic = loader_.LoadFile(input.path, request);
  }
  warnings.insert(warnings.end(), graphic->Warnings().begin(), graphic->Warnings().end());
  LoadedPicture loaded = TakeLoaded(*graphic, settings);
  warnings.insert(warnings.end(), loaded.warnings.begin(), loaded.warnings.end());
  return loaded;
}

JobResult SourceJob::Finish(LoadedPicture loaded, const JobPlan& plan) {
  const Settings& settings = *plan.settings;
  const std::vector<FormatWriter>& writers = *plan.writers;
  JobResult r;
  r.loaded_width = loaded.working.Width(), r.loaded_height = loaded.working.Height();
  try {
    r.picture = PreparePicture(std::move(loaded), settings, plan.x_point, plan.y_point, context_.limits);
    r.picture.frame.picker_shown = plan.picker_shown;
  } catch (...) {
    r.failure = FailureOf(std::current_exception(), Tr("prepare the picture"));
    return r;
  }
  r.out_width = r.picture.image.Width(), r.out_height = r.picture.image.Height();
  const auto encoding = std::chrono::steady_clock::now();
  size_t outputs = 0;
  for (const FormatWriter& writer : writers) outputs += writer.Ticked(settings) && writer.encode;
  // Pending files fill the disk ahead of the commits; on a disk with less
  // room than all of them could take, the files wait in memory, so that it
  // fills in the batch's order and the same outputs fail as with one job.
  const uint64_t room = std::max<uint64_t>(
      kPendingHeadroom, uint64_t{4} * static_cast<uint64_t>(std::max(plan.jobs, 1)) * outputs *
                            (r.picture.image.ImageSize() + (64 << 10)));
  r.outputs.resize(writers.size());
  bool keep_picture = false;
  for (size_t k = 0; k < writers.size(); ++k) {
    const FormatWriter& writer = writers[k];
    if (!writer.Ticked(settings)) continue;
    if (plan.combined && plan.combined(writer)) {
      keep_picture = true;
      continue;
    }
    if (!writer.encode) continue;  // the commit says it cannot be written
    EncodedOutput& output = r.outputs[k];
    output.made = true;
    if (context_.Stopped()) {
      output.failure = Failure{ErrorKind::kCancelled, Tr("変換を中止しました。")};
      continue;
    }
    const std::string folder = plan.folder ? plan.folder(writer) : "";
    // Scratch files of this output wait where its file does.
    ConversionContext context = context_;
    if (!folder.empty()) context.scratch = [folder] { return std::make_unique<platform::SpoolFile>(folder); };
    const WriterContext writing{settings, plan.picked_color, r.picture.frame, r.picture.extras, &context};
    try {
      CheckEncoderMemory(writer.Format(), r.picture.image, OptionsFor(settings, writing, &writer.Format()));
      const auto encode = [&](std::ostream& out) { writer.encode(r.picture.image, writing, out); };
      // Written where the output will most likely be named, the commit only
      // names it: no copy in memory, no second pass over the bytes. Where it
      // cannot be (a folder still to be made, a full disk, a file system
      // without unnamed files), it waits in memory.
      if (!folder.empty()) {
        platform::PendingFile file(folder, room);
        if (file.Valid() && file.Write(encode)) {
          output.pending = std::move(file);
          continue;
        }
      }
      // Room for as many bytes as the picture holds, which most files never
      // touch: reserved, not yet memory, and the file does not grow by
      // doubling (a copy, old and new held at once) on its way there.
      std::string spare = spare_ ? spare_->Take() : std::string();
      spare.reserve(r.picture.image.ImageSize() + (size_t{64} << 10));
      StringSink out(std::move(spare));
      encode(out);
      output.bytes = out.Take();
    } catch (...) {
      output.failure = FailureOf(std::current_exception(),
                                 Tr("write the {1} file of {2} x {3} pixels",
                                    {writer.Format().name, std::to_string(r.out_width), std::to_string(r.out_height)}));
    }
  }
  r.encode_ms = MillisecondsSince(encoding);
  // The pixels go unless a batch-wide file takes them; the sizes stay.
  if (!keep_picture) r.picture.image = DibImage();
  return r;
}

JobResult SourceJob::Run(const SourceInput& input, const JobPlan& plan) {
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> warnings;
  LoadedPicture loaded;
  try {
    loaded = Load(input, plan, warnings);
  } catch (...) {
    JobResult r;
    r.failure = FailureOf(std::current_exception(), Tr("read the picture"));
    r.warnings = std::move(warnings);
    return r;
  }
  JobResult r = Finish(std::move(loaded), plan);
  // Reading and preparing; the rest was encoding.
  r.decode_ms = MillisecondsSince(started) - r.encode_ms;
  r.warnings.insert(r.warnings.begin(), warnings.begin(), warnings.end());
  return r;
}

}  // namespace velmora
