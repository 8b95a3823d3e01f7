#include "qs_data_source.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QWidget>

namespace duo {
namespace {

// Runs `call` on the main thread from its event loop, unless `source` is gone by then.
template <typename Call>
void postToMain(QSDataSource* source, Call call) {
  QPointer<QSDataSource> guard(source);
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [guard, call] {
        if (guard) call(guard.data());
      },
      Qt::QueuedConnection);
}

}  // namespace

QSDataSource::QSDataSource(QObject* parent) : QObject(parent) {}

QSDataSource::QSDataSource(int dataSourceType, const QImage& image, const QSizeF& size,
                           const QString& url, const QString& sourceURL, const QString& caption,
                           const QString& cacheIdentifier, QObject* parent)
    : QObject(parent),
      m_dataSourceType(dataSourceType),
      m_cacheIdentifier(cacheIdentifier),
      m_image(image),
      m_size(size),
      m_url(url),
      m_sourceURL(sourceURL),
      m_caption(caption) {}

QSDataSource::~QSDataSource() = default;

QString QSDataSource::cacheIdenfifier() const {
  return m_cacheIdentifier.isEmpty() ? QStringLiteral("default") : m_cacheIdentifier;
}

void QSDataSource::notifyDelegate(int status) {
  postToMain(this, [status](QSDataSource* source) {
    if (status == 1 || status == 2) source->m_lastUpdated = QDateTime::currentDateTime();
    if (source->m_delegate) source->m_delegate->itemsAreAvailable(source, status);
  });
}

void QSDataSource::notifyDelegateOfError(const QString& message, QWidget* customView) {
  QPointer<QWidget> view(customView);
  postToMain(this, [message, view, customView](QSDataSource* source) {
    if (!source->m_delegate) return;
    // A custom view that was destroyed meanwhile is not handed on.
    source->m_delegate->dataErrorOccurred(source, message, customView && !view ? nullptr : view.data());
  });
}

}  // namespace duo
