#include "avahi_qt_poll.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>

#include <algorithm>
#include <cstdint>

// Avahi declares these types opaque; each main-loop adapter defines them.
struct AvahiWatch {
  int fd = -1;
  AvahiWatchEvent wanted = AvahiWatchEvent(0);
  AvahiWatchEvent happened = AvahiWatchEvent(0);
  AvahiWatchCallback callback = nullptr;
  void* userdata = nullptr;
  QSocketNotifier* reader = nullptr;
  QSocketNotifier* writer = nullptr;
};

struct AvahiTimeout {
  QTimer* timer = nullptr;
  AvahiTimeoutCallback callback = nullptr;
  void* userdata = nullptr;
};

namespace duo {
namespace {

void fire(AvahiWatch* watch, AvahiWatchEvent event) {
  // Avahi may free the watch inside its callback: touch nothing after it.
  watch->happened = event;
  watch->callback(watch, watch->fd, event, watch->userdata);
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events) {
  watch->wanted = events;
  watch->reader->setEnabled(events & (AVAHI_WATCH_IN | AVAHI_WATCH_HUP | AVAHI_WATCH_ERR));
  watch->writer->setEnabled(events & AVAHI_WATCH_OUT);
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                     void* userdata) {
  auto* watch = new AvahiWatch;
  watch->fd = fd;
  watch->callback = callback;
  watch->userdata = userdata;
  watch->reader = new QSocketNotifier(fd, QSocketNotifier::Read);
  watch->writer = new QSocketNotifier(fd, QSocketNotifier::Write);
  QObject::connect(watch->reader, &QSocketNotifier::activated, watch->reader,
                   [watch] { fire(watch, AVAHI_WATCH_IN); });
  QObject::connect(watch->writer, &QSocketNotifier::activated, watch->writer,
                   [watch] { fire(watch, AVAHI_WATCH_OUT); });
  watchUpdate(watch, events);
  return watch;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch) { return watch->happened; }

void watchFree(AvahiWatch* watch) {
  // Called from inside a notifier's own signal at times, so the notifiers go later; disabled
  // now, they cannot fire for a freed watch.
  for (QSocketNotifier* notifier : {watch->reader, watch->writer}) {
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, nullptr, nullptr);
    notifier->deleteLater();
  }
  delete watch;
}

void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* tv) {
  if (!tv) {
    timeout->timer->stop();
    return;
  }
  // avahi_age() is how long ago `tv` was: negative for a time still ahead. Round up so that
  // the callback never runs before its time and gets re-armed for the remainder.
  const std::int64_t aheadUs = -avahi_age(tv);
  const std::int64_t ms = aheadUs <= 0 ? 0 : (aheadUs + 999) / 1000;
  timeout->timer->start(static_cast<int>(std::min<std::int64_t>(ms, INT32_MAX)));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const struct timeval* tv, AvahiTimeoutCallback callback,
                         void* userdata) {
  auto* timeout = new AvahiTimeout;
  timeout->callback = callback;
  timeout->userdata = userdata;
  timeout->timer = new QTimer;
  timeout->timer->setSingleShot(true);
  timeout->timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer,
                   [timeout] { timeout->callback(timeout, timeout->userdata); });
  timeoutUpdate(timeout, tv);
  return timeout;
}

void timeoutFree(AvahiTimeout* timeout) {
  timeout->timer->stop();
  QObject::disconnect(timeout->timer, nullptr, nullptr, nullptr);
  timeout->timer->deleteLater();
  delete timeout;
}

}  // namespace

AvahiQtPoll::AvahiQtPoll() {
  m_api.userdata = this;
  m_api.watch_new = watchNew;
  m_api.watch_update = watchUpdate;
  m_api.watch_get_events = watchGetEvents;
  m_api.watch_free = watchFree;
  m_api.timeout_new = timeoutNew;
  m_api.timeout_update = timeoutUpdate;
  m_api.timeout_free = timeoutFree;
}

}  // namespace duo
