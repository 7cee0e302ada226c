// The memory of the sources being made at once, so that --jobs N takes no
// more than N single jobs would: each job one picture at 1.2 times its
// pixels and 20 MB, sized by the largest picture of the group so far.
//
// A job's first picture waits while the others hold too much; a job that
// holds a picture never waits (it would wait on itself), and neither does
// the source next in line to be committed, so the batch always moves on.
// Jobs take their first pictures in the batch's order, so that a later
// source cannot take the room an earlier one then has to overrun. A job
// reserves room for its outputs too, in the proportion the last finished
// source's outputs took to its picture (all of it, at first), since they
// are encoded into memory while the picture is still held.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>

#include "image/pixel_memory.h"

namespace velmora {

class JobsBudget : public PixelBudget {
 public:
  explicit JobsBudget(int jobs) : jobs_(static_cast<size_t>(jobs)) {}

  // On a worker: the source at index (its place in the group) starts; the
  // pictures this thread makes count from now on.
  void StartJob(size_t index);
  // On the same worker: the job is done; its encoded files stay counted
  // until committed.
  void EndJob(size_t encoded);
  // The source at index was committed and its encoded files written.
  void Committed(size_t index, size_t encoded);
  // No job waits any more: the group ends, committed or not.
  void Open();

  void Acquire(size_t bytes) override;
  void Release(size_t bytes) override;
  // What is counted now, for tests.
  size_t Used();

 private:
  size_t Limit() const;
  // The source at index has taken its first picture, or ended without one.
  void Pass(size_t index);

  const size_t jobs_;
  std::mutex mutex_;
  std::condition_variable room_;
  size_t used_ = 0, largest_ = 0;
  size_t next_ = 0;          // the source next in line to be committed
  size_t admitted_ = 0;      // every source before it has passed
  std::set<size_t> passed_;  // passed out of order
  bool open_ = false;
  double ratio_ = 1.0;  // outputs to picture, of the last source done
};

}  // namespace velmora
