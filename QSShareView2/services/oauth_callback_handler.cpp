#include "oauth_callback_handler.h"

#include <QCoreApplication>
#include <QNetworkReply>
#include <QOAuthHttpServerReplyHandler>
#include <QUrlQuery>

#include <algorithm>

#include "dropbox_responses.h"

namespace duo {

OAuthCallbackHandler::OAuthCallbackHandler(QUrl callbackUrl, QObject* parent)
    : QOAuthOobReplyHandler(parent), m_callbackUrl(std::move(callbackUrl)) {}

bool OAuthCallbackHandler::listenOnLoopback(quint16 port, const QString& path) {
  closeLoopback();
  // Bound to 127.0.0.1 only: nothing off the machine may deliver a sign-in code.
  auto* loopback =
      new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), port, this);
  if (!loopback->isListening()) {
    delete loopback;
    return false;
  }
  loopback->setCallbackPath(path);
  loopback->setCallbackText(QStringLiteral(
      "<html><body><p>Duoscope is signed in. You can close this page.</p></body></html>"));
  // The redirect is turned back into the URL the browser asked for, which goes the same way
  // as a callback the desktop hands over: the flow decides whether it is its own.
  connect(loopback, &QAbstractOAuthReplyHandler::callbackReceived, this,
          [this](const QVariantMap& values) {
            QUrl url(callback());
            QUrlQuery query;
            for (auto it = values.cbegin(); it != values.cend(); ++it)
              query.addQueryItem(it.key(), QString::fromUtf8(QUrl::toPercentEncoding(it.value().toString())));
            url.setQuery(query);
            emit loopbackCallbackReceived(url);
          });
  m_loopback = loopback;
  return true;
}

void OAuthCallbackHandler::closeLoopback() {
  if (m_loopback) {
    m_loopback->close();
    m_loopback->deleteLater();
    m_loopback = nullptr;
  }
}

QString OAuthCallbackHandler::callback() const {
  if (m_loopback && m_loopback->isListening()) return m_loopback->callback();
  return m_callbackUrl.toString(QUrl::FullyEncoded);
}

bool OAuthCallbackHandler::handleCallbackUrl(const QUrl& url) {
  const QUrl expected(callback());
  const auto pathOf = [](const QUrl& u) {
    QString path = u.path();
    while (path.endsWith(QLatin1Char('/'))) path.chop(1);
    return path;
  };
  if (!url.isValid() || url.scheme().compare(expected.scheme(), Qt::CaseInsensitive) != 0 ||
      url.host().compare(expected.host(), Qt::CaseInsensitive) != 0 ||
      url.port() != expected.port() || pathOf(url) != pathOf(expected))
    return false;
  QVariantMap values;
  for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
    values.insert(key, value);
  // Only a code leads to a token request; an error answer ends the sign-in here.
  if (values.contains(QStringLiteral("code"))) expectTokenReply();
  emit callbackReceived(values);
  return true;
}

void OAuthCallbackHandler::retire(QObject* flow) {
  closeLoopback();
  m_retired = true;
  // It outlives its session while token replies are on their way; held by the application
  // rather than by nothing, so that it still goes at exit if they never come.
  setParent(QCoreApplication::instance());
  if (flow) flow->setParent(this);
  if (m_pendingReplies <= 0) deleteLater();
}

void OAuthCallbackHandler::networkReplyFinished(QNetworkReply* reply) {
  m_pendingReplies = std::max(0, m_pendingReplies - 1);
  if (m_retired) {
    if (m_pendingReplies == 0) deleteLater();
    return;
  }
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const QByteArray body = reply->readAll();
  if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300) {
    const auto error = DropboxResponses::parseError(body);
    emit tokenRequestFailed(status, error ? error.value().tag : QString());
    return;
  }
  const auto tokens = DropboxResponses::parseTokens(body);
  if (!tokens) {
    emit tokenRequestFailed(status, QStringLiteral("malformed_response"));
    return;
  }
  QVariantMap values;
  values.insert(QStringLiteral("access_token"), tokens->accessToken);
  values.insert(QStringLiteral("token_type"), QStringLiteral("bearer"));
  if (!tokens->refreshToken.isEmpty())
    values.insert(QStringLiteral("refresh_token"), tokens->refreshToken);
  if (tokens->expiresInSeconds > 0)
    values.insert(QStringLiteral("expires_in"), tokens->expiresInSeconds);
  emit tokensReceived(values);
}

}  // namespace duo
