#include "pipeline/jobs_budget.h"

#include <algorithm>
#include <utility>

namespace velmora {
namespace {

constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kWaitFrom = 4 * kMiB;
// What a job holds beyond its pictures and encoders: buffers, tables.
constexpr size_t kPerJob = 20 * kMiB;

}  // namespace

JobsBudget::JobsBudget(int jobs, int64_t memory_limit)
    : jobs_(static_cast<size_t>(std::max(jobs, 1))), memory_limit_(static_cast<size_t>(std::max<int64_t>(memory_limit, 0))) {}

JobsBudget::Share JobsBudget::Start(size_t index) { return Share(this, index); }

JobsBudget::Share::Share(Share&& other) noexcept
    : budget_(std::exchange(other.budget_, nullptr)),
      index_(other.index_),
      reserved_(other.reserved_),
      holding_(other.holding_) {}

JobsBudget::Share& JobsBudget::Share::operator=(Share&& other) noexcept {
  if (this != &other) {
    if (budget_) End(0);
    budget_ = std::exchange(other.budget_, nullptr);
    index_ = other.index_;
    reserved_ = other.reserved_;
    holding_ = other.holding_;
  }
  return *this;
}

JobsBudget::Share::~Share() {
  if (budget_) End(0);
}

void JobsBudget::Share::Need(size_t bytes) {
  if (!budget_ || bytes <= reserved_) return;
  JobsBudget& b = *budget_;
  std::unique_lock lock(b.mutex_);
  b.largest_ = std::max(b.largest_, bytes);
  if (!holding_) {
    // Small pictures never wait.
    if (bytes >= kWaitFrom)
      b.room_.wait(lock, [&] {
        return b.open_ || (index_ == b.admitted_ && (b.used_ + bytes <= b.Limit() || index_ <= b.next_));
      });
    b.Pass(index_);
    holding_ = true;
  }
  b.used_ += bytes - reserved_;
  reserved_ = bytes;
}

void JobsBudget::Share::End(size_t held) {
  if (!budget_) return;
  JobsBudget& b = *std::exchange(budget_, nullptr);
  std::lock_guard lock(b.mutex_);
  if (!holding_) b.Pass(index_);
  b.used_ = b.used_ - std::min(b.used_, reserved_) + held;
  b.room_.notify_all();
}

void JobsBudget::Committed(size_t index, size_t held) {
  std::lock_guard lock(mutex_);
  used_ -= std::min(used_, held);
  next_ = index + 1;
  room_.notify_all();
}

void JobsBudget::Open() {
  std::lock_guard lock(mutex_);
  open_ = true;
  room_.notify_all();
}

size_t JobsBudget::Used() {
  std::lock_guard lock(mutex_);
  return used_;
}

size_t JobsBudget::Limit() const {
  // What N single jobs of the largest source so far would hold, each with
  // some room of its own, within the memory limit; a source that alone
  // passes the limit still runs, alone.
  const size_t one = largest_ + kPerJob;
  return std::min(jobs_ * one, std::max(memory_limit_, one));
}

void JobsBudget::Pass(size_t index) {
  passed_.insert(index);
  while (passed_.erase(admitted_)) ++admitted_;
  room_.notify_all();
}

}  // namespace velmora
