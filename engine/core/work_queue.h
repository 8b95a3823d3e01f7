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
class WorkQueue {
 public:
  explicit WorkQueue(int threads);
  ~WorkQueue();

  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  void post(std::function<void()> task);

  /// Blocks until the queue is empty and no task is running.
  void waitUntilIdle();

 private:
  void run();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::deque<std::function<void()>> m_tasks;
  std::size_t m_running = 0;
  bool m_stopping = false;
  std::vector<std::thread> m_threads;
};

}  // namespace duo
