// Parallel work on the pool's threads: every job runs once, in order where asked, and work started
// from inside a job finishes even when every thread of the pool is taken.
#include "platform/parallel.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>

namespace charstack {
namespace {

// Each outer job starts inner work while the outer jobs hold every thread of the pool: the inner
// work is done by the jobs' own threads rather than waiting for threads that never come.
TEST(Parallel, WorkStartedFromJobsFinishesWithThePoolTaken) {
  std::vector<std::atomic<int>> runs(8 * 100);
  parallelFor(
      8,
      [&](size_t outer) {
        parallelFor(
            100, [&](size_t i) { ++runs[outer * 100 + i]; }, 4);
      },
      8);
  for (size_t i = 0; i < runs.size(); ++i) ASSERT_EQ(runs[i], 1) << i;

  std::vector<size_t> consumed;
  parallelFor(
      4,
      [&](size_t outer) {
        std::vector<size_t> order;
        orderedPipeline(
            50, 3, 2, [](size_t) {}, [&](size_t i) { order.push_back(i); });
        EXPECT_EQ(order.size(), 50u) << outer;
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end())) << outer;
      },
      4);
}

// Items are consumed in order, each after its own prepare and never more than `ahead` items before
// its consume; what a prepare or a consume throws comes out of the call, after every thread is done.
TEST(Parallel, PipelineConsumesInOrderWithinItsLeadAndPassesOnExceptions) {
  constexpr size_t kCount = 300, kAhead = 3;
  std::vector<std::atomic<int>> prepared(kCount);
  std::atomic<size_t> consumedUpTo{0}, tooFarAhead{0};
  std::vector<size_t> order;
  orderedPipeline(
      kCount, 4, kAhead,
      [&](size_t i) {
        if (i >= consumedUpTo.load() + kAhead) ++tooFarAhead;
        ++prepared[i];
      },
      [&](size_t i) {
        EXPECT_EQ(prepared[i].load(), 1) << i;
        order.push_back(i);
        std::this_thread::sleep_for(std::chrono::microseconds(100));  // the workers run ahead
        consumedUpTo = i + 1;
      });
  EXPECT_EQ(tooFarAhead, 0u);
  ASSERT_EQ(order.size(), kCount);
  for (size_t i = 0; i < kCount; ++i) ASSERT_EQ(order[i], i);

  struct Case {
    const char* what;
    size_t throwingPrepare, throwingConsume;
  };
  for (const Case& c :
       {Case{"prepare", 17, kCount}, Case{"consume", kCount, 17}, Case{"first prepare", 0, kCount}}) {
    std::atomic<size_t> consumes{0};
    EXPECT_THROW(orderedPipeline(
                     kCount, 3, 4,
                     [&](size_t i) {
                       if (i == c.throwingPrepare) throw std::runtime_error(c.what);
                     },
                     [&](size_t i) {
                       if (i == c.throwingConsume) throw std::runtime_error(c.what);
                       ++consumes;
                     }),
                 std::runtime_error)
        << c.what;
    EXPECT_LE(consumes.load(), 17u) << c.what;
  }
  EXPECT_THROW(parallelFor(
                   100,
                   [](size_t i) {
                     if (i == 63) throw std::runtime_error("job");
                   },
                   3),
               std::runtime_error);
}

}  // namespace
}  // namespace charstack
