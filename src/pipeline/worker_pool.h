// A fixed set of threads that run the sources of a batch group. The threads
// live as long as the pool, so what an encoder keeps per thread (its scratch
// memory) serves file after file instead of being made again, page by page,
// for a fresh thread each time.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

class WorkerPool {
 public:
  explicit WorkerPool(int threads) {
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  }
  // Runs what was submitted to the end, then ends the threads.
  ~WorkerPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  template <typename T>
  std::future<T> Submit(std::function<T()> job) {
    auto task = std::make_shared<std::packaged_task<T()>>(std::move(job));
    std::future<T> result = task->get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back([task] { (*task)(); });
    }
    wake_.notify_one();
    return result;
  }

 private:
  void Work() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;  // closing, and nothing left
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      job();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace velmora
