#include "pipeline/jobs_ahead.h"

#include <chrono>

namespace velmora {

JobsAhead::JobsAhead(int jobs, int64_t memory_limit, size_t count,
                     std::function<JobResult(size_t, JobsBudget::Share&)> make)
    : jobs_(static_cast<size_t>(jobs < 1 ? 1 : jobs)),
      count_(count),
      make_(std::move(make)),
      budget_(jobs, memory_limit),
      pool_(jobs < 1 ? 1 : jobs) {}

JobsAhead::~JobsAhead() {
  // A stopped group lets the work already started end, and drops it.
  budget_.Open();
  for (auto& f : ahead_) f.wait();
}

void JobsAhead::Launch() {
  while (launched_ < count_ && ahead_.size() < jobs_) {
    ahead_.push_back(pool_.Submit<JobResult>([this, index = launched_] {
      JobsBudget::Share share = budget_.Start(index);
      JobResult result = make_(index, share);
      share.End(result.Held());
      return result;
    }));
    ++launched_;
  }
}

JobResult JobsAhead::Next(const std::function<void()>& waiting) {
  Launch();
  std::future<JobResult> next = std::move(ahead_.front());
  ahead_.pop_front();
  // The window stays alive while the next source is still being made.
  while (next.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) waiting();
  Launch();
  return next.get();
}

}  // namespace velmora
