#include "http_request.h"

#include <QHttpMultiPart>
#include <QIODevice>
#include <QNetworkAccessManager>

namespace duo {

QByteArray HttpResponse::header(const QByteArray& name) const {
  for (const auto& [key, value] : headers)
    if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
  return {};
}

HttpRequest::HttpRequest(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager) {
  m_inactivity.setSingleShot(true);
  connect(&m_inactivity, &QTimer::timeout, this, &HttpRequest::onTimeout);
}

HttpRequest::~HttpRequest() { cancel(); }

void HttpRequest::send(const QByteArray& verb, QNetworkRequest request,
                       std::unique_ptr<QIODevice> body) {
  cancel();
  // Our own inactivity timer decides; Qt's transfer time-out would report as a plain abort.
  request.setTransferTimeout(0);
  QNetworkReply* reply = m_manager->sendCustomRequest(request, verb, body.get());
  // The reply reads the device until it is done with it, so the device lives as long as the
  // reply does.
  body.release()->setParent(reply);
  attach(reply);
}

void HttpRequest::send(const QByteArray& verb, QNetworkRequest request,
                       std::unique_ptr<QHttpMultiPart> body) {
  cancel();
  request.setTransferTimeout(0);
  QNetworkReply* reply = m_manager->sendCustomRequest(request, verb, body.get());
  // As with a device: the multipart is read while the reply sends, so it lives as long.
  body.release()->setParent(reply);
  attach(reply);
}

void HttpRequest::send(const QByteArray& verb, QNetworkRequest request, const QByteArray& body) {
  cancel();
  request.setTransferTimeout(0);
  attach(m_manager->sendCustomRequest(request, verb, body));
}

void HttpRequest::attach(QNetworkReply* reply) {
  m_reply = reply;
  m_body.clear();
  m_timedOut = false;
  m_tooLarge = false;
  ++m_generation;
  m_progressPending = false;
  connect(reply, &QNetworkReply::uploadProgress, this, [this](qint64 sent, qint64 total) {
    touch();
    m_sent = sent;
    m_total = total;
    if (m_progressPending) return;
    m_progressPending = true;
    QMetaObject::invokeMethod(
        this,
        [this, generation = m_generation] {
          m_progressPending = false;
          if (generation == m_generation && m_reply) emit uploadProgress(m_sent, m_total);
        },
        Qt::QueuedConnection);
  });
  connect(reply, &QNetworkReply::downloadProgress, this, &HttpRequest::touch);
  connect(reply, &QNetworkReply::readyRead, this, &HttpRequest::onReadyRead);
  connect(reply, &QNetworkReply::finished, this, &HttpRequest::onFinished);
  touch();
}

void HttpRequest::touch() {
  if (m_reply && m_timeoutMs > 0) m_inactivity.start(m_timeoutMs);
}

void HttpRequest::onReadyRead() {
  if (!m_reply) return;
  m_body += m_reply->readAll();
  if (m_body.size() > m_maximumResponseBytes) {
    m_tooLarge = true;
    m_reply->abort();  // finished() follows
  }
}

void HttpRequest::onTimeout() {
  if (!m_reply) return;
  m_timedOut = true;
  m_reply->abort();
}

void HttpRequest::cancel() {
  m_inactivity.stop();
  ++m_generation;
  if (QNetworkReply* reply = m_reply.data()) {
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
}

void HttpRequest::onFinished() {
  QNetworkReply* reply = m_reply.data();
  if (!reply) return;
  m_reply = nullptr;
  ++m_generation;
  m_inactivity.stop();
  reply->disconnect(this);
  reply->deleteLater();
  if (!m_tooLarge && !m_timedOut && reply->isOpen()) m_body += reply->readAll();

  HttpResponse response;
  response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  response.headers = reply->rawHeaderPairs();
  const QNetworkReply::NetworkError error = reply->error();
  // Codes below 100 are the connection's own failures; 4xx and 5xx answers (Qt's 200-499
  // range) are complete responses that the caller judges by their status.
  const bool connectionError = error != QNetworkReply::NoError && error < 100;
  if (m_timedOut) {
    response.outcome = HttpResponse::Outcome::TimedOut;
    response.errorText = QStringLiteral("The server did not answer in time.");
  } else if (m_tooLarge) {
    response.outcome = HttpResponse::Outcome::TooLarge;
    response.errorText = QStringLiteral("The server's answer was larger than expected.");
  } else if (connectionError || (error != QNetworkReply::NoError && response.status == 0)) {
    const bool started = response.status != 0 || error == QNetworkReply::RemoteHostClosedError;
    response.outcome =
        started ? HttpResponse::Outcome::Interrupted : HttpResponse::Outcome::ConnectionFailed;
    response.errorText = reply->errorString();
  } else {
    response.outcome = HttpResponse::Outcome::Completed;
    if (error != QNetworkReply::NoError) response.errorText = reply->errorString();
  }
  response.body = std::exchange(m_body, {});
  emit finished(response);
}

}  // namespace duo
