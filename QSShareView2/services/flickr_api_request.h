#pragma once

#include <QIODevice>
#include <QMultiMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

#include "flickr_responses.h"
#include "http_request.h"

class QNetworkAccessManager;

namespace duo {

class FlickrAPIRequest;
class FlickrContext;

/// Why a Flickr call failed.
struct FlickrError {
  enum class Kind {
    Connection,  ///< no answer: refused, timed out, interrupted, too large
    Http,        ///< an HTTP error status without a readable service error
    Service,     ///< the service's own refusal ("stat": "fail", an OAuth problem); see code
    Response,    ///< an answer that is not what the call returns (malformed, truncated)
    Superseded,  ///< another call on the same request object replaced this one
  };
  Kind kind = Kind::Connection;
  int code = 0;  ///< the service's error code for Service; the HTTP status for Http
  QString message;
};

/// Hears the answers of a FlickrAPIRequest. All calls are optional and arrive on the request's
/// thread from the event loop, never from inside the call that started the request.
class FlickrAPIRequestDelegate {
 public:
  virtual ~FlickrAPIRequestDelegate() = default;
  virtual void flickrAPIRequestDidObtainOAuthRequestToken(FlickrAPIRequest*, const QString& token,
                                                          const QString& secret) {
    (void)token;
    (void)secret;
  }
  virtual void flickrAPIRequestDidObtainOAuthAccessToken(FlickrAPIRequest*, const QString& token,
                                                         const QString& secret,
                                                         const QString& userFullName,
                                                         const QString& userName,
                                                         const QString& userNSID) {
    (void)token, (void)secret, (void)userFullName, (void)userName, (void)userNSID;
  }
  virtual void flickrAPIRequestImageUploadSentBytes(FlickrAPIRequest*, qint64 sent, qint64 total) {
    (void)sent;
    (void)total;
  }
  virtual void flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest*,
                                                       const QVariantMap& response) {
    (void)response;
  }
  virtual void flickrAPIRequestDidFailWithError(FlickrAPIRequest*, const FlickrError& error) {
    (void)error;
  }
};

/// Sends Flickr calls signed with a FlickrContext's credentials: REST methods, the photo upload
/// and the three steps of OAuth 1.0a sign-in. One call at a time: starting another replaces the
/// running one, whose delegate hears Superseded (unless it is the one starting the new call).
/// Answers go to the delegate that was set when the call was sent. A call counts as complete only
/// when the service says "stat" "ok".
class FlickrAPIRequest : public QObject {
  Q_OBJECT

 public:
  /// `context` and `network` are not owned and must outlive the request.
  FlickrAPIRequest(FlickrContext* context, QNetworkAccessManager* network,
                   QObject* parent = nullptr);
  ~FlickrAPIRequest() override;

  FlickrContext* context() const { return m_context; }

  /// `delegate` must be a QObject implementing FlickrAPIRequestDelegate; a delegate that is
  /// deleted is simply not told any more.
  void setDelegate(QObject* delegate) { m_delegate = delegate; }
  QObject* delegate() const { return m_delegate; }

  /// Seconds without any data moving before a call fails.
  void setRequestTimeoutInterval(double seconds) { m_timeoutMs = int(seconds * 1000); }
  double requestTimeoutInterval() const { return m_timeoutMs / 1000.0; }

  bool isRunning() const;
  /// The sign-in step under way ("kFetchRequestTokenStep", "kFetchAccessTokenStep"); empty
  /// when no sign-in step is running.
  QString sessionInfo() const { return m_sessionInfo; }
  /// Stops the running call; nobody hears of it.
  void cancel();

  void callAPIMethodWithGET(const QString& method, const QVariantMap& arguments);
  void callAPIMethodWithPOST(const QString& method, const QVariantMap& arguments);
  /// Uploads `stream` (taken over, open for reading) as the photo, with the text `arguments`,
  /// as multipart form data. The stream is read as the body goes out, not copied.
  void uploadImageStream(std::unique_ptr<QIODevice> stream, const QString& suggestedFilename,
                         const QString& mimeType, const QVariantMap& arguments);

  void fetchOAuthRequestTokenWithCallbackURL(const QUrl& callbackURL);
  /// Exchanges the authorised request token (whose secret the context holds) for an access
  /// token.
  void fetchOAuthAccessTokenWithRequestToken(const QString& requestToken, const QString& verifier);

 private:
  enum class CallKind { Rest, Upload, RequestToken, AccessToken };

  HttpRequest* startCall(CallKind kind);
  void finish(CallKind kind, const HttpResponse& response);
  void finishRest(const HttpResponse& response);
  void finishTokens(CallKind kind, const HttpResponse& response);
  void fail(FlickrError error);
  FlickrAPIRequestDelegate* callDelegate() const;

  FlickrContext* m_context;
  QNetworkAccessManager* m_network;
  QPointer<QObject> m_delegate;
  QPointer<QObject> m_callDelegate;  // the delegate of the running call
  QPointer<HttpRequest> m_http;
  int m_timeoutMs = 60000;
  QString m_sessionInfo;
  qint64 m_sent = 0;
  qint64 m_total = 0;
};

}  // namespace duo
