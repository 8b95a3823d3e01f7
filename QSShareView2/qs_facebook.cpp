#include "qs_facebook.h"

#include <QBuffer>
#include <QFile>
#include <QHttpMultiPart>
#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrl>

#include <algorithm>

#include "facebook_graph_client.h"
#include "facebook_responses.h"
#include "http_request.h"
#include "qs_facebook_album.h"
#include "qs_facebook_photos_data_source.h"
#include "settings_store.h"
#include "token_store.h"

namespace duo {

namespace {

constexpr int kImageKind = 1;
constexpr int kVideoKind = 2;
constexpr int kJpegQuality = 90;

QHttpPart formPart(const QString& name, const QByteArray& value) {
  QHttpPart part;
  part.setHeader(QNetworkRequest::ContentDispositionHeader,
                 QStringLiteral("form-data; name=\"%1\"").arg(name));
  part.setBody(value);
  return part;
}

QHttpPart filePart(const QString& name, const QString& fileName, const QByteArray& type,
                   QIODevice* body) {
  QHttpPart part;
  part.setHeader(QNetworkRequest::ContentDispositionHeader,
                 QStringLiteral("form-data; name=\"%1\"; filename=\"%2\"").arg(name, fileName));
  part.setHeader(QNetworkRequest::ContentTypeHeader, type);
  part.setBodyDevice(body);
  return part;
}

}  // namespace

QStringList QSFacebook::readPermissions() {
  return {QStringLiteral("read_stream"), QStringLiteral("user_photos"),
          QStringLiteral("read_friendlists")};
}

QSFacebook::QSFacebook(QObject* parent)
    : QSFacebook(
          FacebookConfig::fromEnvironment(&SettingsStore::standard()),
          new TokenStore(SettingsStore::standard(), TokenStore::Backend::SecretServiceOrFile),
          nullptr, parent) {}

QSFacebook::QSFacebook(FacebookConfig config, TokenStore* tokens, QNetworkAccessManager* network,
                       QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_tokens(tokens), m_network(network) {
  m_tokens->setParent(this);
  if (!m_network) m_network = new QNetworkAccessManager(this);
}

QSFacebook::~QSFacebook() {
  // Nothing may report into a half-destroyed client.
  if (m_photosDataSource) m_photosDataSource->setDelegate(nullptr);
  cancelAllFacebookOperations();
}

void QSFacebook::setBrowserOpener(FacebookSession::BrowserOpener opener) {
  m_browserOpener = std::move(opener);
  if (m_session && m_browserOpener) m_session->setBrowserOpener(m_browserOpener);
}

FacebookSession* QSFacebook::session() {
  if (!m_session) {
    auto* session = new FacebookSession(m_config, readPermissions(), m_tokens, m_network, this);
    if (m_browserOpener) session->setBrowserOpener(m_browserOpener);
    connect(session, &FacebookSession::stateChanged, this,
            [this, session](FacebookSession::State state, const QString& error) {
              sessionStateChanged(session, state, error);
            });
    m_session = session;
    facebookClient();
    // A token stored by an earlier run opens the session without asking anyone.
    session->whenReady([session] {
      if (session->state() == FacebookSession::State::CreatedTokenLoaded) session->open();
    });
  }
  return m_session;
}

FacebookGraphClient* QSFacebook::facebookClient() {
  if (!m_facebookClient) {
    auto* client = new FacebookGraphClient(m_network, m_config.graphUrl, m_config.timeoutMs, this);
    client->setDefaultHeader("Accept", "application/json");
    if (m_session && m_session->isOpen())
      client->setDefaultHeader("Authorization", "OAuth " + m_session->accessToken().toUtf8());
    connect(client, &FacebookGraphClient::tokenRejected, this, [this] {
      if (m_session && m_session->isOpen()) m_session->closeAndClearTokenInformation();
    });
    m_facebookClient = client;
  }
  return m_facebookClient;
}

QSFacebookPhotosDataSource* QSFacebook::photosDataSource() {
  if (!m_photosDataSource) {
    auto* source = new QSFacebookPhotosDataSource(this);
    source->setFacebook(this);
    m_photosDataSource = source;
  }
  return m_photosDataSource;
}

QString QSFacebook::accessToken() const { return m_session ? m_session->accessToken() : QString(); }

bool QSFacebook::hasPublishPermissions() const {
  return m_session && m_session->permissions().contains(QLatin1String(kPublishPermission));
}

bool QSFacebook::isLoggedIn() const { return m_session && m_session->isOpen(); }

bool QSFacebook::handleOpenURL(const QUrl& url) { return session()->handleOpenURL(url); }

void QSFacebook::tellDelegate(const char* method) {
  QObject* delegate = m_delegate;
  if (!delegate) return;
  const QByteArray signature = QByteArray(method) + "()";
  if (delegate->metaObject()->indexOfMethod(signature.constData()) >= 0)
    QMetaObject::invokeMethod(delegate, method);
}

void QSFacebook::login() {
  if (isLoggedIn()) {
    tellDelegate("loggedIn");
    return;
  }
  if (FacebookSession* old = m_session) {
    old->disconnect(this);
    old->deleteLater();
    m_session = nullptr;
  }
  FacebookSession* fresh = session();
  fresh->whenReady([fresh] { fresh->open(); });
}

bool QSFacebook::isLoggingIn() const {
  return m_session && m_session->state() == FacebookSession::State::Opening;
}

void QSFacebook::cancelLogin() {
  if (isLoggingIn()) m_session->cancelOpening();  // tells the delegate loggedOut
}

void QSFacebook::handleDidBecomeActive() {
  if (m_session) m_session->handleDidBecomeActive();
}

void QSFacebook::logout() {
  FacebookSession* current = session();
  current->closeAndClearTokenInformation();  // tells the delegate through the state change
  current->disconnect(this);
  current->deleteLater();
  m_session = nullptr;
}

void QSFacebook::cancelAllFacebookOperations() {
  // The upload and the album list are told as well, or they would wait for an answer that no
  // longer comes: the upload busy for good, the list never loading again.
  cancelUpload();
  if (m_photosDataSource) m_photosDataSource->cancel();
  if (m_facebookClient) m_facebookClient->cancelAllOperations();
}

void QSFacebook::sessionStateChanged(FacebookSession* session, FacebookSession::State state,
                                     const QString& error) {
  switch (state) {
    case FacebookSession::State::ClosedLoginFailed:
    case FacebookSession::State::Closed:
      if (m_facebookClient) m_facebookClient->setDefaultHeader("Authorization", {});
      tellDelegate("loggedOut");
      break;
    case FacebookSession::State::Open:
      facebookClient()->setDefaultHeader("Authorization",
                                         "OAuth " + session->accessToken().toUtf8());
      tellDelegate("loggedIn");
      break;
    default:
      break;
  }
  if (!error.isEmpty()) emit alertRequested(QStringLiteral("Error"), error, QStringLiteral("OK"));
}

void QSFacebook::getFriendList(FriendListBlock block) {
  HttpRequest* request = facebookClient()->get(QStringLiteral("me/friendlists"));
  connect(request, &HttpRequest::finished, this, [block](const HttpResponse& response) {
    QList<QSFacebookFriendList> lists;
    if (const auto data =
            response.succeeded() ? FacebookResponses::parseData(response.body) : std::nullopt)
      for (const QJsonValue& value : *data) lists << QSFacebookFriendList(value.toObject());
    if (block) block(lists);
  });
}

void QSFacebook::requestPublishPermissionsAndExecuteBlock(PermissionBlock block) {
  m_permissionError.clear();
  if (hasPublishPermissions()) {
    if (block) block(true);
    return;
  }
  session()->requestNewPublishPermissions(
      {QString::fromLatin1(kPublishPermission)}, QString::fromLatin1(kPublishAudience),
      [this, block](bool granted, const QString& error) {
        m_permissionError = error;
        if (granted && m_facebookClient && m_session)
          m_facebookClient->setDefaultHeader("Authorization",
                                             "OAuth " + m_session->accessToken().toUtf8());
        if (block) block(granted);
      });
}

void QSFacebook::getAlbums(AlbumsBlock block) {
  m_uploadAlbums = std::move(block);
  photosDataSource()->setDelegate(this);
  photosDataSource()->getItems();
}

void QSFacebook::itemsAreAvailable(QSDataSource* source, int status) {
  if (status != 0 && status != 2) return;
  if (!m_uploadAlbums) return;
  AlbumsBlock block = std::exchange(m_uploadAlbums, nullptr);
  const int n = source->numberOfItems();
  if (n == 0) return;
  QList<QSFacebookAlbum*> albums;
  for (int i = 0; i < n; ++i)
    if (auto* album = qobject_cast<QSFacebookAlbum*>(source->itemForIndex(i)))
      if (!album->caption().isNull()) albums << album;
  const QString own = QString::fromLatin1(kAlbumName);
  const auto isOwn = [&](const QSFacebookAlbum* album) { return album->caption() == own; };
  if (std::none_of(albums.cbegin(), albums.cend(), isOwn)) {
    if (!m_defaultAlbum)
      m_defaultAlbum =
          new QSFacebookAlbum(QJsonObject{{QStringLiteral("name"), own}}, nullptr, QString(), this);
    albums << m_defaultAlbum;
  }
  std::stable_sort(albums.begin(), albums.end(),
                   [](const QSFacebookAlbum* a, const QSFacebookAlbum* b) {
                     return a->caption() < b->caption();
                   });
  const auto found = std::find_if(albums.cbegin(), albums.cend(), isOwn);
  block(albums, found == albums.cend() ? 0 : int(found - albums.cbegin()));
}

void QSFacebook::uploadImage(const QVariant& image, QSFacebookAlbum* album, const QString& title,
                             const QString& description, const QVariantMap& attributes,
                             Completion completion) {
  uploadItem(image, album, title, description, attributes, std::move(completion));
}

void QSFacebook::uploadItem(const QVariant& item, QSFacebookAlbum* album, const QString&,
                            const QString& description, const QVariantMap& attributes,
                            Completion completion) {
  int kind = 0;
  if (item.typeId() == QMetaType::QImage && !item.value<QImage>().isNull())
    kind = kImageKind;
  else if (item.typeId() == QMetaType::QUrl && item.toUrl().isLocalFile())
    kind = kVideoKind;
  m_uploadCompletion = std::move(completion);
  if (kind == 0) return;
  // A new upload replaces one under way, which is dropped without a completion.
  if (m_isUploading && m_uploadRequestConnection) {
    m_uploadRequestConnection->cancel();
    m_uploadRequestConnection->deleteLater();
  }
  m_isUploading = false;
  m_uploadErrorMessage.clear();
  const quint64 generation = ++m_uploadGeneration;
  QString audience = attributes.value(QString::fromLatin1(kAudienceKey)).toString();
  if (audience.isEmpty()) audience = QString::fromLatin1(kDefaultAudience);
  // The album may be gone by the time the permission comes; its identifier is all we need.
  const QString albumID = album ? album->albumID() : QString();
  if (!isConfigured()) {
    m_uploadErrorMessage = QStringLiteral("Facebook is not set up in this build of Duoscope.");
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
          if (generation == m_uploadGeneration) uploadCompleteWithResult(1);
        },
        Qt::QueuedConnection);
    return;
  }
  requestPublishPermissionsAndExecuteBlock(
      [this, kind, item, albumID, description, audience, generation](bool granted) {
        if (generation != m_uploadGeneration) return;
        if (!granted) {
          m_uploadErrorMessage = m_permissionError;
          uploadCompleteWithResult(2);
          return;
        }
        startUpload(kind, item, albumID, description, audience, generation);
      });
}

void QSFacebook::startUpload(int kind, const QVariant& item, const QString& albumID,
                             const QString& description, const QString& audience,
                             quint64 generation) {
  m_isUploading = true;
  m_uploadSent = m_uploadTotal = 0;
  auto body = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
  QJsonObject privacy{{QStringLiteral("value"), audience}};
  body->append(
      formPart(QStringLiteral("privacy"), QJsonDocument(privacy).toJson(QJsonDocument::Compact)));
  QString path;
  if (kind == kImageKind) {
    path = albumID.isEmpty() ? QStringLiteral("me/photos") : albumID + QStringLiteral("/photos");
    // Encoded once into the buffer the request streams from; no copy on disk.
    auto* jpeg = new QBuffer(body.get());
    jpeg->open(QIODevice::ReadWrite);
    QImageWriter writer(jpeg, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(item.value<QImage>())) {
      m_uploadErrorMessage = QStringLiteral("The photo could not be prepared for sending.");
      QMetaObject::invokeMethod(
          this,
          [this, generation] {
            if (generation == m_uploadGeneration && m_isUploading) uploadCompleteWithResult(1);
          },
          Qt::QueuedConnection);
      return;
    }
    jpeg->seek(0);
    body->append(
        filePart(QStringLiteral("picture"), QStringLiteral("picture.jpg"), "image/jpeg", jpeg));
    body->append(formPart(QStringLiteral("caption"), description.toUtf8()));
  } else {
    path = QStringLiteral("me/videos");
    auto* file = new QFile(item.toUrl().toLocalFile(), body.get());
    if (!file->open(QIODevice::ReadOnly)) {
      m_uploadErrorMessage = QStringLiteral("The video file could not be read.");
      QMetaObject::invokeMethod(
          this,
          [this, generation] {
            if (generation == m_uploadGeneration && m_isUploading) uploadCompleteWithResult(1);
          },
          Qt::QueuedConnection);
      return;
    }
    body->append(
        filePart(QStringLiteral("video.mp4"), QStringLiteral("video.mp4"), "video/mp4", file));
    body->append(formPart(QStringLiteral("contentType"), "video/mp4"));
    body->append(formPart(QStringLiteral("description"), description.toUtf8()));
  }
  HttpRequest* request = facebookClient()->postMultipart(path, std::move(body));
  m_uploadRequestConnection = request;
  connect(request, &HttpRequest::uploadProgress, this,
          [this, generation](qint64 sent, qint64 total) {
            if (generation != m_uploadGeneration || !m_isUploading) return;
            m_uploadSent = sent;
            m_uploadTotal = total;
            if (m_uploadProgress) m_uploadProgress(sent, total);
          });
  connect(request, &HttpRequest::finished, this, [this, generation](const HttpResponse& response) {
    if (generation != m_uploadGeneration || !m_isUploading) return;
    m_uploadRequestConnection = nullptr;
    const bool posted = response.succeeded() && FacebookResponses::parsePostedId(response.body);
    // The last progress notice may still be on its way; the whole went out.
    if (posted && m_uploadProgress && m_uploadTotal > 0 && m_uploadSent != m_uploadTotal)
      m_uploadProgress(m_uploadTotal, m_uploadTotal);
    if (!posted) {
      const auto error = FacebookResponses::parseError(response.body);
      m_uploadErrorMessage =
          error && !error->message.isEmpty() ? error->message : response.errorText;
    }
    uploadCompleteWithResult(posted ? 0 : 1);
  });
}

void QSFacebook::cancelUpload() {
  if (!m_isUploading) return;
  if (HttpRequest* request = m_uploadRequestConnection) {
    request->cancel();
    request->deleteLater();
  }
  m_uploadRequestConnection = nullptr;
  m_uploadAlbums = nullptr;
  m_uploadProgress = nullptr;
  m_uploadCompletion = nullptr;
  m_isUploading = false;
  ++m_uploadGeneration;
}

void QSFacebook::uploadCompleteWithResult(int result) {
  // Forgotten before the completion runs: a completion that starts the next upload must keep
  // its own blocks.
  Completion completion = std::exchange(m_uploadCompletion, nullptr);
  m_uploadAlbums = nullptr;
  m_uploadProgress = nullptr;
  m_isUploading = false;
  m_uploadRequestConnection = nullptr;
  m_uploadWasRefused = result == 2;
  if (completion) completion(result);
}

}  // namespace duo
