#include "flickr_api_request.h"

#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrlQuery>

#include "flickr_context.h"

namespace duo {

namespace {

QMultiMap<QString, QVariant> multiMapOf(const QVariantMap& arguments) {
  QMultiMap<QString, QVariant> out;
  for (auto it = arguments.cbegin(); it != arguments.cend(); ++it)
    out.insert(it.key(), it.value().toString());
  return out;
}

QByteArray formEncoded(const QMultiMap<QString, QVariant>& arguments) {
  QByteArray out;
  for (auto it = arguments.cbegin(); it != arguments.cend(); ++it) {
    if (!out.isEmpty()) out += '&';
    out += QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value().toString());
  }
  return out;
}

QUrl withQuery(QUrl url, const QMultiMap<QString, QVariant>& arguments) {
  url.setQuery(QString::fromLatin1(formEncoded(arguments)), QUrl::StrictMode);
  return url;
}

QString connectionMessage(const HttpResponse& response) {
  switch (response.outcome) {
    case HttpResponse::Outcome::TimedOut:
      return QStringLiteral("Flickr did not answer in time.");
    case HttpResponse::Outcome::Interrupted:
      return QStringLiteral("The connection to Flickr broke off.");
    case HttpResponse::Outcome::TooLarge:
      return QStringLiteral("Flickr's answer was larger than expected.");
    default:
      return QStringLiteral("Flickr could not be reached.");
  }
}

}  // namespace

FlickrAPIRequest::FlickrAPIRequest(FlickrContext* context, QNetworkAccessManager* network,
                                   QObject* parent)
    : QObject(parent), m_context(context), m_network(network) {}

FlickrAPIRequest::~FlickrAPIRequest() { cancel(); }

bool FlickrAPIRequest::isRunning() const { return m_http && m_http->isRunning(); }

void FlickrAPIRequest::cancel() {
  if (HttpRequest* http = m_http.data()) {
    m_http = nullptr;
    http->cancel();
    http->deleteLater();
  }
  m_callDelegate = nullptr;
  m_sessionInfo.clear();
}

FlickrAPIRequestDelegate* FlickrAPIRequest::callDelegate() const {
  return dynamic_cast<FlickrAPIRequestDelegate*>(m_callDelegate.data());
}

HttpRequest* FlickrAPIRequest::startCall(CallKind kind) {
  if (isRunning() && m_callDelegate != m_delegate) {
    // The replaced call's owner must still hear that it ended, or it would wait for ever. An
    // owner that replaces its own call knows already.
    QPointer<QObject> previous = m_callDelegate;
    QMetaObject::invokeMethod(
        this,
        [this, previous] {
          if (auto* delegate = dynamic_cast<FlickrAPIRequestDelegate*>(previous.data()))
            delegate->flickrAPIRequestDidFailWithError(
                this, {FlickrError::Kind::Superseded, 0,
                       QStringLiteral("Another Flickr request replaced this one.")});
        },
        Qt::QueuedConnection);
  }
  cancel();
  m_callDelegate = m_delegate;
  m_sent = m_total = 0;
  m_sessionInfo = kind == CallKind::RequestToken  ? QStringLiteral("kFetchRequestTokenStep")
                  : kind == CallKind::AccessToken ? QStringLiteral("kFetchAccessTokenStep")
                                                  : QString();
  auto* http = new HttpRequest(m_network, this);
  http->setTimeout(m_timeoutMs);
  // Larger answers than a page of photos are not expected from any call we make.
  http->setMaximumResponseBytes(8 << 20);
  connect(http, &HttpRequest::finished, this, [this, http, kind](const HttpResponse& response) {
    if (http != m_http) return;
    m_http = nullptr;
    http->deleteLater();
    finish(kind, response);
  });
  if (kind == CallKind::Upload)
    connect(http, &HttpRequest::uploadProgress, this, [this, http](qint64 sent, qint64 total) {
      if (http != m_http || total <= 0) return;
      m_sent = sent;
      m_total = total;
      if (FlickrAPIRequestDelegate* delegate = callDelegate())
        delegate->flickrAPIRequestImageUploadSentBytes(this, sent, total);
    });
  m_http = http;
  return http;
}

void FlickrAPIRequest::callAPIMethodWithGET(const QString& method, const QVariantMap& arguments) {
  QVariantMap all = arguments;
  all.insert(QStringLiteral("method"), method);
  all.insert(QStringLiteral("format"), QStringLiteral("json"));
  all.insert(QStringLiteral("nojsoncallback"), QStringLiteral("1"));
  const QUrl url = m_context->restURL();
  const auto signedArguments = m_context->signedArguments("GET", url, multiMapOf(all));
  startCall(CallKind::Rest)->send("GET", QNetworkRequest(withQuery(url, signedArguments)));
}

void FlickrAPIRequest::callAPIMethodWithPOST(const QString& method, const QVariantMap& arguments) {
  QVariantMap all = arguments;
  all.insert(QStringLiteral("method"), method);
  all.insert(QStringLiteral("format"), QStringLiteral("json"));
  all.insert(QStringLiteral("nojsoncallback"), QStringLiteral("1"));
  const QUrl url = m_context->restURL();
  const auto signedArguments = m_context->signedArguments("POST", url, multiMapOf(all));
  QNetworkRequest request(url);
  request.setHeader(QNetworkRequest::ContentTypeHeader,
                    QByteArrayLiteral("application/x-www-form-urlencoded"));
  startCall(CallKind::Rest)->send("POST", request, formEncoded(signedArguments));
}

void FlickrAPIRequest::uploadImageStream(std::unique_ptr<QIODevice> stream,
                                         const QString& suggestedFilename, const QString& mimeType,
                                         const QVariantMap& arguments) {
  const QUrl url = m_context->uploadURL();
  // The signature covers every field but the photo itself.
  const auto fields = m_context->signedArguments("POST", url, multiMapOf(arguments));
  auto multipart = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
  for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"%1\"").arg(it.key()));
    part.setBody(it.value().toString().toUtf8());
    multipart->append(part);
  }
  QHttpPart photo;
  // Quotes and line breaks would end the header early; the name is only a suggestion.
  QString filename = suggestedFilename;
  filename.remove(QLatin1Char('"')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
  photo.setHeader(QNetworkRequest::ContentDispositionHeader,
                  QStringLiteral("form-data; name=\"photo\"; filename=\"%1\"").arg(filename));
  photo.setHeader(QNetworkRequest::ContentTypeHeader, mimeType);
  QIODevice* device = stream.release();
  photo.setBodyDevice(device);
  device->setParent(multipart.get());
  multipart->append(photo);
  startCall(CallKind::Upload)->send("POST", QNetworkRequest(url), std::move(multipart));
}

void FlickrAPIRequest::fetchOAuthRequestTokenWithCallbackURL(const QUrl& callbackURL) {
  // A request token is asked for without any earlier token.
  m_context->setOAuthToken({}, {});
  QMultiMap<QString, QVariant> arguments;
  arguments.insert(QStringLiteral("oauth_callback"), callbackURL.toString(QUrl::FullyEncoded));
  const QUrl url = m_context->requestTokenURL();
  startCall(CallKind::RequestToken)
      ->send("GET",
             QNetworkRequest(withQuery(url, m_context->signedArguments("GET", url, arguments))));
}

void FlickrAPIRequest::fetchOAuthAccessTokenWithRequestToken(const QString& requestToken,
                                                             const QString& verifier) {
  m_context->setOAuthToken(requestToken, m_context->oauthTokenSecret());
  QMultiMap<QString, QVariant> arguments;
  arguments.insert(QStringLiteral("oauth_verifier"), verifier);
  const QUrl url = m_context->accessTokenURL();
  startCall(CallKind::AccessToken)
      ->send("GET",
             QNetworkRequest(withQuery(url, m_context->signedArguments("GET", url, arguments))));
}

void FlickrAPIRequest::finish(CallKind kind, const HttpResponse& response) {
  m_sessionInfo.clear();
  if (response.outcome != HttpResponse::Outcome::Completed)
    return fail({FlickrError::Kind::Connection, 0, connectionMessage(response)});
  if (kind == CallKind::RequestToken || kind == CallKind::AccessToken)
    return finishTokens(kind, response);
  finishRest(response);
}

void FlickrAPIRequest::finishRest(const HttpResponse& response) {
  const auto parsed = FlickrResponses::parse(response.body);
  if (parsed) {
    if (const auto error = FlickrResponses::errorOf(*parsed))
      return fail({FlickrError::Kind::Service, error->code, error->message});
  } else if (const auto problem = FlickrResponses::oauthProblemOf(response.body)) {
    return fail({FlickrError::Kind::Service, problem->code, problem->message});
  }
  if (!response.succeeded())
    return fail({FlickrError::Kind::Http, response.status,
                 QStringLiteral("Flickr answered with HTTP status %1.").arg(response.status)});
  if (!parsed || !FlickrResponses::isOk(*parsed))
    return fail(
        {FlickrError::Kind::Response, 0, QStringLiteral("Flickr's answer was unreadable.")});
  // The last progress may still have been on its way when the answer came: the whole body
  // has gone out once the service answers.
  FlickrAPIRequestDelegate* delegate = callDelegate();
  if (delegate && m_total > 0 && m_sent < m_total)
    delegate->flickrAPIRequestImageUploadSentBytes(this, m_total, m_total);
  m_callDelegate = nullptr;
  if (delegate) delegate->flickrAPIRequestDidCompleteWithResponse(this, *parsed);
}

void FlickrAPIRequest::finishTokens(CallKind kind, const HttpResponse& response) {
  if (!response.succeeded()) {
    if (const auto problem = FlickrResponses::oauthProblemOf(response.body))
      return fail({FlickrError::Kind::Service, problem->code, problem->message});
    return fail({FlickrError::Kind::Http, response.status,
                 QStringLiteral("Flickr answered with HTTP status %1.").arg(response.status)});
  }
  const auto tokens = FlickrResponses::parseTokens(response.body);
  if (!tokens)
    return fail(
        {FlickrError::Kind::Response, 0, QStringLiteral("Flickr's answer was unreadable.")});
  FlickrAPIRequestDelegate* delegate = callDelegate();
  m_callDelegate = nullptr;
  if (!delegate) return;
  if (kind == CallKind::RequestToken)
    delegate->flickrAPIRequestDidObtainOAuthRequestToken(this, tokens->token, tokens->tokenSecret);
  else
    delegate->flickrAPIRequestDidObtainOAuthAccessToken(this, tokens->token, tokens->tokenSecret,
                                                        tokens->userFullName, tokens->userName,
                                                        tokens->userNSID);
}

void FlickrAPIRequest::fail(FlickrError error) {
  FlickrAPIRequestDelegate* delegate = callDelegate();
  m_callDelegate = nullptr;
  if (delegate) delegate->flickrAPIRequestDidFailWithError(this, error);
}

}  // namespace duo
