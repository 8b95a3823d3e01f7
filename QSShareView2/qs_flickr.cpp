#include "qs_flickr.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QUrlQuery>

#include "flickr_context.h"
#include "flickr_oauth_callback.h"
#include "qs_flickr_photos_data_source.h"
#include "qs_flickr_request.h"
#include "settings_store.h"
#include "token_store.h"

namespace duo {

namespace {

constexpr int kJpegQuality = 80;

FlickrConfig configWithKey(const QString& apiKey, const QString& secret) {
  FlickrConfig config = ServiceConfig::flickr(&SettingsStore::standard());
  config.apiKey = apiKey;
  config.sharedSecret = secret;
  return config;
}

QString textOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QVariantMap)
    return value.toMap().value(QStringLiteral("_text")).toString();
  return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

}  // namespace

QSFlickr::QSFlickr(QObject* parent) : QSFlickr(QString(), QString(), parent) {}

QSFlickr::QSFlickr(const QString& apiKey, const QString& secret, QObject* parent)
    : QSFlickr(configWithKey(apiKey, secret), nullptr, nullptr, parent) {
  m_network = new QNetworkAccessManager(this);
  m_tokens =
      new TokenStore(SettingsStore::standard(), TokenStore::Backend::SecretServiceOrFile, this);
}

QSFlickr::QSFlickr(FlickrConfig config, TokenStore* tokens, QNetworkAccessManager* network,
                   QObject* parent)
    : QObject(parent),
      m_config(std::move(config)),
      m_tokens(tokens),
      m_network(network),
      m_openBrowser([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {}

QSFlickr::~QSFlickr() {
  // The request object signs with the context, which goes before QObject's children do.
  delete m_flickrRequest.data();
}

void QSFlickr::setDelegate(QSFlickrDelegate* delegate, QObject* object) {
  m_delegate = delegate;
  m_delegateObject = object;
}

QUrl QSFlickr::callbackURL() const {
  return QUrl(QStringLiteral("flickr") + m_config.apiKey + QStringLiteral("://authorize"));
}

FlickrContext* QSFlickr::flickrContext() {
  if (!m_context) {
    m_context = std::make_unique<FlickrContext>(m_config);
    loadStoredToken();
  }
  return m_context.get();
}

FlickrAPIRequest* QSFlickr::flickrRequest() {
  if (!m_flickrRequest) {
    auto* request = new FlickrAPIRequest(flickrContext(), m_network, this);
    request->setDelegate(this);
    request->setRequestTimeoutInterval(m_config.timeoutMs / 1000.0);
    m_flickrRequest = request;
  }
  return m_flickrRequest;
}

void QSFlickr::loadStoredToken() {
  if (!m_tokens) {
    m_ready = true;
    return;
  }
  const quint64 generation = m_tokenGeneration;
  auto token = std::make_shared<QString>();
  m_tokens->read(QString::fromLatin1(kOAuthTokenKey),
                 [token](const QString& value) { *token = value; });
  // The store answers in order, so the secret's answer comes last.
  m_tokens->read(QString::fromLatin1(kOAuthTokenSecretKey),
                 [this, token, generation](const QString& secret) {
                   // A sign-in or sign-out since the read began knows better.
                   if (generation == m_tokenGeneration && !token->isEmpty() && !secret.isEmpty()) {
                     m_context->setOAuthToken(*token, secret);
                     m_loggedInFlag = true;
                   }
                   m_ready = true;
                   for (auto& waiter : std::exchange(m_readyWaiters, {})) waiter();
                 });
}

void QSFlickr::whenReady(std::function<void()> done) {
  flickrContext();
  if (m_ready)
    done();
  else
    m_readyWaiters.push_back(std::move(done));
}

bool QSFlickr::isLoggedIn() {
  FlickrContext* context = flickrContext();
  return !context->oauthToken().isEmpty() && !context->oauthTokenSecret().isEmpty() &&
         m_loggedInFlag;
}

void QSFlickr::tellLoggedIn() {
  if (m_delegate && m_delegateObject) m_delegate->loggedIn();
}

void QSFlickr::tellLoggedOut() {
  if (m_delegate && m_delegateObject) m_delegate->loggedOut();
}

bool QSFlickr::login() {
  if (!isConfigured()) return false;
  if (!m_ready) {
    whenReady([this] { login(); });
    return true;
  }
  if (isLoggedIn()) {
    tellLoggedIn();
    return true;
  }
  // Sign-in takes the request object: an upload on it could not finish any more.
  if (m_isUploading) failUploadLater();
  setAndStoreFlickrAuthToken({}, {});
  m_pendingRequestToken.clear();
  flickrRequest()->setDelegate(this);
  flickrRequest()->fetchOAuthRequestTokenWithCallbackURL(callbackURL());
  return true;
}

void QSFlickr::logout() {
  setAndStoreFlickrAuthToken({}, {});
  m_loggedInFlag = false;
  m_pendingRequestToken.clear();
  m_flickrUserName.clear();
  tellLoggedOut();
}

void QSFlickr::setAndStoreFlickrAuthToken(const QString& token, const QString& secret) {
  ++m_tokenGeneration;
  const bool store = !token.isEmpty() && !secret.isEmpty();
  flickrContext()->setOAuthToken(store ? token : QString(), store ? secret : QString());
  if (!m_tokens) return;
  // An empty value removes the key.
  m_tokens->write(QString::fromLatin1(kOAuthTokenKey), store ? token : QString());
  m_tokens->write(QString::fromLatin1(kOAuthTokenSecretKey), store ? secret : QString());
}

bool QSFlickr::handleOpenURL(const QUrl& url) {
  QString token;
  QString verifier;
  return OFExtractOAuthCallback(url, callbackURL(), &token, &verifier) &&
         finishLogin(token, verifier);
}

bool QSFlickr::finishLogin(const QString& requestToken, const QString& verifier) {
  // Only the sign-in this client started can be finished: a URL with another token could
  // sign the user in to someone else's account, and belongs to another window's sign-in.
  if (!isConfigured() || m_pendingRequestToken.isEmpty() || requestToken != m_pendingRequestToken ||
      verifier.isEmpty())
    return false;
  m_pendingRequestToken.clear();
  if (m_isUploading) failUploadLater();
  flickrRequest()->setDelegate(this);
  flickrRequest()->fetchOAuthAccessTokenWithRequestToken(requestToken, verifier);
  return true;
}

void QSFlickr::cancelLogin() {
  if (m_pendingRequestToken.isEmpty() && flickrRequest()->sessionInfo().isEmpty()) return;
  m_pendingRequestToken.clear();
  if (!flickrRequest()->sessionInfo().isEmpty()) flickrRequest()->cancel();
  if (!m_loggedInFlag) flickrContext()->setOAuthToken({}, {});
  tellLoggedOut();
}

bool QSFlickr::handleError(const FlickrError& error) {
  if (error.kind != FlickrError::Kind::Service ||
      error.code != FlickrResponses::kInvalidAuthTokenCode)
    return false;
  logout();
  return true;
}

void QSFlickr::getPhotosets(PhotosetsBlock block) {
  if (!isConfigured()) {
    QMetaObject::invokeMethod(
        this,
        [block] {
          if (block) block({QSFlickrPhotoset::none()});
        },
        Qt::QueuedConnection);
    return;
  }
  replaceRequest(new QSFlickrRequest(this, this));
  m_request->callAPI(QStringLiteral("flickr.photosets.getList"), 0, {},
                     [this, block](const std::optional<QVariantMap>& response, bool failed,
                                   const std::optional<FlickrError>& error) {
                       if (failed && error) handleError(*error);
                       if (block) block(parsePhotosets(response.value_or(QVariantMap())));
                     });
}

QList<QSFlickrPhotoset> QSFlickr::parsePhotosets(const QVariantMap& response) {
  QList<QSFlickrPhotoset> result{QSFlickrPhotoset::none()};
  if (!FlickrResponses::isOk(response)) return result;
  const QVariant list =
      response.value(QStringLiteral("photosets")).toMap().value(QStringLiteral("photoset"));
  // The XML form of a list with one element is that element itself.
  const QVariantList elements = list.typeId() == QMetaType::QVariantList  ? list.toList()
                                : list.typeId() == QMetaType::QVariantMap ? QVariantList{list}
                                                                          : QVariantList{};
  for (const QVariant& element : elements) {
    if (element.typeId() != QMetaType::QVariantMap) continue;
    QSFlickrPhotoset photoset(element.toMap());
    // A set without an identifier could not be added to; "0" is taken by "None".
    if (photoset.photosetID().isEmpty() || photoset.isNone()) continue;
    result.append(photoset);
  }
  return result;
}

void QSFlickr::assignUploadPhotosetWithResponse(const QVariantMap& response) {
  const QString photoID = textOf(response.value(QStringLiteral("photoid")));
  if (!FlickrResponses::isOk(response) || photoID.isEmpty()) {
    // The photo is on the service; it is only not in the set.
    uploadCompleteWithResult(0);
    return;
  }
  replaceRequest(new QSFlickrRequest(this, this));
  const quint64 generation = m_uploadGeneration;
  m_request->callAPI(
      QStringLiteral("flickr.photosets.addPhoto"), 1,
      {{QStringLiteral("photoset_id"), m_uploadPhotosetID}, {QStringLiteral("photo_id"), photoID}},
      [this, generation](const std::optional<QVariantMap>&, bool,
                         const std::optional<FlickrError>&) {
        if (m_isUploading && generation == m_uploadGeneration) uploadCompleteWithResult(0);
      });
}

void QSFlickr::uploadImage(const QImage& image, const QString&, const QString& title,
                           const QString& description, const QVariantMap& attributes,
                           Completion completion) {
  // A new upload replaces one under way, which is dropped without a completion.
  if (m_isUploading) flickrRequest()->cancel();
  m_isUploading = true;
  ++m_uploadGeneration;
  m_uploadCompletion = std::move(completion);
  m_uploadPhotosetID.clear();

  auto jpeg = std::make_unique<QBuffer>();
  jpeg->open(QIODevice::WriteOnly);
  if (!isConfigured() || image.isNull() || !image.save(jpeg.get(), "JPEG", kJpegQuality)) {
    failUploadLater();
    return;
  }
  jpeg->close();
  jpeg->open(QIODevice::ReadOnly);

  QVariantMap arguments{{QStringLiteral("tags"), QStringLiteral("duoscope")},
                        {QStringLiteral("content_type"), QStringLiteral("1")},
                        {QStringLiteral("hidden"), QStringLiteral("1")}};
  const QVariant photoset = attributes.value(QString::fromLatin1(kQSFlickrPhotosetKey));
  if (photoset.canConvert<QSFlickrPhotoset>()) {
    const QSFlickrPhotoset set = photoset.value<QSFlickrPhotoset>();
    if (!set.isNone() && !set.photosetID().isEmpty()) m_uploadPhotosetID = set.photosetID();
  }
  const int audience = attributes.value(QString::fromLatin1(kQSFlickrAudienceKey), 0).toInt();
  const auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
  arguments.insert(QStringLiteral("is_public"), flag(audience == 0));
  arguments.insert(QStringLiteral("is_friend"), flag(audience == 1));
  arguments.insert(QStringLiteral("is_family"), flag(audience == 2));
  if (!title.isEmpty()) arguments.insert(QStringLiteral("title"), title);
  if (!description.isEmpty()) arguments.insert(QStringLiteral("description"), description);

  flickrRequest()->setDelegate(this);
  flickrRequest()->uploadImageStream(std::move(jpeg), QString::fromLatin1(kUploadFileName),
                                     QStringLiteral("image/jpeg"), arguments);
}

void QSFlickr::failUploadLater() {
  // Reported from the event loop, never from inside the call that started the upload.
  QMetaObject::invokeMethod(
      this,
      [this, generation = m_uploadGeneration] {
        if (m_isUploading && generation == m_uploadGeneration) uploadCompleteWithResult(1);
      },
      Qt::QueuedConnection);
}

void QSFlickr::cancelUpload() {
  if (!m_isUploading) return;
  flickrRequest()->cancel();
  m_uploadProgress = nullptr;
  m_uploadCompletion = nullptr;
  m_uploadPhotosetID.clear();
  m_isUploading = false;
  ++m_uploadGeneration;
}

void QSFlickr::uploadCompleteWithResult(int result) {
  // Cleared before the completion runs, so that a completion starting the next upload keeps
  // its own blocks.
  Completion completion = std::move(m_uploadCompletion);
  m_uploadProgress = nullptr;
  m_uploadCompletion = nullptr;
  m_uploadPhotosetID.clear();
  m_isUploading = false;
  ++m_uploadGeneration;
  if (completion) completion(result);
}

void QSFlickr::flickrAPIRequestDidObtainOAuthRequestToken(FlickrAPIRequest* request,
                                                          const QString& token,
                                                          const QString& secret) {
  request->setDelegate(this);
  flickrContext()->setOAuthToken(token, secret);
  m_pendingRequestToken = token;
  const QUrl page = flickrContext()->userAuthorizationURL(token, QStringLiteral("write"));
  if (!m_openBrowser || !m_openBrowser(page)) {
    m_pendingRequestToken.clear();
    flickrContext()->setOAuthToken({}, {});
    tellLoggedOut();
  }
}

void QSFlickr::flickrAPIRequestDidObtainOAuthAccessToken(FlickrAPIRequest* request,
                                                         const QString& token,
                                                         const QString& secret, const QString&,
                                                         const QString& userName, const QString&) {
  request->setDelegate(this);
  setAndStoreFlickrAuthToken(token, secret);
  m_flickrUserName = userName;
  m_loggedInFlag = true;
  tellLoggedIn();
}

void QSFlickr::flickrAPIRequestImageUploadSentBytes(FlickrAPIRequest*, qint64 sent, qint64 total) {
  if (m_isUploading && m_uploadProgress) m_uploadProgress(sent, total);
}

void QSFlickr::flickrAPIRequestDidCompleteWithResponse(FlickrAPIRequest*,
                                                       const QVariantMap& response) {
  if (!m_isUploading) return;
  if (!m_uploadPhotosetID.isEmpty())
    assignUploadPhotosetWithResponse(response);
  else
    uploadCompleteWithResult(0);
}

void QSFlickr::flickrAPIRequestDidFailWithError(FlickrAPIRequest*, const FlickrError& error) {
  // A refused token ends the session whichever call found out (a refused sign-in step had no
  // session to end).
  if (m_loggedInFlag) handleError(error);
  if (m_isUploading) {
    uploadCompleteWithResult(1);
    return;
  }
  // A failed sign-in step leaves the client signed out; the upload screen keeps its "Login"
  // and stops waiting for the browser.
  if (!m_loggedInFlag) {
    m_pendingRequestToken.clear();
    flickrContext()->setOAuthToken({}, {});
    if (error.kind != FlickrError::Kind::Superseded) tellLoggedOut();
  }
}

QSFlickrRequest* QSFlickr::request() const { return m_request; }

void QSFlickr::replaceRequest(QSFlickrRequest* next) {
  // A request still waiting for its answer stays (it is this client's child): it may yet hear
  // that a newer call replaced its own, and an upload waiting on it must hear the end.
  if (m_request && !m_request->completion()) m_request->deleteLater();
  m_request = next;
}

QSFlickrPhotosDataSource* QSFlickr::photosDataSource() {
  if (!m_photosDataSource) m_photosDataSource = new QSFlickrPhotosDataSource(this, this);
  return m_photosDataSource;
}

}  // namespace duo
