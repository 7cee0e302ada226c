// The memory of the sources being made at once, so that --jobs N holds no
// more than N single jobs would, and never more than the memory limit
// unless one source alone needs it (it then runs by itself).
//
// A job tells its share what it will need once its decoder knows the
// picture's size (the picture, its prepared copy and the largest encoder's
// memory, as the output descriptors state it). The first such need waits
// while the others hold too much; a job already holding its room never
// waits (it would wait on itself), and neither does the source next in line
// to be committed, so the batch always moves on. Jobs take their room in
// the batch's order, so that a later source cannot take the room an earlier
// one then has to overrun.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>

namespace velmora {

class JobsBudget {
 public:
  JobsBudget(int jobs, int64_t memory_limit);

  // One source's room, held by the job that makes it.
  class Share {
   public:
    Share() = default;
    Share(Share&& other) noexcept;
    Share& operator=(Share&& other) noexcept;
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;
    // Ends with nothing held, if End was not called.
    ~Share();
    // The job needs bytes in all from now on: the first call may wait for
    // room; a later, larger one only grows the room.
    void Need(size_t bytes);
    // The job is done; held: what stays until its source is committed
    // (encoded files in memory, a picture for a combined output).
    void End(size_t held);

   private:
    friend class JobsBudget;
    Share(JobsBudget* budget, size_t index) : budget_(budget), index_(index) {}
    JobsBudget* budget_ = nullptr;
    size_t index_ = 0;
    size_t reserved_ = 0;
    bool holding_ = false;
  };

  // The source at index (its place in the group) starts.
  Share Start(size_t index);
  // The source at index was committed; what it held is given back.
  void Committed(size_t index, size_t held);
  // No job waits any more: the group ends, committed or not.
  void Open();
  // What is counted now, for tests.
  size_t Used();

 private:
  size_t Limit() const;
  // The source at index has taken its room, or ended without any.
  void Pass(size_t index);

  const size_t jobs_;
  const size_t memory_limit_;
  std::mutex mutex_;
  std::condition_variable room_;
  size_t used_ = 0, largest_ = 0;
  size_t next_ = 0;          // the source next in line to be committed
  size_t admitted_ = 0;      // every source before it has passed
  std::set<size_t> passed_;  // passed out of order
  bool open_ = false;
};

}  // namespace velmora
