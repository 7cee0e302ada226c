// Several sources at once: each is loaded, prepared and encoded on a worker
// while the batch's thread commits the ones before it, in order, as one job
// would have.
#include <algorithm>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <set>

#include "base/paths.h"
#include "base/string_sink.h"
#include "image/pixel_memory.h"
#include "pipeline/converter.h"
#include "pipeline/worker_pool.h"
#include "platform/platform.h"

namespace velmora {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// The memory of the sources being made at once, so that --jobs N takes no
// more than N single jobs would: each job one picture at 1.2 times its
// pixels and 20 MB, sized by the largest picture of the group so far. A
// job's first picture waits while the others hold too much; a job that
// holds a picture never waits (it would wait on itself), and neither does
// the source next in line, so the batch always moves on. Jobs take their
// first pictures in the batch's order, so that a later source cannot take
// the room an earlier one then has to overrun. A job reserves
// room for its outputs too, in the proportion the last finished source's
// outputs took to its picture (all of it, at first), since they are
// encoded into memory while the picture is still held.
class JobsBudget : public PixelBudget {
 public:
  explicit JobsBudget(int jobs) : jobs_(static_cast<size_t>(jobs)) {}

  void StartJob(size_t index) {
    t_index = index;
    t_holding = false;
    t_reserved = t_largest = 0;
    SetThreadPixelBudget(this);
  }
  // The job is done; its encoded files stay counted until committed.
  void EndJob(size_t encoded) {
    SetThreadPixelBudget(nullptr);
    std::lock_guard lock(mutex_);
    if (!t_holding) Pass(t_index);
    used_ = used_ - std::min(used_, t_reserved) + encoded;
    if (t_largest > 0) ratio_ = static_cast<double>(encoded) / static_cast<double>(t_largest);
    room_.notify_all();
  }
  // No job waits any more: the group ends, committed or not.
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    room_.notify_all();
  }
  // The source at index was committed and its encoded files written.
  void Committed(size_t index, size_t encoded) {
    std::lock_guard lock(mutex_);
    used_ -= std::min(used_, encoded);
    next_ = index + 1;
    room_.notify_all();
  }

  void Acquire(size_t bytes) override {
    std::unique_lock lock(mutex_);
    largest_ = std::max(largest_, bytes);
    t_largest = std::max(t_largest, bytes);
    if (!t_holding) {
      const size_t outputs = static_cast<size_t>(static_cast<double>(bytes) * ratio_);
      room_.wait(lock, [&] { return open_ || (t_index == admitted_ && (used_ + bytes + outputs <= Limit() || t_index <= next_)); });
      Pass(t_index);
      t_holding = true;
      t_reserved = outputs;
      used_ += outputs;
    }
    used_ += bytes;
  }
  void Release(size_t bytes) override {
    std::lock_guard lock(mutex_);
    used_ -= std::min(used_, bytes);
    room_.notify_all();
  }

 private:
  size_t Limit() const { return jobs_ * (largest_ + largest_ / 5 + 20 * kMiB); }
  // The source at index has taken its first picture, or ended without one.
  void Pass(size_t index) {
    passed_.insert(index);
    while (passed_.erase(admitted_)) ++admitted_;
    room_.notify_all();
  }

  static thread_local size_t t_index, t_reserved, t_largest;
  static thread_local bool t_holding;
  const size_t jobs_;
  std::mutex mutex_;
  std::condition_variable room_;
  size_t used_ = 0, largest_ = 0, next_ = 0;
  size_t admitted_ = 0;       // every source before it has passed
  bool open_ = false;
  std::set<size_t> passed_;  // passed out of order
  double ratio_ = 1.0;
};

thread_local size_t JobsBudget::t_index = 0, JobsBudget::t_reserved = 0, JobsBudget::t_largest = 0;
thread_local bool JobsBudget::t_holding = false;

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
        Prepared p = PrepareAside(file, snapshot, picked, x_point, y_point, gif_combined, pdf_combined);
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
