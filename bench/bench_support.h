#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>

namespace duo::bench {

/// Runs the event loop until `done` holds (checked after every batch of events) or 60 s pass.
inline void spinUntil(const std::function<bool()>& done) {
  QElapsedTimer limit;
  limit.start();
  while (!done() && limit.elapsed() < 60000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace duo::bench
