#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUrlQuery>

#include <memory>

class QHttpMultiPart;
class QNetworkAccessManager;

namespace duo {

class HttpRequest;
struct HttpResponse;

/// An HTTP client rooted at the Graph API: every path is resolved against the root, every
/// request carries the client's headers ("Accept", and "Authorization" once signed in). A
/// request's HttpRequest is the caller's to listen to; the client deletes it after its answer.
/// An answer that rejects the token itself is also reported through tokenRejected().
class FacebookGraphClient : public QObject {
  Q_OBJECT

 public:
  /// `network` (not owned) must outlive the client.
  FacebookGraphClient(QNetworkAccessManager* network, QUrl baseUrl, int timeoutMs,
                      QObject* parent = nullptr);
  ~FacebookGraphClient() override;

  QUrl baseUrl() const { return m_baseUrl; }
  /// Sets a header for every later request; an empty value removes it.
  void setDefaultHeader(const QByteArray& name, const QByteArray& value);
  QByteArray defaultHeader(const QByteArray& name) const;

  HttpRequest* get(const QString& path, const QUrlQuery& query = {});
  /// POST of a form ("application/x-www-form-urlencoded").
  HttpRequest* postForm(const QString& path, const QUrlQuery& form);
  /// POST of a multipart body (taken over), streamed as it goes out.
  HttpRequest* postMultipart(const QString& path, std::unique_ptr<QHttpMultiPart> body);

  /// Stops every request under way; none of them reports anything.
  void cancelAllOperations();
  int operationCount() const;

 signals:
  /// The service refused the token of a request (expired, revoked).
  void tokenRejected();

 private:
  QNetworkRequest requestFor(const QString& path, const QUrlQuery& query) const;
  HttpRequest* track(HttpRequest* request);

  QNetworkAccessManager* m_network;
  QUrl m_baseUrl;
  int m_timeoutMs;
  QList<QPair<QByteArray, QByteArray>> m_headers;
  QList<QPointer<HttpRequest>> m_requests;
};

}  // namespace duo
