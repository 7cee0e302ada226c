// Several sources at once: each is loaded, prepared and encoded on a worker
// while the batch's thread commits the ones before it, in order, as one job
// would have.
#include <atomic>
#include <chrono>
#include <deque>
#include <future>

#include "base/paths.h"
#include "base/string_sink.h"
#include "pipeline/converter.h"
#include "pipeline/worker_pool.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// What the sources made ahead may hold while they wait to be committed:
// their encoded files, and their pictures when a combined output takes
// them. Past it no further source is started until the batch's thread has
// caught up, however many jobs there are.
constexpr size_t kAheadBudget = size_t{256} << 20;

}  // namespace

size_t Converter::Prepared::Footprint() const {
  size_t bytes_held = picture.image.ImageSize();
  for (const std::string& b : bytes) bytes_held += b.size();
  return bytes_held;
}

void Converter::ConvertGroup(const std::vector<std::string>& files, int progress_max, size_t first_position) {
  const bool picker = settings_.PickerWanted();
  if (jobs_ > 1 && files.size() >= 2 && !dry_run_ && !picker && settings_.AnyFormat()) {
    ConvertGroupAside(files, progress_max, first_position);
    return;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) ui_.ProcessPendingEvents();
    if (stop_) break;
    ui_.SetProgressMax(progress_max);
    ConvertEntry(files[i]);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
}

void Converter::ConvertGroupAside(const std::vector<std::string>& files, int progress_max, size_t first_position) {
  // The workers see the settings as they are when the group starts; the
  // commits below read them live, as one job does.
  const Settings snapshot = settings_;
  const ColorValue picked = picked_color_;
  const int x_point = x_point_, y_point = y_point_;
  const bool gif_combined = animated_gif_ != nullptr, pdf_combined = combined_pdf_ != nullptr;
  std::deque<std::future<Prepared>> ahead;
  std::atomic<size_t> held{0};  // by the sources made and not yet committed
  // Declared after the futures: it ends first, running what it was given.
  WorkerPool pool(jobs_);
  size_t launched = 0;
  auto launch = [&] {
    while (launched < files.size() && ahead.size() < static_cast<size_t>(jobs_) &&
           (ahead.empty() || held.load() < kAheadBudget)) {
      ahead.push_back(pool.Submit<Prepared>([&, file = files[launched]] {
        Prepared p = PrepareAside(file, snapshot, picked, x_point, y_point, gif_combined, pdf_combined);
        held += p.Footprint();
        return p;
      }));
      ++launched;
    }
  };
  for (size_t i = 0; i < files.size(); ++i) {
    if (i > 0) ui_.ProcessPendingEvents();
    if (stop_) break;
    launch();
    ui_.SetProgressMax(progress_max);
    std::future<Prepared> next = std::move(ahead.front());
    ahead.pop_front();
    // The window stays alive while the next source is still being made.
    while (next.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) ui_.ProcessPendingEvents();
    launch();
    Prepared prepared = next.get();
    held -= prepared.Footprint();
    ConvertEntry(files[i], &prepared);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
  // A stopped group lets the work already started end, and drops it.
  for (auto& f : ahead) f.wait();
}

Converter::Prepared Converter::PrepareAside(const std::string& source, const Settings& settings, ColorValue picked,
                                            int x_point, int y_point, bool gif_combined, bool pdf_combined) const {
  Prepared p;
  try {
    // Our own temporaries are refused when committed; nothing to make.
    if (platform::IsOurTemporary(FileNameOf(source))) return p;
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Graphic> graphic = loader_.LoadFile(source, DecodeAsked(settings), settings.V_metadata);
    p.warnings = graphic->Warnings();
    LoadedPicture loaded = TakeLoaded(*graphic, settings);
    graphic.reset();
    p.picture = PreparePicture(std::move(loaded), settings, x_point, y_point, loader_.Limits());
    p.decode_ms = MillisecondsSince(started);
    const auto encoding = std::chrono::steady_clock::now();
    const WriterContext context{settings, picked, p.picture.frame, p.picture.extras};
    p.bytes.resize(writers_.size());
    p.encode_errors.resize(writers_.size());
    for (size_t k = 0; k < writers_.size(); ++k) {
      const FormatWriter& writer = writers_[k];
      if (!writer.ticked(settings) || !writer.encode) continue;
      if ((writer.extension == "gif" && gif_combined) || (writer.extension == "pdf" && pdf_combined)) continue;
      try {
        StringSink out(spare_strings_.Take());
        writer.encode(p.picture.image, context, out);
        p.bytes[k] = out.Take();
      } catch (...) {
        p.encode_errors[k] = std::current_exception();
      }
    }
    p.encode_ms = MillisecondsSince(encoding);
    // The sizes stay for the report when the pixels go.
    if (!gif_combined && !pdf_combined) {
      const int w = p.picture.image.Width(), h = p.picture.image.Height();
      p.picture.image = DibImage();
      p.out_width = w, p.out_height = h;
    }
  } catch (...) {
    p.error = std::current_exception();
  }
  return p;
}

}  // namespace velmora
