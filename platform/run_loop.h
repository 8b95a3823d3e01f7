#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace duo {

/// Where the main run loop's delayed work is scheduled. The application uses the Qt event loop;
/// tests install a ManualClock and move time forward themselves, so nothing sleeps.
class RunLoopClock {
 public:
  using Task = std::function<void()>;
  virtual ~RunLoopClock() = default;
  /// Seconds on a monotonic clock.
  virtual double now() const = 0;
  /// Runs task on the main loop once `at` (in now() seconds) has come; returns a handle.
  virtual std::uint64_t schedule(double at, Task task) = 0;
  virtual void cancel(std::uint64_t handle) = 0;

  /// The clock in use (the Qt event loop unless a test installed another).
  static RunLoopClock& current();
  /// Installs a clock (not owned) or, with nullptr, goes back to the Qt event loop.
  static void install(RunLoopClock* clock);
};

/// Time that moves only when a test says so; due tasks run in the order of their times (and of
/// scheduling, for equal times) inside advance().
class ManualClock : public RunLoopClock {
 public:
  double now() const override { return m_now; }
  std::uint64_t schedule(double at, Task task) override;
  void cancel(std::uint64_t handle) override;
  /// Moves time forward by `seconds`, running every task that falls due on the way (also tasks
  /// scheduled by those tasks, if they fall due before the end).
  void advance(double seconds);
  std::size_t pendingTasks() const { return m_tasks.size(); }

 private:
  double m_now = 0;
  std::uint64_t m_next = 1;
  std::multimap<std::pair<double, std::uint64_t>, Task> m_tasks;
};

/// Runs `task` on the main loop after `delay` seconds (0: on the next turn of the loop).
void performAfterDelay(double delay, std::function<void()> task);

/// A timer in the main loop: fires once or repeatedly every `interval` seconds until
/// invalidated. Its fire date can be moved (a fade that restarts when the user touches).
class QSTimer {
 public:
  using Handler = std::function<void(QSTimer&)>;

  /// A scheduled timer; it fires first `interval` seconds from now. The run loop keeps it
  /// alive until it has fired for the last time or is invalidated.
  static std::shared_ptr<QSTimer> scheduledTimer(double interval, bool repeats, Handler handler);

  ~QSTimer();
  QSTimer(const QSTimer&) = delete;
  QSTimer& operator=(const QSTimer&) = delete;

  bool isValid() const { return m_valid; }
  /// Stops the timer for good; the handler is not called again. Safe from the handler itself.
  void invalidate();
  double fireDate() const { return m_fireDate; }
  /// Moves the next firing to `date` (seconds on the run loop's clock). Ignored once invalid.
  void setFireDate(double date);
  double interval() const { return m_interval; }

 private:
  QSTimer(double interval, bool repeats, Handler handler);
  void arm();
  void fire();

  double m_interval;
  bool m_repeats;
  Handler m_handler;
  bool m_valid = true;
  double m_fireDate = 0;
  std::uint64_t m_handle = 0;
  std::weak_ptr<QSTimer> m_self;
};

}  // namespace duo
