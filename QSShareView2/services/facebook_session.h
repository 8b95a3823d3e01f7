#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <vector>

#include "facebook_config.h"
#include "oauth2_pkce_flow.h"

class QNetworkAccessManager;

namespace duo {

class TokenStore;

/// The user's sign-in with Facebook: the login dialog in the desktop browser (OAuth 2
/// authorisation code with PKCE, coming back through the "fb" + identifier callback URL handed to
/// handleOpenURL()), the token and its permissions kept in the TokenStore across runs, and the
/// request for further permissions.
class FacebookSession : public QObject {
  Q_OBJECT

 public:
  enum class State {
    Created,             ///< no token
    CreatedTokenLoaded,  ///< a stored token was found; open() opens without the browser
    Opening,             ///< the login dialog is under way
    Open,
    ClosedLoginFailed,
    Closed,
  };
  using BrowserOpener = std::function<bool(const QUrl&)>;
  /// `error` is empty when granted, otherwise says why not, for the user.
  using PermissionsDone = std::function<void(bool granted, const QString& error)>;

  static constexpr char kAccessTokenKey[] = "QSFacebook.AccessToken";
  static constexpr char kPermissionsKey[] = "QSFacebook.Permissions";
  static constexpr char kExpirationKey[] = "QSFacebook.ExpirationDate";
  static constexpr qint64 kLoginDialogLifetimeMs = 10 * 60 * 1000;

  /// `tokens` and `network` are not owned and must outlive the session. The stored token is
  /// read at once (asynchronously; see whenReady()).
  FacebookSession(FacebookConfig config, QStringList readPermissions, TokenStore* tokens,
                  QNetworkAccessManager* network, QObject* parent = nullptr);
  ~FacebookSession() override;

  const FacebookConfig& config() const { return m_config; }
  State state() const { return m_state; }
  bool isOpen() const { return m_state == State::Open; }
  bool isReady() const { return m_ready; }
  void whenReady(std::function<void()> done);

  QString accessToken() const { return m_accessToken; }
  QStringList permissions() const { return m_permissions; }

  /// Opens the session: at once with a stored token, otherwise through the login dialog. Every
  /// change of state is reported by stateChanged().
  void open();
  /// Finishes a login or a permission request from the URL the browser came back to; true when
  /// the URL was this session's.
  bool handleOpenURL(const QUrl& url);
  /// Gives up the login dialog under way (ClosedLoginFailed, no error); nothing otherwise.
  void cancelOpening();
  /// The application became active again: a login dialog left waiting for longer than
  /// kLoginDialogLifetimeMs is given up.
  void handleDidBecomeActive();
  /// Closes the session and forgets the stored token.
  void closeAndClearTokenInformation();

  /// Asks the user, through the login dialog, for `permissions` on top of those granted, then
  /// asks the service what it granted. `done` is called once, never inside this call.
  void requestNewPublishPermissions(const QStringList& permissions, const QString& defaultAudience,
                                    PermissionsDone done);

  void setBrowserOpener(BrowserOpener opener) { m_openBrowser = std::move(opener); }
  /// The sign-in or permission request under way, if any (tests read its verifier).
  const OAuth2PkceFlow* authorizationFlow() const { return m_flow; }

  /// What the user is told when the service no longer grants a permission at all.
  static QString retiredPermissionMessage();

 signals:
  void stateChanged(duo::FacebookSession::State state, const QString& error);

 private:
  OAuth2PkceFlow::Endpoints endpoints(const QStringList& scope) const;
  OAuth2PkceFlow* startFlow(const QStringList& scope, const QMultiMap<QString, QVariant>& extra);
  void tokenRead();
  void setState(State state, const QString& error = {});
  void storeToken();
  void fetchPermissions(PermissionsDone done, const QStringList& wanted);

  FacebookConfig m_config;
  QStringList m_readPermissions;
  TokenStore* m_tokens;
  QNetworkAccessManager* m_network;
  BrowserOpener m_openBrowser;
  State m_state = State::Created;
  QString m_accessToken;
  QStringList m_permissions;
  QDateTime m_expiresAt;
  bool m_ready = false;
  int m_pendingReads = 0;
  std::vector<std::function<void()>> m_readyWaiters;
  QPointer<OAuth2PkceFlow> m_flow;
  QElapsedTimer m_openingSince;
};

}  // namespace duo
