// The pipeline on a thread of its own, so that the window keeps painting,
// answering the stop button and taking drops however long a picture takes.
// Whatever the pipeline tells or asks the user goes to the window's thread:
// what it only shows is queued there in order, and a question (overwrite,
// order dialog, picker, a message box) waits for the user's answer. The
// window never waits for the batch: its end is the Idle signal, and a stop
// for closing is a state in which every question is answered "no" unseen.
#pragma once

#include <QObject>
#include <atomic>
#include <chrono>
#include <future>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "formats/loader.h"
#include "pipeline/batch_session.h"
#include "pipeline/ports.h"
#include "pipeline/settings.h"

namespace velmora::gui {

class BatchRunner : public QObject, private UserInterface, private Clipboard {
  Q_OBJECT

 public:
  // window and clipboard are used on the thread that makes the runner; the
  // settings are read there when each batch is queued.
  BatchRunner(UserInterface& window, Clipboard* clipboard, const Settings& settings, const Loader& loader,
              QObject* parent = nullptr);
  // Stops the running batch and waits for it.
  ~BatchRunner() override;

  // Set up before the first batch (jobs, writers); not while one runs.
  BatchSession& session() { return *session_; }

  // Queue a batch, or a clipboard capture, with the settings as they are
  // now; batches run one after another in the order queued.
  void RunBatch(std::vector<std::string> entries);
  void CaptureClipboard();
  // Stops the running batch before its next file.
  void RequestStop() { session_->RequestStop(); }
  // Whether anything queued has not finished yet.
  bool Busy() const { return pending_ > 0; }
  // Runs on the window's thread whenever the queue has run dry.
  void SetOnIdle(std::function<void()> on_idle) { on_idle_ = std::move(on_idle); }
  // Stops the running batch and drops the queued ones, for a window that is
  // closing: from now on the batch's questions are answered "no" without
  // being shown, nothing more is shown and nothing more is queued. Returns
  // at once; Idle comes when the batch has ended.
  void StopForClosing();
  // StopForClosing, then the thread ends (waiting for the file in hand:
  // only for a window already closed).
  void Shutdown();

 signals:
  // The queue has run dry (on the window's thread).
  void Idle();

 private:
  struct Job {
    Settings settings;
    bool clipboard = false;
    std::vector<std::string> entries;
  };
  void Queue(Job job);
  void Work();
  // f's answer from the window's thread; the caller waits for it, unless
  // the window is closing before f has started: then unseen.
  template <typename T>
  T Ask(std::function<T()> f, T unseen) const;
  // f on the window's thread, in order with everything else posted there.
  void Post(std::function<void()> f) const;
  // A call of the window's that only shows something, posted with copies
  // of its arguments; nothing is shown once the window closes.
  template <typename... Params, typename... Args>
  void Show(void (UserInterface::*call)(Params...), Args... args) {
    Post([this, call, args...] {
      if (!closing_) (window_.*call)(args...);
    });
  }

  // UserInterface, called on the worker thread.
  void ShowMessage(MessageKind kind, const std::string& text) override;
  bool ConfirmOverwrite(const std::string& text) override;
  void RunOrderDialog(OrderDialogData& data) override;
  std::optional<PickerClick> PickTransparent(const Bitmap& loaded) override;
  void SetStatusText(const std::string& text) override;
  std::string StatusText() const override;
  void SetDropCaption(const std::string& text) override;
  void ShowProgress(bool visible) override;
  void SetProgressMax(int max) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void ProcessPendingEvents() override;
  void ClearResults() override;
  void SetResults(const std::vector<std::string>& lines) override;
  void LogFailure(const std::string& source, const std::string& reason) override;
  void ResultLine(const std::string& line) override;
  void LogWarning(const std::string& source, const std::string& text) override;
  void OutputSkipped(const std::string& source, const std::string& path) override;
  void SourceDone(const SourceReport& report) override;

  // Clipboard, called on the worker thread.
  bool HasBitmap() override;
  std::vector<uint32_t> Formats() override;
  std::vector<uint8_t> Data(uint32_t format) override;

  UserInterface& window_;
  Clipboard* clipboard_;
  const Settings& window_settings_;
  // What the batch reads: a copy of the window's settings per batch.
  Settings batch_settings_;
  std::unique_ptr<BatchSession> session_;
  std::function<void()> on_idle_;
  int pending_ = 0;  // on the window's thread: queued and not yet finished

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool quit_ = false;
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace velmora::gui
