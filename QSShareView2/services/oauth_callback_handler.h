#pragma once

#include <QOAuthOobReplyHandler>
#include <QPointer>
#include <QUrl>

class QOAuthHttpServerReplyHandler;

namespace duo {

/// The reply handler our OAuth 2 flows use. The browser comes back either to a loopback
/// redirect on 127.0.0.1 (RFC 8252, for services that accept only https or loopback redirects)
/// or to a custom-scheme callback URL that the desktop hands to the application, which passes
/// it to handleCallbackUrl(). Token answers are read here too: unlike Qt's own handlers this one
/// reports a refused or unreadable token answer (tokenRequestFailed) instead of only logging it.
class OAuthCallbackHandler : public QOAuthOobReplyHandler {
  Q_OBJECT

 public:
  /// A handler for the custom-scheme callback `callbackUrl`.
  explicit OAuthCallbackHandler(QUrl callbackUrl, QObject* parent = nullptr);

  /// Also listens on 127.0.0.1:`port` (0: any free port) with `path`, and from then on
  /// callback() is that loopback address. False when the port cannot be had.
  bool listenOnLoopback(quint16 port, const QString& path);
  void closeLoopback();

  QString callback() const override;

  /// Finishes sign-in from a callback URL: true when the URL is this handler's callback (same
  /// scheme, host, port and path), in which case its query goes to the flow.
  bool handleCallbackUrl(const QUrl& url);

  void networkReplyFinished(QNetworkReply* reply) override;

  /// A token request is about to go out through this handler.
  void expectTokenReply() { ++m_pendingReplies; }
  /// Done with: closes the loopback and deletes itself, together with `flow` (taken over), once
  /// no token request is outstanding. Qt's flow calls its handler when a token reply arrives,
  /// so neither may go before that reply.
  void retire(QObject* flow);

 signals:
  /// The browser came back to the loopback redirect with this URL (not yet handled).
  void loopbackCallbackReceived(const QUrl& url);
  /// The token endpoint answered with an error or with something that is not a token answer.
  /// `status` is the HTTP status (0 when none arrived); `error` the OAuth error code, if any.
  void tokenRequestFailed(int status, const QString& error);

 private:
  QUrl m_callbackUrl;
  QPointer<QOAuthHttpServerReplyHandler> m_loopback;
  int m_pendingReplies = 0;
  bool m_retired = false;
};

}  // namespace duo
