#pragma once

#include <QByteArray>
#include <QMultiMap>
#include <QString>
#include <QUrl>
#include <QVariant>

namespace duo {

/// OAuth 1.0a request signing (RFC 5849, HMAC-SHA1) for services that still use it. The
/// signature covers the method, the URL without its query, and every protocol, query and form
/// parameter; QOAuth1Signature does the normalisation.
class OAuth1Signer {
 public:
  struct Credentials {
    QString consumerKey;
    QString consumerSecret;
    QString token;        // empty before the user has signed in
    QString tokenSecret;  // empty before the user has signed in
  };

  OAuth1Signer() = default;
  explicit OAuth1Signer(Credentials credentials) : m_credentials(std::move(credentials)) {}

  const Credentials& credentials() const { return m_credentials; }
  void setToken(const QString& token, const QString& tokenSecret);

  /// The oauth_* parameters of one request, signature included. `parameters` are the request's
  /// own (query or form fields, plus oauth_callback or oauth_verifier when the step has one);
  /// `nonce` and `timestamp` are normally fresh, fixed only to reproduce a signature.
  QMultiMap<QString, QVariant> protocolParameters(const QByteArray& method, const QUrl& url,
                                                  const QMultiMap<QString, QVariant>& parameters,
                                                  const QString& nonce, qint64 timestamp) const;
  /// The same with a fresh nonce and the current time.
  QMultiMap<QString, QVariant> protocolParameters(
      const QByteArray& method, const QUrl& url,
      const QMultiMap<QString, QVariant>& parameters) const;

  /// The "Authorization: OAuth …" header value for protocol parameters from above.
  static QByteArray authorizationHeader(const QMultiMap<QString, QVariant>& protocolParameters);

  /// The base64 HMAC-SHA1 signature alone.
  QByteArray signature(const QByteArray& method, const QUrl& url,
                       const QMultiMap<QString, QVariant>& allParameters) const;

 private:
  Credentials m_credentials;
};

}  // namespace duo
