#include "qt_transfer_timer.h"

#include <cmath>
#include <utility>

namespace duo {

QtTransferTimer::QtTransferTimer() {
  m_timer.setSingleShot(true);
  QObject::connect(&m_timer, &QTimer::timeout, [this] {
    // The callback may arm the timer again, or end the object that owns this timer.
    auto callback = std::exchange(m_callback, nullptr);
    if (callback) callback();
  });
}

void QtTransferTimer::start(double seconds, std::function<void()> callback) {
  m_callback = std::move(callback);
  m_timer.start(int(std::lround(std::max(0.0, seconds) * 1000.0)));
}

void QtTransferTimer::cancel() {
  m_timer.stop();
  m_callback = nullptr;
}

}  // namespace duo
