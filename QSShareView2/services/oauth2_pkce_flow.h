#pragma once

#include <QDateTime>
#include <QMultiMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>

class QNetworkAccessManager;
class QOAuth2AuthorizationCodeFlow;

namespace duo {

class OAuthCallbackHandler;

/// An OAuth 2 authorisation-code sign-in with PKCE (S256), and the refresh of its token, on
/// QOAuth2AuthorizationCodeFlow. Qt 6.4's flow knows nothing of PKCE, so the challenge goes into
/// the authorisation request and the verifier into the token request here. Every sign-in and
/// every refresh runs on a flow object of its own, so a failed one leaves nothing half-done.
class OAuth2PkceFlow : public QObject {
  Q_OBJECT

 public:
  struct Endpoints {
    QUrl authorizationUrl;
    QUrl tokenUrl;
    QString clientId;
    QString clientSecret;  ///< empty for a public client, which PKCE is for
    QString scope;
    /// Extra authorisation parameters (e.g. token_access_type=offline).
    QMultiMap<QString, QVariant> authorizationParameters;
    /// The custom-scheme callback URL, used when there is no loopback redirect.
    QUrl callbackUrl;
    /// Loopback redirect (RFC 8252): on when `useLoopback`, on `loopbackPort` (0: any).
    bool useLoopback = false;
    quint16 loopbackPort = 0;
    QString loopbackPath;
  };
  struct Tokens {
    QString accessToken;
    QString refreshToken;  ///< empty when the service sent none (a refresh keeps the old one)
    QDateTime expiresAt;   ///< invalid when the service did not say
  };
  enum class Failure {
    Refused,  ///< the service said no (a denied sign-in, a revoked or unknown refresh token)
    Failed,   ///< could not ask (no connection, time-out, server fault, unreadable answer)
  };

  OAuth2PkceFlow(QNetworkAccessManager* network, Endpoints endpoints, QObject* parent = nullptr);
  ~OAuth2PkceFlow() override;

  /// Starts a sign-in: emits authorizeWithBrowser() with the page to open. False when the
  /// loopback redirect cannot listen.
  bool startAuthorization();
  /// Finishes a sign-in from the URL the browser came back to: true when it is this sign-in's
  /// callback (its address and the state the request carried), the first time only.
  bool handleCallbackUrl(const QUrl& url);
  bool isAuthorizing() const;
  /// The callback of the sign-in under way has arrived; its token request is on its way.
  bool hasCallback() const { return m_callbackTaken; }

  /// Asks for a new access token with `refreshToken`; granted() or failed() follows.
  void refresh(const QString& refreshToken);
  bool isRefreshing() const { return m_refreshing; }

  /// Drops any sign-in or refresh under way, without a signal.
  void abandon();

  /// The verifier of the sign-in under way (tests compare it with the challenge sent).
  QByteArray codeVerifier() const { return m_verifier; }
  /// The redirect URI of the sign-in under way.
  QString redirectUri() const;

 signals:
  void authorizeWithBrowser(const QUrl& url);
  void granted(const duo::OAuth2PkceFlow::Tokens& tokens);
  void failed(duo::OAuth2PkceFlow::Failure failure, const QString& reason);

 private:
  QOAuth2AuthorizationCodeFlow* makeFlow(bool forRefresh);
  void finish();
  void onGranted();
  void onTokenRequestFailed(int status, const QString& error);

  QNetworkAccessManager* m_network;
  Endpoints m_endpoints;
  QPointer<QOAuth2AuthorizationCodeFlow> m_flow;
  QPointer<OAuthCallbackHandler> m_handler;
  QByteArray m_verifier;
  bool m_refreshing = false;
  bool m_authorizing = false;
  bool m_callbackTaken = false;
};

}  // namespace duo
