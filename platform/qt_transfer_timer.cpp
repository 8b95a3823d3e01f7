#include "qt_transfer_timer.h"

#include <chrono>
#include <utility>

namespace duo {

QtTransferTimer::QtTransferTimer() {
  m_timer.setSingleShot(true);
  m_timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&m_timer, &QTimer::timeout, [this] {
    // Taken out first: the callback usually arms the timer again.
    std::function<void()> callback = std::exchange(m_callback, {});
    if (callback) callback();
  });
}

void QtTransferTimer::start(double seconds, std::function<void()> callback) {
  m_callback = std::move(callback);
  m_timer.start(std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0)));
}

void QtTransferTimer::cancel() {
  m_timer.stop();
  m_callback = {};
}

}  // namespace duo
