#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <utility>

namespace duo {

/// Runs `work` on the global thread pool at low priority and hands its result to `then` on
/// the main thread, from the event loop; nothing is delivered once `context` is gone. `work`
/// must not touch `context`.
template <typename Work, typename Then>
void runInBackground(QObject* context, Work work, Then then) {
  QPointer<QObject> guard(context);
  QThreadPool::globalInstance()->start(
      [guard, work = std::move(work), then = std::move(then)]() mutable {
        auto result = work();
        // Posted to the application object, which outlives every context: `context` itself may
        // be going away on its own thread while this one runs.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, then = std::move(then), result = std::move(result)]() mutable {
              if (guard) then(std::move(result));
            },
            Qt::QueuedConnection);
      },
      QThread::LowPriority);
}

}  // namespace duo
