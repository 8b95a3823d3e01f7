#include "facebook_graph_client.h"

#include <QHttpMultiPart>
#include <QNetworkRequest>

#include "facebook_responses.h"
#include "http_request.h"

namespace duo {

FacebookGraphClient::FacebookGraphClient(QNetworkAccessManager* network, QUrl baseUrl,
                                         int timeoutMs, QObject* parent)
    : QObject(parent), m_network(network), m_baseUrl(std::move(baseUrl)), m_timeoutMs(timeoutMs) {}

FacebookGraphClient::~FacebookGraphClient() { cancelAllOperations(); }

void FacebookGraphClient::setDefaultHeader(const QByteArray& name, const QByteArray& value) {
  m_headers.removeIf([&](const auto& header) { return header.first == name; });
  if (!value.isEmpty()) m_headers.append({name, value});
}

QByteArray FacebookGraphClient::defaultHeader(const QByteArray& name) const {
  for (const auto& [key, value] : m_headers)
    if (key == name) return value;
  return {};
}

QNetworkRequest FacebookGraphClient::requestFor(const QString& path, const QUrlQuery& query) const {
  QUrl url = m_baseUrl.resolved(QUrl(path));
  if (!query.isEmpty()) url.setQuery(query);
  QNetworkRequest request(url);
  for (const auto& [name, value] : m_headers) request.setRawHeader(name, value);
  return request;
}

HttpRequest* FacebookGraphClient::track(HttpRequest* request) {
  request->setTimeout(m_timeoutMs);
  m_requests.removeAll(nullptr);
  m_requests.append(request);
  // Connected before the caller's own connection, so the client's session is closed by the
  // time the caller hears of the failure.
  connect(request, &HttpRequest::finished, this, [this, request](const HttpResponse& response) {
    request->deleteLater();
    m_requests.removeAll(request);
    if (response.outcome == HttpResponse::Outcome::Completed &&
        FacebookResponses::isTokenRejected(response.status, response.body))
      emit tokenRejected();
  });
  return request;
}

HttpRequest* FacebookGraphClient::get(const QString& path, const QUrlQuery& query) {
  auto* request = track(new HttpRequest(m_network, this));
  request->send("GET", requestFor(path, query));
  return request;
}

HttpRequest* FacebookGraphClient::postForm(const QString& path, const QUrlQuery& form) {
  auto* request = track(new HttpRequest(m_network, this));
  QNetworkRequest http = requestFor(path, {});
  http.setHeader(QNetworkRequest::ContentTypeHeader,
                 QByteArrayLiteral("application/x-www-form-urlencoded"));
  // QUrlQuery leaves "+" and "&" inside values alone; the form must not.
  QByteArray body;
  for (const auto& [key, value] : form.queryItems(QUrl::FullyDecoded)) {
    if (!body.isEmpty()) body += '&';
    body += QUrl::toPercentEncoding(key) + '=' + QUrl::toPercentEncoding(value);
  }
  request->send("POST", http, body);
  return request;
}

HttpRequest* FacebookGraphClient::postMultipart(const QString& path,
                                                std::unique_ptr<QHttpMultiPart> body) {
  auto* request = track(new HttpRequest(m_network, this));
  request->send("POST", requestFor(path, {}), std::move(body));
  return request;
}

void FacebookGraphClient::cancelAllOperations() {
  for (const QPointer<HttpRequest>& request : std::exchange(m_requests, {}))
    if (request) {
      request->cancel();
      request->deleteLater();
    }
}

int FacebookGraphClient::operationCount() const {
  int count = 0;
  for (const QPointer<HttpRequest>& request : m_requests)
    if (request && request->isRunning()) ++count;
  return count;
}

}  // namespace duo
