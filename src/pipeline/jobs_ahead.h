// Sources made by a pool of jobs, up to one per job ahead of the one being
// committed, handed back in the batch's order. The pool, the futures and
// the memory budget are one object, so the order in which they end is
// written once: a stopped group lets the jobs still waiting for room run
// (and be dropped), the jobs started end, then the threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>

#include "pipeline/jobs_budget.h"
#include "pipeline/source_job.h"
#include "pipeline/worker_pool.h"

namespace velmora {

class JobsAhead {
 public:
  // make(index, share) makes the source at index on a worker, its memory
  // counted in share.
  JobsAhead(int jobs, int64_t memory_limit, size_t count,
            std::function<JobResult(size_t index, JobsBudget::Share& share)> make);
  ~JobsAhead();
  JobsAhead(const JobsAhead&) = delete;
  JobsAhead& operator=(const JobsAhead&) = delete;

  // The result of the next source in order, once made;
  // waiting() runs every few milliseconds meanwhile.
  JobResult Next(const std::function<void()>& waiting);
  // The source at index was committed; held: what its result kept.
  void Committed(size_t index, size_t held) { budget_.Committed(index, held); }

 private:
  void Launch();

  const size_t jobs_;
  const size_t count_;
  std::function<JobResult(size_t, JobsBudget::Share&)> make_;
  size_t launched_ = 0;
  // Declared first, it ends last: the jobs give their room back to it.
  JobsBudget budget_;
  std::deque<std::future<JobResult>> ahead_;
  // Declared last, it ends first, once every job it was given has ended.
  WorkerPool pool_;
};

}  // namespace velmora
