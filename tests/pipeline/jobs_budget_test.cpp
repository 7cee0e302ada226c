// The jobs' memory budget on threads of its own, with sizes only (no
// picture is made): who waits, for what, and that the batch moves on.
#include "pipeline/jobs_budget.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace velmora {
namespace {

using namespace std::chrono_literals;
constexpr size_t kMiB = size_t{1} << 20;
constexpr size_t kPicture = 100 * kMiB;

// Whether the flag comes up within two seconds (a loaded machine is slow).
bool Eventually(const std::atomic<bool>& flag) {
  for (int i = 0; i < 400 && !flag; ++i) std::this_thread::sleep_for(5ms);
  return flag;
}

TEST(JobsBudgetTest, SourcesTakeRoomInOrderAndTheNextInLineNeverWaits) {
  JobsBudget budget(2);
  // Source 1 comes first but waits for source 0, however much room there is.
  std::atomic<bool> one_has = false, zero_has = false;
  std::promise<void> one_end, zero_end;
  auto one = std::async(std::launch::async, [&] {
    budget.StartJob(1);
    budget.Acquire(kPicture);
    one_has = true;
    one_end.get_future().wait();
    budget.Release(kPicture);
    budget.EndJob(0);
  });
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(one_has);
  auto zero = std::async(std::launch::async, [&] {
    budget.StartJob(0);
    budget.Acquire(kPicture);
    zero_has = true;
    zero_end.get_future().wait();
    budget.Release(kPicture);
    budget.EndJob(kPicture);  // a BMP as big as its picture, not committed yet
  });
  // Two pictures with their outputs (reserved at 1:1 at first) pass the
  // limit of two jobs (2 x (1.2 x 100 + 20) MiB): source 1 still waits.
  EXPECT_TRUE(Eventually(zero_has));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(one_has);
  // Source 0 is done, its file held until committed: still no room.
  zero_end.set_value();
  zero.get();
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(one_has);
  EXPECT_EQ(budget.Used(), kPicture);
  // Committed: source 1 is next in line and goes on.
  budget.Committed(0, kPicture);
  EXPECT_TRUE(Eventually(one_has));
  one_end.set_value();
  one.get();
  EXPECT_EQ(budget.Used(), 0u);
}

TEST(JobsBudgetTest, AStoppedGroupLetsItsWaitingJobsRun) {
  JobsBudget budget(1);
  std::promise<void> zero_end;
  std::atomic<bool> two_has = false;
  auto zero = std::async(std::launch::async, [&] {
    budget.StartJob(0);
    budget.Acquire(kPicture);
    zero_end.get_future().wait();
    budget.Release(kPicture);
    budget.EndJob(0);
  });
  std::this_thread::sleep_for(20ms);
  // Source 1 never came (the stop came first); source 2 waits for it.
  auto two = std::async(std::launch::async, [&] {
    budget.StartJob(2);
    budget.Acquire(kMiB * 8);
    two_has = true;
    budget.Release(kMiB * 8);
    budget.EndJob(0);
  });
  EXPECT_EQ(two.wait_for(50ms), std::future_status::timeout);
  budget.Open();
  EXPECT_EQ(two.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(two_has);
  zero_end.set_value();
  zero.get();
}

}  // namespace
}  // namespace velmora
