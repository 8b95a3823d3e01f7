#pragma once

#include <functional>

namespace duo::transfer {

/// A one-shot timer on the caller's event loop. The callback runs on that loop, never inside
/// start() or cancel().
class TransferTimer {
 public:
  virtual ~TransferTimer() = default;
  /// Arms the timer, replacing any callback still pending.
  virtual void start(double seconds, std::function<void()> callback) = 0;
  /// Drops the pending callback, if any.
  virtual void cancel() = 0;
};

}  // namespace duo::transfer
