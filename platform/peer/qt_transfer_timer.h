#pragma once

#include <QTimer>

#include <functional>

#include "transfer/transfer_timer.h"

namespace duo {

/// The transfer's one-shot timer on the Qt event loop of the creating thread.
class QtTransferTimer : public transfer::TransferTimer {
 public:
  QtTransferTimer();
  void start(double seconds, std::function<void()> callback) override;
  void cancel() override;
  bool isActive() const { return m_timer.isActive(); }

 private:
  QTimer m_timer;
  std::function<void()> m_callback;
};

}  // namespace duo
