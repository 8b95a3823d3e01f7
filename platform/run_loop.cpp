#include "run_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cmath>
#include <unordered_map>

namespace duo {

namespace {

/// The Qt event loop: QTimer single shots on a context object, so a cancelled task is deleted
/// with its context and never runs.
class QtClock : public RunLoopClock {
 public:
  QtClock() { m_elapsed.start(); }
  double now() const override { return double(m_elapsed.nsecsElapsed()) / 1e9; }

  std::uint64_t schedule(double at, Task task) override {
    const std::uint64_t handle = m_next++;
    auto* context = new QObject;
    m_contexts.emplace(handle, context);
    const double delay = std::max(0.0, at - now());
    QTimer::singleShot(std::chrono::milliseconds(std::llround(delay * 1000)), context,
                       [this, handle, task = std::move(task)] {
                         finish(handle);
                         task();
                       });
    return handle;
  }

  void cancel(std::uint64_t handle) override { finish(handle); }

 private:
  void finish(std::uint64_t handle) {
    if (auto it = m_contexts.find(handle); it != m_contexts.end()) {
      it->second->deleteLater();
      m_contexts.erase(it);
    }
  }

  QElapsedTimer m_elapsed;
  std::uint64_t m_next = 1;
  std::unordered_map<std::uint64_t, QObject*> m_contexts;
};

RunLoopClock* g_installed = nullptr;

}  // namespace

RunLoopClock& RunLoopClock::current() {
  if (g_installed) return *g_installed;
  static QtClock qtClock;
  return qtClock;
}

void RunLoopClock::install(RunLoopClock* clock) { g_installed = clock; }

std::uint64_t ManualClock::schedule(double at, Task task) {
  const std::uint64_t handle = m_next++;
  m_tasks.emplace(std::make_pair(std::max(at, m_now), handle), std::move(task));
  return handle;
}

void ManualClock::cancel(std::uint64_t handle) {
  for (auto it = m_tasks.begin(); it != m_tasks.end(); ++it) {
    if (it->first.second == handle) {
      m_tasks.erase(it);
      return;
    }
  }
}

void ManualClock::advance(double seconds) {
  const double end = m_now + seconds;
  while (!m_tasks.empty() && m_tasks.begin()->first.first <= end) {
    auto it = m_tasks.begin();
    m_now = it->first.first;
    Task task = std::move(it->second);
    m_tasks.erase(it);
    task();
  }
  m_now = end;
}

void performAfterDelay(double delay, std::function<void()> task) {
  RunLoopClock& clock = RunLoopClock::current();
  clock.schedule(clock.now() + std::max(0.0, delay), std::move(task));
}

std::shared_ptr<QSTimer> QSTimer::scheduledTimer(double interval, bool repeats, Handler handler) {
  std::shared_ptr<QSTimer> timer(new QSTimer(interval, repeats, std::move(handler)));
  timer->m_self = timer;
  timer->m_fireDate = RunLoopClock::current().now() + timer->m_interval;
  timer->arm();
  return timer;
}

QSTimer::QSTimer(double interval, bool repeats, Handler handler)
    // A repeating timer with no interval would spin the loop; keep a floor like other
    // platforms' timers do.
    : m_interval(repeats ? std::max(interval, 1e-4) : std::max(interval, 0.0)),
      m_repeats(repeats),
      m_handler(std::move(handler)) {}

QSTimer::~QSTimer() {
  if (m_handle) RunLoopClock::current().cancel(m_handle);
}

void QSTimer::arm() {
  // The run loop keeps a scheduled timer alive until it has fired for the last time or is
  // invalidated, whether or not anyone else holds it.
  m_handle = RunLoopClock::current().schedule(m_fireDate, [timer = m_self.lock()] {
    if (timer) timer->fire();
  });
}

void QSTimer::fire() {
  m_handle = 0;
  if (!m_valid) return;
  if (!m_repeats) m_valid = false;
  m_handler(*this);
  if (m_valid && m_repeats && m_handle == 0) {
    // Firings missed while the loop was busy are skipped, not made up in a burst.
    const double now = RunLoopClock::current().now();
    m_fireDate += m_interval;
    if (m_fireDate <= now) m_fireDate += std::ceil((now - m_fireDate) / m_interval) * m_interval;
    if (m_fireDate <= now) m_fireDate += m_interval;
    arm();
  }
}

void QSTimer::invalidate() {
  m_valid = false;
  if (m_handle) {
    RunLoopClock::current().cancel(m_handle);
    m_handle = 0;
  }
}

void QSTimer::setFireDate(double date) {
  if (!m_valid) return;
  if (m_handle) RunLoopClock::current().cancel(m_handle);
  m_fireDate = date;
  arm();
}

}  // namespace duo
