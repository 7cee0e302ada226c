#include "app/gui/batch_runner.h"

#include <QCoreApplication>
#include <QThread>

namespace velmora::gui {

BatchRunner::BatchRunner(UserInterface& window, Clipboard* clipboard, const Settings& settings, const Loader& loader,
                         QObject* parent)
    : QObject(parent),
      window_(window),
      clipboard_(clipboard),
      window_settings_(settings),
      batch_settings_(settings),
      session_(std::make_unique<BatchSession>(batch_settings_, static_cast<UserInterface&>(*this),
                                              clipboard ? static_cast<Clipboard*>(this) : nullptr, loader)) {
  thread_ = std::thread([this] { Work(); });
}

BatchRunner::~BatchRunner() { Shutdown(); }

void BatchRunner::RunBatch(std::vector<std::string> entries) { Queue(Job{window_settings_, false, std::move(entries)}); }

void BatchRunner::CaptureClipboard() { Queue(Job{window_settings_, true, {}}); }

void BatchRunner::Queue(Job job) {
  if (closing_) return;
  ++pending_;
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(job));
  wake_.notify_one();
}

void BatchRunner::Work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return quit_ || !jobs_.empty(); });
      if (quit_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    // The combined outputs' name belongs to the order dialog, which only the
    // batch changes: it carries over from the batch before.
    job.settings.C_multi_fn = batch_settings_.C_multi_fn;
    job.settings.multi_outfile = batch_settings_.multi_outfile;
    batch_settings_ = std::move(job.settings);
    if (job.clipboard)
      session_->CaptureClipboard();
    else
      session_->RunBatch(std::move(job.entries));
    Post([this] {
      if (--pending_ > 0) return;
      // A stop pressed as the batch ended must not stop the next one.
      session_->ClearStop();
      if (on_idle_) on_idle_();
      emit Idle();
    });
  }
}

void BatchRunner::StopForClosing() {
  closing_ = true;
  session_->RequestStop();
  std::lock_guard lock(mutex_);
  pending_ -= static_cast<int>(jobs_.size());
  jobs_.clear();
}

void BatchRunner::Shutdown() {
  if (!thread_.joinable()) return;
  StopForClosing();
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_one();
  }
  thread_.join();
}

template <typename T>
T BatchRunner::Ask(std::function<T()> f, T unseen) const {
  if (QThread::currentThread() == thread()) return f();
  struct Exchange {
    std::atomic<bool> started{false};
    std::promise<T> answer;
  };
  auto exchange = std::make_shared<Exchange>();
  std::future<T> answer = exchange->answer.get_future();
  Post([this, exchange, f = std::move(f), unseen] {
    exchange->started = true;
    exchange->answer.set_value(closing_ ? unseen : f());
  });
  // A window that closes before the question is put answers it unseen.
  while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
    if (closing_ && !exchange->started) return unseen;
  return answer.get();
}

void BatchRunner::Post(std::function<void()> f) const {
  QMetaObject::invokeMethod(const_cast<BatchRunner*>(this), std::move(f), Qt::QueuedConnection);
}

// --- what the batch shows: queued, in order -----------------------------------
// Once the window closes nothing more is shown, and every question is
// answered "no" without being asked.

void BatchRunner::SetStatusText(const std::string& text) { Show(&UserInterface::SetStatusText, text); }
void BatchRunner::SetDropCaption(const std::string& text) { Show(&UserInterface::SetDropCaption, text); }
void BatchRunner::ShowProgress(bool visible) { Show(&UserInterface::ShowProgress, visible); }
void BatchRunner::SetProgressMax(int max) { Show(&UserInterface::SetProgressMax, max); }
void BatchRunner::SetProgressPosition(int position) { Show(&UserInterface::SetProgressPosition, position); }
void BatchRunner::StepProgress() { Show(&UserInterface::StepProgress); }
// The window's thread serves its own events now.
void BatchRunner::ProcessPendingEvents() {}
void BatchRunner::ClearResults() { Show(&UserInterface::ClearResults); }
void BatchRunner::SetResults(const std::vector<std::string>& lines) { Show(&UserInterface::SetResults, lines); }
void BatchRunner::LogFailure(const std::string& source, const std::string& reason) {
  Show(&UserInterface::LogFailure, source, reason);
}
void BatchRunner::ResultLine(const std::string& line) { Show(&UserInterface::ResultLine, line); }
void BatchRunner::LogWarning(const std::string& source, const std::string& text) {
  Show(&UserInterface::LogWarning, source, text);
}
void BatchRunner::OutputSkipped(const std::string& source, const std::string& path) {
  Show(&UserInterface::OutputSkipped, source, path);
}
void BatchRunner::SourceDone(const SourceReport& report) { Show(&UserInterface::SourceDone, report); }

// --- what the batch asks: the worker waits for the answer ---------------------

void BatchRunner::ShowMessage(MessageKind kind, const std::string& text) {
  Ask<bool>([&] {
    window_.ShowMessage(kind, text);
    return true;
  }, false);
}

bool BatchRunner::ConfirmOverwrite(const std::string& text) {
  return Ask<bool>([&] { return window_.ConfirmOverwrite(text); }, false);
}

void BatchRunner::RunOrderDialog(OrderDialogData& data) {
  // The rows come back changed only when the dialog was shown.
  std::optional<OrderDialogData> shown = Ask<std::optional<OrderDialogData>>(
      [&] {
        OrderDialogData copy = data;
        window_.RunOrderDialog(copy);
        return std::optional<OrderDialogData>(std::move(copy));
      },
      std::nullopt);
  if (shown) data = std::move(*shown);
}

std::optional<PickerClick> BatchRunner::PickTransparent(const Bitmap& loaded) {
  return Ask<std::optional<PickerClick>>([&] { return window_.PickTransparent(loaded); }, std::nullopt);
}

std::string BatchRunner::StatusText() const {
  return Ask<std::string>([&] { return window_.StatusText(); }, std::string());
}

bool BatchRunner::HasBitmap() {
  return Ask<bool>([&] { return clipboard_->HasBitmap(); }, false);
}

std::vector<uint32_t> BatchRunner::Formats() {
  return Ask<std::vector<uint32_t>>([&] { return clipboard_->Formats(); }, {});
}

std::vector<uint8_t> BatchRunner::Data(uint32_t format) {
  return Ask<std::vector<uint8_t>>([&] { return clipboard_->Data(format); }, {});
}

}  // namespace velmora::gui
