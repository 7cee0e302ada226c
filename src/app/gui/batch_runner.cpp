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
      if (!closing_ && on_idle_) on_idle_();
    });
  }
}

void BatchRunner::StopAndWait() {
  if (pending_ == 0) return;
  closing_ = true;
  session_->RequestStop();
  {
    std::lock_guard lock(mutex_);
    pending_ -= static_cast<int>(jobs_.size());
    jobs_.clear();
  }
  // The batch may be waiting for the window's thread (a question, whose
  // answer is now "no"): keep serving it until the batch has ended.
  while (pending_ > 0) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(2);
  }
  session_->ClearStop();
  closing_ = false;
}

void BatchRunner::Shutdown() {
  if (!thread_.joinable()) return;
  StopAndWait();
  closing_ = true;
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_one();
  }
  thread_.join();
}

void BatchRunner::OnWindowThread(const std::function<void()>& f) const {
  if (QThread::currentThread() == thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(const_cast<BatchRunner*>(this), f, Qt::BlockingQueuedConnection);
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
  OnWindowThread([&] {
    if (!closing_) window_.ShowMessage(kind, text);
  });
}

bool BatchRunner::ConfirmOverwrite(const std::string& text) {
  bool ok = false;
  OnWindowThread([&] { ok = !closing_ && window_.ConfirmOverwrite(text); });
  return ok;
}

void BatchRunner::RunOrderDialog(OrderDialogData& data) {
  OnWindowThread([&] {
    if (!closing_) window_.RunOrderDialog(data);
  });
}

std::optional<PickerClick> BatchRunner::PickTransparent(const Bitmap& loaded) {
  std::optional<PickerClick> click;
  OnWindowThread([&] {
    if (!closing_) click = window_.PickTransparent(loaded);
  });
  return click;
}

std::string BatchRunner::StatusText() const {
  std::string text;
  OnWindowThread([&] { text = window_.StatusText(); });
  return text;
}

bool BatchRunner::HasBitmap() {
  bool has = false;
  OnWindowThread([&] { has = !closing_ && clipboard_->HasBitmap(); });
  return has;
}

std::vector<uint32_t> BatchRunner::Formats() {
  std::vector<uint32_t> formats;
  OnWindowThread([&] {
    if (!closing_) formats = clipboard_->Formats();
  });
  return formats;
}

std::vector<uint8_t> BatchRunner::Data(uint32_t format) {
  std::vector<uint8_t> data;
  OnWindowThread([&] {
    if (!closing_) data = clipboard_->Data(format);
  });
  return data;
}

}  // namespace velmora::gui
