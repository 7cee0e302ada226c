// Several sources at once: each is loaded, prepared and encoded on a worker
// while the batch's thread commits the ones before it, in order, as one job
// would have.
#include <algorithm>
#include <chrono>
#include <deque>
#include <future>

#include "base/paths.h"
#include "base/string_sink.h"
#include "pipeline/converter.h"
#include "pipeline/jobs_budget.h"
#include "pipeline/worker_pool.h"
#include "platform/platform.h"

namespace velmora {
namespace {

// The least free space, whatever the outputs, for an encoded file to wait
// on disk for its commit.
constexpr uint64_t kPendingHeadroom = uint64_t{1} << 30;

}  // namespace

size_t Converter::Prepared::EncodedBytes() const {
  size_t n = 0;
  for (const std::string& b : bytes) n += b.size();
  return n;
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
  const NamingContext naming = naming_;
  const ColorValue picked = picked_color_;
  const int x_point = x_point_, y_point = y_point_;
  const bool gif_combined = animated_gif_ != nullptr, pdf_combined = combined_pdf_ != nullptr;
  // Before the futures: the pictures they hold are given back to it.
  JobsBudget budget(jobs_);
  std::deque<std::future<Prepared>> ahead;
  // Declared after the futures: it ends first, running what it was given.
  WorkerPool pool(jobs_);
  // After the pool: a stopped group lets the jobs still waiting for room
  // run (and be dropped) before the pool joins them.
  struct OpenAtEnd {
    JobsBudget& budget;
    ~OpenAtEnd() { budget.Open(); }
  } open_at_end{budget};
  size_t launched = 0;
  auto launch = [&] {
    while (launched < files.size() && ahead.size() < static_cast<size_t>(jobs_)) {
      ahead.push_back(pool.Submit<Prepared>([&, file = files[launched], index = launched] {
        budget.StartJob(index);
        Prepared p = PrepareAside(file, snapshot, naming, picked, x_point, y_point, gif_combined, pdf_combined);
        budget.EndJob(p.EncodedBytes());
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
    const size_t encoded = prepared.EncodedBytes();
    ConvertEntry(files[i], &prepared);
    budget.Committed(i, encoded);
    ui_.SetProgressPosition(static_cast<int>(first_position + i + 1));
  }
  // A stopped group lets the work already started end, and drops it.
  budget.Open();
  for (auto& f : ahead) f.wait();
}

Converter::Prepared Converter::PrepareAside(const std::string& source, const Settings& settings,
                                            const NamingContext& naming, ColorValue picked, int x_point, int y_point,
                                            bool gif_combined, bool pdf_combined) const {
  Prepared p;
  try {
    // Our own temporaries are refused when committed; nothing to make.
    if (platform::IsOurTemporary(FileNameOf(source))) return p;
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Graphic> graphic = loader_.LoadFile(source, DecodeAsked(settings));
    p.warnings = graphic->Warnings();
    LoadedPicture loaded = TakeLoaded(*graphic, settings);
    p.warnings.insert(p.warnings.end(), loaded.warnings.begin(), loaded.warnings.end());
    graphic.reset();
    p.picture = PreparePicture(std::move(loaded), settings, x_point, y_point, loader_.Limits());
    p.decode_ms = MillisecondsSince(started);
    const auto encoding = std::chrono::steady_clock::now();
    const WriterContext context{settings, picked, p.picture.frame, p.picture.extras};
    // Pending files fill the disk ahead of the commits; on a disk with
    // less room than all of them could take, the files wait in memory, so
    // that it fills in the batch's order and the same outputs fail as with
    // one job.
    size_t outputs = 0;
    for (const FormatWriter& writer : writers_) outputs += writer.ticked(settings) && writer.encode;
    const uint64_t room = std::max<uint64_t>(kPendingHeadroom, uint64_t{4} * static_cast<uint64_t>(jobs_) * outputs *
                                                                   (p.picture.image.ImageSize() + (64 << 10)));
    p.pending.resize(writers_.size());
    p.bytes.resize(writers_.size());
    p.encode_errors.resize(writers_.size());
    for (size_t k = 0; k < writers_.size(); ++k) {
      const FormatWriter& writer = writers_[k];
      if (!writer.ticked(settings) || !writer.encode) continue;
      if ((writer.extension == "gif" && gif_combined) || (writer.extension == "pdf" && pdf_combined)) continue;
      try {
        // Written where the output will most likely be named, the commit
        // only names it: no copy in memory, no second pass over the bytes.
        // Where it cannot be (a folder still to be made, a full disk, a file
        // system without unnamed files), it waits in memory, and the commit
        // meets any trouble where one job would.
        const std::string folder = FolderOf(OutputPathFor(settings, naming, source, writer.extension, false));
        if (!folder.empty()) {
          platform::PendingFile file(folder, room);
          if (file.Valid() && file.Write([&](std::ostream& out) { writer.encode(p.picture.image, context, out); })) {
            p.pending[k] = std::move(file);
            continue;
          }
        }
        // Room for as many bytes as the picture holds, which most files
        // never touch: reserved, not yet memory, and the file does not grow
        // by doubling (a copy, old and new held at once) on its way there.
        std::string room = spare_strings_.Take();
        room.reserve(p.picture.image.ImageSize() + (size_t{64} << 10));
        StringSink out(std::move(room));
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
