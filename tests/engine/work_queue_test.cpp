#include "core/work_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace duo {
namespace {

// Starts `allowed` threads, then refuses as a system out of threads does.
WorkQueue::ThreadStarter startingAtMost(int allowed) {
  return [allowed, started = 0](std::function<void()> body) mutable {
    if (started == allowed) throw std::system_error(EAGAIN, std::generic_category(), "refused");
    ++started;
    return std::thread(std::move(body));
  };
}

TEST(WorkQueue, ThrowingTasksAreCountedAndTheQueueGoesOn) {
  for (const int threads : {0, 1, 3}) {
    WorkQueue queue(3, startingAtMost(threads));
    std::atomic<int> done = 0;
    queue.post([] { throw std::runtime_error("disk full"); });
    for (int i = 0; i < 10; ++i) {
      queue.post([&done] { ++done; });
      if (i == 4) queue.post([] { throw 42; });
    }
    if (threads > 0) queue.waitUntilIdle();  // without threads, post() has run them all
    EXPECT_EQ(done, 10) << threads << " threads";
    EXPECT_EQ(queue.failedTaskCount(), 2u) << threads << " threads";
  }
}

TEST(WorkQueue, RefusedThreadsLeaveTheQueueWithThoseItHasOrNoneAndPostRunsTasksItself) {
  for (const int threads : {1, 0}) {
    WorkQueue queue(4, startingAtMost(threads));
    EXPECT_EQ(queue.threadCount(), threads);
    std::thread::id ranOn;
    queue.post([&ranOn] { ranOn = std::this_thread::get_id(); });
    if (threads > 0) queue.waitUntilIdle();
    EXPECT_EQ(ranOn == std::this_thread::get_id(), threads == 0);
  }
}

}  // namespace
}  // namespace duo
