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

// A job on a thread of its own: it takes a picture (has comes up), holds it
// until end is set, then gives it back and ends with its encoded files.
std::future<void> Job(JobsBudget& budget, size_t index, size_t picture, size_t encoded, std::atomic<bool>& has,
                      std::shared_future<void> end) {
  return std::async(std::launch::async, [&budget, index, picture, encoded, &has, end] {
    JobsBudget::Share share = budget.Start(index);
    share.Need(picture);
    has = true;
    end.wait();
    share.End(encoded);
  });
}

TEST(JobsBudgetTest, SourcesTakeRoomInOrderAndTheNextInLineNeverWaits) {
  // Room for one and a half pictures: less than two jobs would take.
  JobsBudget budget(2, 150 * kMiB);
  // Source 1 comes first but waits for source 0, however much room there is.
  std::atomic<bool> one_has = false, zero_has = false;
  std::promise<void> one_end, zero_end;
  auto one = Job(budget, 1, kPicture, 0, one_has, one_end.get_future().share());
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(one_has);
  // A BMP as big as its picture, not committed yet.
  auto zero = Job(budget, 0, kPicture, kPicture, zero_has, zero_end.get_future().share());
  // Two pictures pass the memory limit: source 1 still waits.
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
  JobsBudget budget(1, int64_t{1} << 40);
  std::promise<void> zero_end, ended;
  ended.set_value();
  std::atomic<bool> zero_has = false, two_has = false;
  auto zero = Job(budget, 0, kPicture, 0, zero_has, zero_end.get_future().share());
  EXPECT_TRUE(Eventually(zero_has));
  // Source 1 never came (the stop came first); source 2 waits for it.
  auto two = Job(budget, 2, 8 * kMiB, 0, two_has, ended.get_future().share());
  EXPECT_EQ(two.wait_for(50ms), std::future_status::timeout);
  budget.Open();
  EXPECT_EQ(two.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(two_has);
  zero_end.set_value();
  zero.get();
}

}  // namespace
}  // namespace velmora
