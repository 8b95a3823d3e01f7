#include "qt_transfer_timer.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace duo {

QtTransferTimer::QtTransferTimer() {
  m_timer.setSingleShot(true);
  m_timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&m_timer, &QTimer::timeout, [this] {
    // Taken out first: the callback may arm the timer again.
    auto callback = std::exchange(m_callback, nullptr);
    if (callback) callback();
  });
}

void QtTransferTimer::start(double seconds, std::function<void()> callback) {
  m_callback = std::move(callback);
  m_timer.start(static_cast<int>(std::lround(std::clamp(seconds, 0.0, 86400.0) * 1000.0)));
}

void QtTransferTimer::cancel() {
  m_timer.stop();
  m_callback = nullptr;
}

}  // namespace duo
