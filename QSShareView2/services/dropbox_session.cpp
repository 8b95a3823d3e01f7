#include "dropbox_session.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QUrlQuery>

#include "token_store.h"

namespace duo {

namespace {
const QString kAccessKey = QString::fromLatin1(DropboxSession::kAccessTokenKey);
const QString kRefreshKey = QString::fromLatin1(DropboxSession::kRefreshTokenKey);
const QString kRedirectPath = QStringLiteral("/dropbox-auth");
}  // namespace

DropboxSession::DropboxSession(DropboxConfig config, TokenStore* tokens,
                               QNetworkAccessManager* network, QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_tokens(tokens),
      m_network(network),
      m_openBrowser([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  // The token requests go through Qt's OAuth flow, not HttpRequest; this bounds them.
  if (m_network->transferTimeout() == 0) m_network->setTransferTimeout(m_config.timeoutMs);
  if (!isConfigured()) {
    m_ready = true;
    return;
  }
  m_pendingReads = 2;
  const auto loaded = [this] {
    if (--m_pendingReads > 0) return;
    m_ready = true;
    for (auto& waiter : std::exchange(m_readyWaiters, {})) waiter();
  };
  m_tokens->read(kAccessKey, [this, loaded](const QString& value) {
    m_accessToken = value;
    loaded();
  });
  m_tokens->read(kRefreshKey, [this, loaded](const QString& value) {
    m_refreshToken = value;
    loaded();
  });
}

DropboxSession::~DropboxSession() = default;

void DropboxSession::whenReady(std::function<void()> done) {
  if (m_ready)
    done();
  else
    m_readyWaiters.push_back(std::move(done));
}

bool DropboxSession::isLinked() const {
  return isConfigured() && (!m_accessToken.isEmpty() || !m_refreshToken.isEmpty());
}

OAuth2PkceFlow::Endpoints DropboxSession::endpoints() const {
  OAuth2PkceFlow::Endpoints endpoints;
  endpoints.authorizationUrl = m_config.authUrl.resolved(QUrl(QStringLiteral("/oauth2/authorize")));
  endpoints.tokenUrl = m_config.apiUrl.resolved(QUrl(QStringLiteral("/oauth2/token")));
  endpoints.clientId = m_config.appKey;
  // Offline access brings a refresh token: access tokens last only hours.
  endpoints.authorizationParameters.insert(QStringLiteral("token_access_type"),
                                           QStringLiteral("offline"));
  endpoints.callbackUrl = QUrl(callbackScheme() + QStringLiteral("://2/token"));
  endpoints.useLoopback = true;
  endpoints.loopbackPort = m_config.redirectPort;
  endpoints.loopbackPath = kRedirectPath;
  return endpoints;
}

bool DropboxSession::linkFromController(QObject*) {
  if (!isConfigured()) return false;
  delete m_authorization.data();
  auto* flow = new OAuth2PkceFlow(m_network, endpoints(), this);
  m_authorization = flow;
  connect(flow, &OAuth2PkceFlow::authorizeWithBrowser, this,
          [this](const QUrl& url) { m_openBrowser(url); });
  connect(flow, &OAuth2PkceFlow::granted, this, [this, flow](const OAuth2PkceFlow::Tokens& tokens) {
    flow->deleteLater();
    m_accessToken = tokens.accessToken;
    m_refreshToken = tokens.refreshToken;
    storeTokens();
    emit linked();
  });
  connect(flow, &OAuth2PkceFlow::failed, this,
          [this, flow](OAuth2PkceFlow::Failure, const QString& reason) {
            flow->deleteLater();
            emit linkFailed(reason);
          });
  if (!flow->startAuthorization()) {
    delete flow;
    return false;
  }
  return true;
}

bool DropboxSession::isLinking() const { return m_authorization && m_authorization->isAuthorizing(); }

void DropboxSession::cancelLink() {
  if (!isLinking()) return;
  OAuth2PkceFlow* flow = m_authorization;
  m_authorization = nullptr;
  flow->abandon();  // closes the loopback redirect: a late browser finds nobody there
  flow->deleteLater();
  emit linkFailed(QString());
}

bool DropboxSession::handleOpenURL(const QUrl& url) {
  return m_authorization && m_authorization->handleCallbackUrl(url);
}

void DropboxSession::storeTokens() {
  m_tokens->write(kAccessKey, m_accessToken);
  m_tokens->write(kRefreshKey, m_refreshToken);
}

void DropboxSession::unlinkAll() {
  const bool was = isLinked();
  delete m_refresh.data();
  m_accessToken.clear();
  m_refreshToken.clear();
  m_tokens->remove(kAccessKey);
  m_tokens->remove(kRefreshKey);
  finishRefresh(RefreshResult::Refused);
  if (was) emit unlinked();
}

void DropboxSession::refreshAccessToken(std::function<void(RefreshResult)> done) {
  m_refreshWaiters.push_back(std::move(done));
  if (m_refresh) return;
  if (m_refreshToken.isEmpty()) {
    finishRefresh(RefreshResult::Refused);
    return;
  }
  auto* flow = new OAuth2PkceFlow(m_network, endpoints(), this);
  m_refresh = flow;
  connect(flow, &OAuth2PkceFlow::granted, this, [this, flow](const OAuth2PkceFlow::Tokens& tokens) {
    flow->deleteLater();
    m_accessToken = tokens.accessToken;
    // The service may rotate the refresh token; otherwise the old one stays good.
    if (!tokens.refreshToken.isEmpty()) m_refreshToken = tokens.refreshToken;
    storeTokens();
    finishRefresh(RefreshResult::Refreshed);
  });
  connect(flow, &OAuth2PkceFlow::failed, this,
          [this, flow](OAuth2PkceFlow::Failure failure, const QString&) {
            flow->deleteLater();
            finishRefresh(failure == OAuth2PkceFlow::Failure::Refused ? RefreshResult::Refused
                                                                      : RefreshResult::Failed);
          });
  flow->refresh(m_refreshToken);
}

void DropboxSession::finishRefresh(RefreshResult result) {
  m_refresh = nullptr;
  for (auto& waiter : std::exchange(m_refreshWaiters, {}))
    if (waiter) waiter(result);
}

void DropboxSession::reportAuthorizationFailure() { emit authorizationFailure(); }

}  // namespace duo
