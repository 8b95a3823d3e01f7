#pragma once

#include <avahi-common/watch.h>

namespace duo {

/// Avahi's main-loop interface on the Qt event loop: its watches become QSocketNotifiers and its
/// time-outs single-shot QTimers, so Avahi's callbacks run on the thread that created this
/// object, between other events, and nothing polls. Must outlive every Avahi object using it.
class AvahiQtPoll {
 public:
  AvahiQtPoll();
  AvahiQtPoll(const AvahiQtPoll&) = delete;
  AvahiQtPoll& operator=(const AvahiQtPoll&) = delete;

  const AvahiPoll* api() const { return &m_api; }

 private:
  AvahiPoll m_api{};
};

}  // namespace duo
