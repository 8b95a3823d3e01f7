#include "core/work_queue.h"

#include <algorithm>

namespace duo {

WorkQueue::WorkQueue(int threads) {
  const int count = std::max(1, threads);
  m_threads.reserve(count);
  for (int i = 0; i < count; ++i) m_threads.emplace_back([this] { run(); });
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
  {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
  }
  m_wake.notify_one();
}

void WorkQueue::waitUntilIdle() {
  std::unique_lock lock(m_mutex);
  m_idle.wait(lock, [this] { return m_tasks.empty() && m_running == 0; });
}

void WorkQueue::run() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    // Posted tasks run even while stopping, so the destructor drains the queue.
    m_wake.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
    if (m_tasks.empty()) return;
    auto task = std::move(m_tasks.front());
    m_tasks.pop_front();
    ++m_running;
    lock.unlock();
    task();
    lock.lock();
    --m_running;
    if (m_tasks.empty() && m_running == 0) m_idle.notify_all();
  }
}

}  // namespace duo
