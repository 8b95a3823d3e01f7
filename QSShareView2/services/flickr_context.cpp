#include "flickr_context.h"

#include <QUrlQuery>

namespace duo {

namespace {

QUrl endpoint(const QUrl& site, const char* path) {
  QUrl url = site;
  QString base = url.path();
  if (base.endsWith(QLatin1Char('/'))) base.chop(1);
  url.setPath(base + QString::fromLatin1(path));
  url.setQuery(QString());
  return url;
}

}  // namespace

FlickrContext::FlickrContext(FlickrConfig config)
    : m_config(std::move(config)),
      m_signer(OAuth1Signer::Credentials{m_config.apiKey, m_config.sharedSecret, {}, {}}) {}

void FlickrContext::setOAuthToken(const QString& token, const QString& tokenSecret) {
  if (token.isEmpty() || tokenSecret.isEmpty())
    m_signer.setToken({}, {});
  else
    m_signer.setToken(token, tokenSecret);
}

QUrl FlickrContext::restURL() const { return endpoint(m_config.apiUrl, "/services/rest/"); }
QUrl FlickrContext::uploadURL() const { return endpoint(m_config.uploadUrl, "/services/upload/"); }
QUrl FlickrContext::requestTokenURL() const {
  return endpoint(m_config.authUrl, "/services/oauth/request_token");
}
QUrl FlickrContext::accessTokenURL() const {
  return endpoint(m_config.authUrl, "/services/oauth/access_token");
}

QUrl FlickrContext::userAuthorizationURL(const QString& requestToken,
                                         const QString& permission) const {
  QUrl url = endpoint(m_config.authUrl, "/services/oauth/authorize");
  QUrlQuery query;
  query.addQueryItem(QStringLiteral("oauth_token"),
                     QString::fromLatin1(QUrl::toPercentEncoding(requestToken)));
  query.addQueryItem(QStringLiteral("perms"), permission);
  url.setQuery(query);
  return url;
}

QMultiMap<QString, QVariant> FlickrContext::signedArguments(
    const QByteArray& method, const QUrl& url,
    const QMultiMap<QString, QVariant>& arguments) const {
  QMultiMap<QString, QVariant> all = arguments;
  const QMultiMap<QString, QVariant> oauth = m_signer.protocolParameters(method, url, arguments);
  for (auto it = oauth.cbegin(); it != oauth.cend(); ++it)
    if (!all.contains(it.key(), it.value())) all.insert(it.key(), it.value());
  return all;
}

}  // namespace duo
