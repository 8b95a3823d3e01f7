#include "facebook_session.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkRequest>

#include "facebook_responses.h"
#include "http_request.h"
#include "token_store.h"

namespace duo {

namespace {
const QString kAccessKey = QString::fromLatin1(FacebookSession::kAccessTokenKey);
const QString kPermissionsKey = QString::fromLatin1(FacebookSession::kPermissionsKey);
const QString kExpirationKey = QString::fromLatin1(FacebookSession::kExpirationKey);
const QStringList kRetiredPermissions{QStringLiteral("read_stream"),
                                      QStringLiteral("read_friendlists"),
                                      QStringLiteral("publish_actions")};
}  // namespace

QString FacebookSession::retiredPermissionMessage() {
  return QStringLiteral(
      "Facebook no longer lets applications post photos for you.\nSave the photo and share it "
      "from Facebook instead.");
}

FacebookSession::FacebookSession(FacebookConfig config, QStringList readPermissions,
                                 TokenStore* tokens, QNetworkAccessManager* network,
                                 QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_readPermissions(std::move(readPermissions)),
      m_tokens(tokens),
      m_network(network),
      m_openBrowser([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
  // The token request goes through Qt's OAuth flow, not HttpRequest; this bounds it.
  if (m_network->transferTimeout() == 0) m_network->setTransferTimeout(m_config.timeoutMs);
  if (!m_config.isConfigured()) {
    m_ready = true;
    return;
  }
  m_pendingReads = 3;
  // The store answers later, perhaps after this session has been discarded (a new sign-in).
  QPointer<FacebookSession> self(this);
  m_tokens->read(kAccessKey, [self](const QString& value) {
    if (!self) return;
    self->m_accessToken = value;
    self->tokenRead();
  });
  m_tokens->read(kPermissionsKey, [self](const QString& value) {
    if (!self) return;
    self->m_permissions = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
    self->tokenRead();
  });
  m_tokens->read(kExpirationKey, [self](const QString& value) {
    if (!self) return;
    self->m_expiresAt = QDateTime::fromString(value, Qt::ISODate);
    self->tokenRead();
  });
}

void FacebookSession::tokenRead() {
  if (--m_pendingReads > 0) return;
  m_ready = true;
  // A token past its expiry is no sign-in: the service would only refuse it.
  if (m_expiresAt.isValid() && m_expiresAt <= QDateTime::currentDateTimeUtc())
    m_accessToken.clear();
  if (!m_accessToken.isEmpty()) m_state = State::CreatedTokenLoaded;
  for (auto& waiter : std::exchange(m_readyWaiters, {})) waiter();
}

FacebookSession::~FacebookSession() = default;

void FacebookSession::whenReady(std::function<void()> done) {
  if (m_ready)
    done();
  else
    m_readyWaiters.push_back(std::move(done));
}

void FacebookSession::setState(State state, const QString& error) {
  m_state = state;
  emit stateChanged(state, error);
}

OAuth2PkceFlow::Endpoints FacebookSession::endpoints(const QStringList& scope) const {
  OAuth2PkceFlow::Endpoints endpoints;
  endpoints.authorizationUrl = m_config.dialogUrl;
  endpoints.tokenUrl = m_config.graphUrl.resolved(QUrl(QStringLiteral("oauth/access_token")));
  endpoints.clientId = m_config.appId;
  endpoints.scope = scope.join(QLatin1Char(','));
  endpoints.callbackUrl = m_config.callbackUrl();
  return endpoints;
}

OAuth2PkceFlow* FacebookSession::startFlow(const QStringList& scope,
                                           const QMultiMap<QString, QVariant>& extra) {
  delete m_flow.data();
  OAuth2PkceFlow::Endpoints endpoints = this->endpoints(scope);
  endpoints.authorizationParameters = extra;
  auto* flow = new OAuth2PkceFlow(m_network, endpoints, this);
  m_flow = flow;
  connect(flow, &OAuth2PkceFlow::authorizeWithBrowser, this,
          [this](const QUrl& url) { m_openBrowser(url); });
  return flow;
}

void FacebookSession::open() {
  if (m_state == State::Open || m_state == State::Opening) return;
  if (!m_config.isConfigured()) {
    setState(State::ClosedLoginFailed, QStringLiteral("Facebook is not set up in this build of "
                                                      "Duoscope."));
    return;
  }
  if (m_state == State::CreatedTokenLoaded) {
    setState(State::Open);
    return;
  }
  // The service refuses the whole dialog when it is asked for a permission it retired.
  QStringList scope = m_readPermissions;
  if (!m_config.grantsRetiredPermissions)
    scope.removeIf([](const QString& p) { return kRetiredPermissions.contains(p); });
  OAuth2PkceFlow* flow = startFlow(scope, {});
  connect(flow, &OAuth2PkceFlow::granted, this,
          [this, flow, scope](const OAuth2PkceFlow::Tokens& tokens) {
            flow->deleteLater();
            m_accessToken = tokens.accessToken;
            m_expiresAt = tokens.expiresAt;
            m_permissions = scope;
            storeToken();
            setState(State::Open);
          });
  connect(flow, &OAuth2PkceFlow::failed, this,
          [this, flow](OAuth2PkceFlow::Failure failure, const QString&) {
            flow->deleteLater();
            // A refusal in the dialog is the user's choice, not an error to show.
            setState(State::ClosedLoginFailed,
                     failure == OAuth2PkceFlow::Failure::Refused
                         ? QString()
                         : QStringLiteral("Could not sign in to Facebook. Try again later."));
          });
  m_state = State::Opening;
  m_openingSince.start();
  if (!flow->startAuthorization()) {
    delete flow;
    setState(State::ClosedLoginFailed, QStringLiteral("Could not start the Facebook sign-in."));
    return;
  }
  emit stateChanged(m_state, {});
}

void FacebookSession::cancelOpening() {
  if (m_state != State::Opening) return;
  if (m_flow) {
    m_flow->abandon();
    m_flow->deleteLater();
    m_flow = nullptr;
  }
  setState(State::ClosedLoginFailed);
}

void FacebookSession::handleDidBecomeActive() {
  // The browser never says that a login dialog was left alone; one that has waited this long
  // for its callback is given up, so that the next login starts afresh.
  if (m_state == State::Opening && m_openingSince.isValid() &&
      m_openingSince.elapsed() > kLoginDialogLifetimeMs)
    cancelOpening();
}

bool FacebookSession::handleOpenURL(const QUrl& url) {
  return m_flow && m_flow->handleCallbackUrl(url);
}

void FacebookSession::storeToken() {
  m_tokens->write(kAccessKey, m_accessToken);
  m_tokens->write(kPermissionsKey, m_permissions.join(QLatin1Char(',')));
  m_tokens->write(kExpirationKey,
                  m_expiresAt.isValid() ? m_expiresAt.toUTC().toString(Qt::ISODate) : QString());
}

void FacebookSession::closeAndClearTokenInformation() {
  if (m_flow) {
    m_flow->abandon();
    m_flow->deleteLater();
  }
  m_accessToken.clear();
  m_permissions.clear();
  m_expiresAt = {};
  if (m_config.isConfigured()) {
    m_tokens->remove(kAccessKey);
    m_tokens->remove(kPermissionsKey);
    m_tokens->remove(kExpirationKey);
  }
  setState(State::Closed);
}

void FacebookSession::requestNewPublishPermissions(const QStringList& permissions,
                                                   const QString& defaultAudience,
                                                   PermissionsDone done) {
  const auto answerLater = [this, done](bool granted, const QString& error) {
    QMetaObject::invokeMethod(
        this, [done, granted, error] { done(granted, error); }, Qt::QueuedConnection);
  };
  const bool retired = std::any_of(permissions.cbegin(), permissions.cend(), [](const QString& p) {
    return kRetiredPermissions.contains(p);
  });
  if (retired && !m_config.grantsRetiredPermissions) {
    answerLater(false, retiredPermissionMessage());
    return;
  }
  if (!m_config.isConfigured() || !isOpen()) {
    answerLater(false, QStringLiteral("Sign in to Facebook first."));
    return;
  }
  QMultiMap<QString, QVariant> extra;
  extra.insert(QStringLiteral("auth_type"), QStringLiteral("rerequest"));
  if (!defaultAudience.isEmpty()) extra.insert(QStringLiteral("default_audience"), defaultAudience);
  OAuth2PkceFlow* flow = startFlow(permissions, extra);
  connect(flow, &OAuth2PkceFlow::granted, this,
          [this, flow, done, permissions](const OAuth2PkceFlow::Tokens& tokens) {
            flow->deleteLater();
            m_accessToken = tokens.accessToken;
            m_expiresAt = tokens.expiresAt;
            // Granted in the dialog is not granted: the user may untick a permission there.
            fetchPermissions(done, permissions);
          });
  connect(flow, &OAuth2PkceFlow::failed, this,
          [flow, done](OAuth2PkceFlow::Failure, const QString&) {
            flow->deleteLater();
            done(false, QString());
          });
  if (!flow->startAuthorization()) {
    delete flow;
    answerLater(false, QStringLiteral("Could not open the Facebook permission dialog."));
  }
}

void FacebookSession::fetchPermissions(PermissionsDone done, const QStringList& wanted) {
  auto* request = new HttpRequest(m_network, this);
  request->setTimeout(m_config.timeoutMs);
  QNetworkRequest http(m_config.graphUrl.resolved(QUrl(QStringLiteral("me/permissions"))));
  http.setRawHeader("Accept", "application/json");
  http.setRawHeader("Authorization", "OAuth " + m_accessToken.toUtf8());
  connect(request, &HttpRequest::finished, this,
          [this, request, done, wanted](const HttpResponse& response) {
            request->deleteLater();
            const auto granted = response.succeeded()
                                     ? FacebookResponses::parseGrantedPermissions(response.body)
                                     : std::nullopt;
            if (granted) m_permissions = *granted;
            storeToken();
            const bool all =
                granted && std::all_of(wanted.cbegin(), wanted.cend(),
                                       [&](const QString& p) { return granted->contains(p); });
            done(all, QString());
          });
  request->send("GET", http);
}

}  // namespace duo
