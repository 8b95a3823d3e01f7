#include "oauth2_pkce_flow.h"

#include <QOAuth2AuthorizationCodeFlow>
#include <QUrlQuery>

#include "callback_routing.h"
#include "oauth_callback_handler.h"
#include "pkce.h"

namespace duo {

OAuth2PkceFlow::OAuth2PkceFlow(QNetworkAccessManager* network, Endpoints endpoints, QObject* parent)
    : QObject(parent), m_network(network), m_endpoints(std::move(endpoints)) {}

OAuth2PkceFlow::~OAuth2PkceFlow() { abandon(); }

void OAuth2PkceFlow::abandon() {
  if (m_flow) m_flow->disconnect(this);
  if (m_handler) {
    m_handler->disconnect(this);
    m_handler->retire(m_flow);
  } else if (m_flow) {
    m_flow->deleteLater();
  }
  m_flow = nullptr;
  m_handler = nullptr;
  m_verifier.clear();
  m_refreshing = false;
  m_authorizing = false;
  m_callbackTaken = false;
}

bool OAuth2PkceFlow::isAuthorizing() const { return m_authorizing; }

QString OAuth2PkceFlow::redirectUri() const {
  return m_handler ? m_handler->callback() : QString();
}

QOAuth2AuthorizationCodeFlow* OAuth2PkceFlow::makeFlow(bool forRefresh) {
  abandon();
  auto* handler = new OAuthCallbackHandler(m_endpoints.callbackUrl, this);
  if (!forRefresh && m_endpoints.useLoopback &&
      !handler->listenOnLoopback(m_endpoints.loopbackPort, m_endpoints.loopbackPath)) {
    delete handler;
    return nullptr;
  }
  auto* flow = new QOAuth2AuthorizationCodeFlow(this);
  flow->setNetworkAccessManager(m_network);
  flow->setAuthorizationUrl(m_endpoints.authorizationUrl);
  flow->setAccessTokenUrl(m_endpoints.tokenUrl);
  flow->setClientIdentifier(m_endpoints.clientId);
  if (!m_endpoints.clientSecret.isEmpty())
    flow->setClientIdentifierSharedKey(m_endpoints.clientSecret);
  if (!m_endpoints.scope.isEmpty()) flow->setScope(m_endpoints.scope);
  flow->setReplyHandler(handler);
  m_verifier = forRefresh ? QByteArray() : Pkce::makeVerifier();
  const QByteArray verifier = m_verifier;
  const QMultiMap<QString, QVariant> extra = m_endpoints.authorizationParameters;
  const QString clientId = m_endpoints.clientId;
  flow->setModifyParametersFunction(
      [verifier, extra, clientId](QAbstractOAuth::Stage stage,
                                  QMultiMap<QString, QVariant>* parameters) {
        switch (stage) {
          case QAbstractOAuth::Stage::RequestingAuthorization:
            parameters->replace(QStringLiteral("code_challenge"),
                                QString::fromLatin1(Pkce::challengeFor(verifier)));
            parameters->replace(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
            for (auto it = extra.cbegin(); it != extra.cend(); ++it)
              parameters->replace(it.key(), it.value());
            break;
          case QAbstractOAuth::Stage::RequestingAccessToken:
            parameters->replace(QStringLiteral("code_verifier"), QString::fromLatin1(verifier));
            parameters->replace(QStringLiteral("client_id"), clientId);
            break;
          case QAbstractOAuth::Stage::RefreshingAccessToken:
            // A public client names itself on refresh; there is no secret to do it for it.
            parameters->replace(QStringLiteral("client_id"), clientId);
            break;
          default:
            break;
        }
      });
  connect(flow, &QAbstractOAuth::authorizeWithBrowser, this, &OAuth2PkceFlow::authorizeWithBrowser);
  connect(flow, &QAbstractOAuth::granted, this, &OAuth2PkceFlow::onGranted);
  // A denied sign-in comes back as an error on the callback.
  connect(flow, &QAbstractOAuth2::error, this,
          [this](const QString& error, const QString&, const QUrl&) {
            finish();
            emit failed(Failure::Refused, error.left(100));
          });
  connect(handler, &OAuthCallbackHandler::tokenRequestFailed, this,
          &OAuth2PkceFlow::onTokenRequestFailed);
  connect(handler, &OAuthCallbackHandler::loopbackCallbackReceived, this, [this](const QUrl& url) {
    if (!CallbackRouting::route(url)) handleCallbackUrl(url);
  });
  m_flow = flow;
  m_handler = handler;
  return flow;
}

bool OAuth2PkceFlow::startAuthorization() {
  QOAuth2AuthorizationCodeFlow* flow = makeFlow(false);
  if (!flow) return false;
  m_authorizing = true;
  flow->grant();
  return true;
}

bool OAuth2PkceFlow::handleCallbackUrl(const QUrl& url) {
  if (!m_authorizing || m_callbackTaken || !m_handler || !m_flow) return false;
  // Several windows may each wait for a sign-in of the same service, and every one of them is
  // offered each callback: only the one whose request carried this state takes it. A second
  // copy of the same callback (a reloaded page) is not ours either, since the code it carries
  // can be exchanged only once.
  const QString state = QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
  if (state.isEmpty() || state != m_flow->state()) return false;
  if (!m_handler->handleCallbackUrl(url)) return false;
  m_callbackTaken = true;
  return true;
}

void OAuth2PkceFlow::refresh(const QString& refreshToken) {
  QOAuth2AuthorizationCodeFlow* flow = makeFlow(true);
  m_refreshing = true;
  m_handler->expectTokenReply();
  flow->setRefreshToken(refreshToken);
  flow->refreshAccessToken();
}

void OAuth2PkceFlow::finish() {
  // Later in this turn Qt may still touch the flow that called us; abandon() deletes later.
  abandon();
}

void OAuth2PkceFlow::onGranted() {
  if (!m_flow) return;
  Tokens tokens;
  tokens.accessToken = m_flow->token();
  tokens.refreshToken = m_flow->refreshToken();
  tokens.expiresAt = m_flow->expirationAt();
  finish();
  emit granted(tokens);
}

void OAuth2PkceFlow::onTokenRequestFailed(int status, const QString& error) {
  // RFC 6749 §5.2: a refused grant is a 400 (or 401 for the client); anything else, such as a
  // server fault or an answer we cannot read, says nothing about the token itself.
  const bool refused = (status == 400 || status == 401) && !error.isEmpty() &&
                       error != QLatin1String("temporarily_unavailable");
  finish();
  emit failed(refused ? Failure::Refused : Failure::Failed,
              error.isEmpty() ? QStringLiteral("HTTP %1").arg(status) : error);
}

}  // namespace duo
