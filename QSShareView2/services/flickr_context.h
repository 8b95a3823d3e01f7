#pragma once

#include <QByteArray>
#include <QMultiMap>
#include <QString>
#include <QUrl>
#include <QVariant>

#include "oauth1_signer.h"
#include "service_config.h"

namespace duo {

/// Who is calling Flickr and where it lives: the application's key and shared secret, the
/// user's OAuth token and token secret (a request token while signing in, the access token
/// after), and the service's endpoints. It signs requests with them.
class FlickrContext {
 public:
  explicit FlickrContext(FlickrConfig config);

  const FlickrConfig& config() const { return m_config; }
  QString apiKey() const { return m_config.apiKey; }
  QString sharedSecret() const { return m_config.sharedSecret; }

  QString oauthToken() const { return m_signer.credentials().token; }
  QString oauthTokenSecret() const { return m_signer.credentials().tokenSecret; }
  /// Empty values remove the token.
  void setOAuthToken(const QString& token, const QString& tokenSecret);

  QUrl restURL() const;
  QUrl uploadURL() const;
  QUrl requestTokenURL() const;
  QUrl accessTokenURL() const;
  /// The page where the user grants `permission` ("read", "write", "delete") to the request
  /// token.
  QUrl userAuthorizationURL(const QString& requestToken, const QString& permission) const;

  /// `arguments` with the oauth_* parameters of a request to `url` added, signature included.
  QMultiMap<QString, QVariant> signedArguments(const QByteArray& method, const QUrl& url,
                                               const QMultiMap<QString, QVariant>& arguments) const;

 private:
  FlickrConfig m_config;
  OAuth1Signer m_signer;
};

}  // namespace duo
