#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <vector>

#include "oauth2_pkce_flow.h"
#include "service_config.h"

class QNetworkAccessManager;

namespace duo {

class TokenStore;

/// The user's link to Dropbox: sign-in through the desktop browser (OAuth 2 with PKCE and
/// offline access, so that a refresh token outlives the short-lived access tokens), the tokens
/// kept in the TokenStore across runs, their refresh, and the unlink.
///
/// The browser comes back to a loopback redirect on 127.0.0.1 (Dropbox takes only https or
/// loopback redirects for native applications). That redirect goes through the application's
/// callback routing, which hands it to handleOpenURL(); the token request must name the same
/// redirect, so no other callback address can finish the sign-in.
class DropboxSession : public QObject {
  Q_OBJECT

 public:
  enum class RefreshResult { Refreshed, Refused, Failed };
  using BrowserOpener = std::function<bool(const QUrl&)>;

  static constexpr char kAccessTokenKey[] = "QSDropbox.AccessToken";
  static constexpr char kRefreshTokenKey[] = "QSDropbox.RefreshToken";

  /// `tokens` and `network` are not owned and must outlive the session. Stored tokens are
  /// loaded at once (asynchronously; see whenReady()).
  DropboxSession(DropboxConfig config, TokenStore* tokens, QNetworkAccessManager* network,
                 QObject* parent = nullptr);
  ~DropboxSession() override;

  const DropboxConfig& config() const { return m_config; }
  QNetworkAccessManager* networkAccessManager() const { return m_network; }

  /// False when this build has no application key: nothing can be linked.
  bool isConfigured() const { return m_config.isConfigured(); }
  /// The stored tokens have been read.
  bool isReady() const { return m_ready; }
  /// Runs `done` once the stored tokens have been read (at once when they have).
  void whenReady(std::function<void()> done);

  bool isLinked() const;
  /// Starts sign-in in the desktop browser. `controller` is the screen that asked (unused on
  /// the desktop, where the browser is a window of its own). False when not configured or the
  /// redirect cannot listen.
  bool linkFromController(QObject* controller);
  /// A sign-in is under way: waiting for the browser, or for the token that its callback
  /// brought.
  bool isLinking() const;
  /// Gives up the sign-in under way (the browser page was abandoned): linkFailed() with an
  /// empty reason. Nothing happens when none is under way.
  void cancelLink();
  /// Finishes a sign-in from the URL the browser came back to; true when it was this session's.
  bool handleOpenURL(const QUrl& url);
  /// Forgets every stored token; the next send signs in again.
  void unlinkAll();

  QString accessToken() const { return m_accessToken; }
  bool canRefresh() const { return !m_refreshToken.isEmpty(); }
  /// Gets a new access token with the refresh token. Callers that ask while a refresh runs share
  /// its result. Refused means the service will not renew the link (revoked, expired).
  void refreshAccessToken(std::function<void(RefreshResult)> done);

  /// The service rejected the link for good: emits authorizationFailure() for the owner to act on.
  void reportAuthorizationFailure();

  /// How the sign-in page is opened; QDesktopServices::openUrl unless replaced (tests).
  void setBrowserOpener(BrowserOpener opener) { m_openBrowser = std::move(opener); }
  /// The "db-" + key scheme the desktop routes back to the application.
  QString callbackScheme() const { return QStringLiteral("db-") + m_config.appKey; }
  /// The sign-in flow under way, if any (tests read its verifier and redirect).
  const OAuth2PkceFlow* authorizationFlow() const { return m_authorization; }

 signals:
  void linked();
  void unlinked();
  /// Sign-in ended without a link (refused in the browser, or the token request failed).
  void linkFailed(const QString& reason);
  void authorizationFailure();

 private:
  OAuth2PkceFlow::Endpoints endpoints() const;
  void storeTokens();
  void finishRefresh(RefreshResult result);

  DropboxConfig m_config;
  TokenStore* m_tokens;
  QNetworkAccessManager* m_network;
  BrowserOpener m_openBrowser;
  QString m_accessToken;
  QString m_refreshToken;
  bool m_ready = false;
  int m_pendingReads = 0;
  std::vector<std::function<void()>> m_readyWaiters;
  QPointer<OAuth2PkceFlow> m_authorization;
  QPointer<OAuth2PkceFlow> m_refresh;
  std::vector<std::function<void(RefreshResult)>> m_refreshWaiters;
};

}  // namespace duo
