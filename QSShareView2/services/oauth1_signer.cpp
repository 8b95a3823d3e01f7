#include "oauth1_signer.h"

#include <QDateTime>
#include <QOAuth1Signature>
#include <QRandomGenerator>
#include <QUrlQuery>

namespace duo {

void OAuth1Signer::setToken(const QString& token, const QString& tokenSecret) {
  m_credentials.token = token;
  m_credentials.tokenSecret = tokenSecret;
}

QByteArray OAuth1Signer::signature(const QByteArray& method, const QUrl& url,
                                   const QMultiMap<QString, QVariant>& allParameters) const {
  // The base string takes the URL without query or fragment; query items are parameters.
  QUrl base = url;
  base.setQuery(QString());
  base.setFragment(QString());
  QMultiMap<QString, QVariant> parameters = allParameters;
  for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
    parameters.insert(key, value);
  QOAuth1Signature signer(base, m_credentials.consumerSecret, m_credentials.tokenSecret,
                          QOAuth1Signature::HttpRequestMethod::Custom, parameters);
  signer.setCustomMethodString(method.toUpper());
  return signer.hmacSha1().toBase64();
}

QMultiMap<QString, QVariant> OAuth1Signer::protocolParameters(
    const QByteArray& method, const QUrl& url, const QMultiMap<QString, QVariant>& parameters,
    const QString& nonce, qint64 timestamp) const {
  QMultiMap<QString, QVariant> oauth;
  oauth.insert(QStringLiteral("oauth_consumer_key"), m_credentials.consumerKey);
  oauth.insert(QStringLiteral("oauth_nonce"), nonce);
  oauth.insert(QStringLiteral("oauth_signature_method"), QStringLiteral("HMAC-SHA1"));
  oauth.insert(QStringLiteral("oauth_timestamp"), QString::number(timestamp));
  oauth.insert(QStringLiteral("oauth_version"), QStringLiteral("1.0"));
  if (!m_credentials.token.isEmpty())
    oauth.insert(QStringLiteral("oauth_token"), m_credentials.token);
  QMultiMap<QString, QVariant> all = parameters;
  for (auto it = oauth.cbegin(); it != oauth.cend(); ++it) all.insert(it.key(), it.value());
  // Protocol parameters handed in by the caller (oauth_callback, oauth_verifier) go in the
  // header too.
  for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
    if (it.key().startsWith(QLatin1String("oauth_"))) oauth.insert(it.key(), it.value());
  oauth.insert(QStringLiteral("oauth_signature"), QString::fromLatin1(signature(method, url, all)));
  return oauth;
}

QMultiMap<QString, QVariant> OAuth1Signer::protocolParameters(
    const QByteArray& method, const QUrl& url,
    const QMultiMap<QString, QVariant>& parameters) const {
  const QString nonce =
      QString::fromLatin1(QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                          QByteArray::number(QRandomGenerator::system()->generate64(), 16));
  return protocolParameters(method, url, parameters, nonce, QDateTime::currentSecsSinceEpoch());
}

QByteArray OAuth1Signer::authorizationHeader(
    const QMultiMap<QString, QVariant>& protocolParameters) {
  QByteArray header = "OAuth ";
  bool first = true;
  for (auto it = protocolParameters.cbegin(); it != protocolParameters.cend(); ++it) {
    if (!it.key().startsWith(QLatin1String("oauth_"))) continue;
    if (!first) header += ", ";
    first = false;
    header += QUrl::toPercentEncoding(it.key()) + "=\"" +
              QUrl::toPercentEncoding(it.value().toString()) + '"';
  }
  return header;
}

}  // namespace duo
