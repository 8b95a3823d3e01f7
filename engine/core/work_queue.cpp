#include "core/work_queue.h"

#include <algorithm>
#include <system_error>

namespace duo {

WorkQueue::WorkQueue(int threads, ThreadStarter startThread) {
  const int count = std::max(1, threads);
  m_threads.reserve(count);
  for (int i = 0; i < count; ++i) {
    try {
      m_threads.push_back(startThread ? startThread([this] { run(); })
                                      : std::thread([this] { run(); }));
    } catch (const std::system_error&) {
      // Out of threads (EAGAIN under a process limit): fewer workers are slower, not wrong.
      break;
    }
  }
}

WorkQueue::~WorkQueue() {
  {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_wake.notify_all();
  for (auto& t : m_threads) t.join();
}

void WorkQueue::post(std::function<void()> task) {
  std::unique_lock lock(m_mutex);
  if (m_threads.empty()) {
    // No worker to hand it to: a task run late is better than one lost.
    runTask(task, lock);
    return;
  }
  m_tasks.push_back(std::move(task));
  lock.unlock();
  m_wake.notify_one();
}

void WorkQueue::waitUntilIdle() {
  std::unique_lock lock(m_mutex);
  m_idle.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
}

std::size_t WorkQueue::failedTaskCount() const {
  std::lock_guard lock(m_mutex);
  return m_failed;
}

void WorkQueue::runTask(std::function<void()>& task, std::unique_lock<std::mutex>& lock) {
  ++m_running;
  lock.unlock();
  bool failed = false;
  try {
    task();
  } catch (...) {
    // An exception escaping a thread ends the process; one failed task must not.
    failed = true;
  }
  task = nullptr;  // whatever it captured goes now, not when the next task replaces it
  lock.lock();
  if (failed) ++m_failed;
  --m_running;
  if (m_tasks.empty() && m_running == 0) m_idle.notify_all();
}

void WorkQueue::run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    // Posted tasks run even while stopping, so the destructor drains the queue.
    m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
    if (m_tasks.empty()) return;
    auto task = std::move(m_tasks.front());
    m_tasks.pop_front();
    runTask(task, lock);
  }
}

}  // namespace duo
