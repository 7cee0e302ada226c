#include "pipeline/jobs_budget.h"

#include <algorithm>

namespace velmora {
namespace {

constexpr size_t kMiB = size_t{1} << 20;

// The job running on this thread.
thread_local size_t t_index = 0;
thread_local size_t t_reserved = 0;  // room for its outputs
thread_local size_t t_largest = 0;   // its largest picture
thread_local bool t_holding = false;

}  // namespace

void JobsBudget::StartJob(size_t index) {
  t_index = index;
  t_holding = false;
  t_reserved = t_largest = 0;
  SetThreadPixelBudget(this);
}

void JobsBudget::EndJob(size_t encoded) {
  SetThreadPixelBudget(nullptr);
  std::lock_guard lock(mutex_);
  if (!t_holding) Pass(t_index);
  used_ = used_ - std::min(used_, t_reserved) + encoded;
  if (t_largest > 0) ratio_ = static_cast<double>(encoded) / static_cast<double>(t_largest);
  room_.notify_all();
}

void JobsBudget::Committed(size_t index, size_t encoded) {
  std::lock_guard lock(mutex_);
  used_ -= std::min(used_, encoded);
  next_ = index + 1;
  room_.notify_all();
}

void JobsBudget::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
  room_.notify_all();
}

void JobsBudget::Acquire(size_t bytes) {
  std::unique_lock lock(mutex_);
  largest_ = std::max(largest_, bytes);
  t_largest = std::max(t_largest, bytes);
  if (!t_holding) {
    const size_t outputs = static_cast<size_t>(static_cast<double>(bytes) * ratio_);
    room_.wait(lock, [&] {
      return open_ || (t_index == admitted_ && (used_ + bytes + outputs <= Limit() || t_index <= next_));
    });
    Pass(t_index);
    t_holding = true;
    t_reserved = outputs;
    used_ += outputs;
  }
  used_ += bytes;
}

void JobsBudget::Release(size_t bytes) {
  std::lock_guard lock(mutex_);
  used_ -= std::min(used_, bytes);
  room_.notify_all();
}

size_t JobsBudget::Used() {
  std::lock_guard lock(mutex_);
  return used_;
}

size_t JobsBudget::Limit() const { return jobs_ * (largest_ + largest_ / 5 + 20 * kMiB); }

void JobsBudget::Pass(size_t index) {
  passed_.insert(index);
  while (passed_.erase(admitted_)) ++admitted_;
  room_.notify_all();
}

}  // namespace velmora
