#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace duo {

/// A small pool of worker threads running posted tasks in FIFO order of start (tasks may run
/// concurrently). The destructor finishes every task already posted.
///
/// A task that throws is counted in failedTaskCount() and dropped; the queue goes on. When the
/// system refuses a thread, the queue works with those it has; with none at all, post() runs each
/// task itself before returning.
class WorkQueue {
 public:
  /// Starts a thread running `body`, or throws std::system_error as std::thread does. Tests
  /// pass their own to see how the queue copes with refused threads.
  using ThreadStarter = std::function<std::thread(std::function<void()> body)>;

  /// Asks for max(1, threads) threads from `startThread` (by default std::thread itself).
  explicit WorkQueue(int threads, ThreadStarter startThread = {});
  ~WorkQueue();

  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  void post(std::function<void()> task);

  /// Blocks until the queue is empty and no task is running.
  void waitUntilIdle();

  /// Worker threads actually running.
  int threadCount() const { return static_cast<int>(m_threads.size()); }

  /// Tasks that ended with an exception so far.
  std::size_t failedTaskCount() const;

 private:
  void run();
  // Runs one task with the mutex released; called and returns with `lock` held.
  void runTask(std::function<void()>& task, std::unique_lock<std::mutex>& lock);

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_tasks;
  std::size_t m_running = 0;
  std::size_t m_failed = 0;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace duo
