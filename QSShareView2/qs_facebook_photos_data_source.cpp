#include "qs_facebook_photos_data_source.h"

#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScreen>

#include "background_queue.h"
#include "facebook_graph_client.h"
#include "facebook_responses.h"
#include "http_request.h"
#include "image_resources.h"
#include "qs_facebook.h"
#include "qs_facebook_album.h"

namespace duo {

QSFacebookPhotosDataSource::QSFacebookPhotosDataSource(QObject* parent) : QSDataSource(parent) {
  setDataSourceType(kServiceDataSourceType);
  setCaption(QStringLiteral("Facebook"));
}

QSFacebookPhotosDataSource::~QSFacebookPhotosDataSource() { cancel(); }

QSFacebook* QSFacebookPhotosDataSource::facebook() const { return m_facebook; }

void QSFacebookPhotosDataSource::setFacebook(QSFacebook* facebook) { m_facebook = facebook; }

QImage QSFacebookPhotosDataSource::dataLogo() const {
  return imageNamed(QStringLiteral("Facebook Logo.png"));
}

QSDataSource* QSFacebookPhotosDataSource::itemForIndex(int index) const { return albumAt(index); }

QSFacebookAlbum* QSFacebookPhotosDataSource::albumAt(int index) const {
  return index >= 0 && index < int(m_albums.size()) ? m_albums[size_t(index)] : nullptr;
}

void QSFacebookPhotosDataSource::getItems() {
  if (m_gettingItems) return;
  if (m_allLoaded) {
    notifyDelegate(0);
    return;
  }
  m_attempt = 0;
  m_gettingItems = true;
  getAlbumsForOffset(m_offset);
}

void QSFacebookPhotosDataSource::cancel() {
  // Only this loader's own request: the client may be uploading at the same time.
  ++m_generation;
  if (m_request) {
    m_request->cancel();
    m_request->deleteLater();
  }
  m_request = nullptr;
  m_gettingItems = false;
}

void QSFacebookPhotosDataSource::reset() {
  cancel();
  for (QSFacebookAlbum* album : std::exchange(m_albums, {})) album->deleteLater();
  m_offset = 0;
  m_allLoaded = false;
  QSDataSource::reset();
}

QByteArray QSFacebookPhotosDataSource::batchFor(int offset) {
  QJsonObject albums;
  albums.insert(QStringLiteral("method"), QStringLiteral("GET"));
  albums.insert(QStringLiteral("name"), QStringLiteral("get-albums"));
  albums.insert(QStringLiteral("relative_url"),
                QStringLiteral("me/albums?offset=%1&limit=%2&fields=id,name,cover_photo,count")
                    .arg(offset)
                    .arg(kPageSize));
  albums.insert(QStringLiteral("omit_response_on_success"), false);
  QJsonObject covers;
  covers.insert(QStringLiteral("method"), QStringLiteral("GET"));
  covers.insert(QStringLiteral("relative_url"),
                QStringLiteral("?ids={result=get-albums:$.data.*.cover_photo}"
                               "&fields=picture,width,height,images"));
  return QJsonDocument(QJsonArray{albums, covers}).toJson(QJsonDocument::Compact);
}

void QSFacebookPhotosDataSource::getAlbumsForOffset(int offset) {
  ++m_attempt;
  const quint64 generation = m_generation;
  const QString token = m_facebook ? m_facebook->accessToken() : QString();
  runInBackground(
      this,
      [offset, token] {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("access_token"), token);
        form.addQueryItem(QStringLiteral("batch"), QString::fromUtf8(batchFor(offset)));
        return form;
      },
      [this, offset, generation](const QUrlQuery& form) { send(offset, form, generation); });
}

void QSFacebookPhotosDataSource::send(int offset, const QUrlQuery& form, quint64 generation) {
  if (generation != m_generation) return;
  if (!m_facebook) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
    return;
  }
  HttpRequest* request = m_facebook->facebookClient()->postForm(QStringLiteral("me"), form);
  m_request = request;
  connect(request, &HttpRequest::finished, this,
          [this, offset, generation](const HttpResponse& response) {
            m_request = nullptr;
            receive(offset, response.body, response.outcome == HttpResponse::Outcome::Completed,
                    generation);
          });
}

void QSFacebookPhotosDataSource::failedAttempt(int offset) {
  if (m_attempt >= kAttempts) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
    return;
  }
  getAlbumsForOffset(offset);
}

void QSFacebookPhotosDataSource::receive(int offset, const QByteArray& body, bool reached,
                                         quint64 generation) {
  if (generation != m_generation) return;
  if (!reached) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(kErrorMessage));
    return;
  }
  // An error answer (a refused token, a fault of the service) has the wrong shape too, and is
  // asked again like any other unreadable answer.
  const auto page = FacebookResponses::parseAlbumBatch(body);
  if (!page) {
    failedAttempt(offset);
    return;
  }
  QSFacebook* facebook = m_facebook;
  FacebookGraphClient* client = facebook ? facebook->facebookClient() : nullptr;
  const QString token = facebook ? facebook->accessToken() : QString();
  const double coverSize = coverMinimumSize();
  for (const QJsonValue& value : page->albums) {
    auto* album = new QSFacebookAlbum(value.toObject(), client, token, this);
    const QJsonValue cover = page->covers.value(album->coverPhoto());
    if (album->count() < 1 || album->coverPhoto().isEmpty() || !cover.isObject()) {
      delete album;
      continue;
    }
    const QJsonObject entry = cover.toObject();
    QString url = getImageSourceWithMinimumSize(QSizeF(coverSize, coverSize),
                                                entry.value(QStringLiteral("images")).toArray());
    if (url.isEmpty()) url = entry.value(QStringLiteral("picture")).toString();
    url = urlWithAccessToken(url, token);
    album->setCoverPhoto(url);
    album->setUrl(url);
    album->setSize(QSizeF(entry.value(QStringLiteral("width")).toDouble(),
                          entry.value(QStringLiteral("height")).toDouble()));
    m_albums.push_back(album);
  }
  if (page->albums.size() < kPageSize)
    m_allLoaded = true;
  else
    m_offset = offset + kPageSize;
  if (!m_allLoaded) notifyDelegate(1);
  if (int(m_albums.size()) >= kMaximumAlbums) m_allLoaded = true;
  if (!m_allLoaded) {
    m_attempt = 0;
    getAlbumsForOffset(m_offset);
    return;
  }
  m_gettingItems = false;
  notifyDelegate(2);
}

QString QSFacebookPhotosDataSource::getImageSourceWithMinimumSize(const QSizeF& minimum,
                                                                  const QJsonArray& images) {
  QString best;
  double bestArea = -1;
  for (const QJsonValue& value : images) {
    const QJsonObject image = value.toObject();
    const double width = image.value(QStringLiteral("width")).toDouble();
    const double height = image.value(QStringLiteral("height")).toDouble();
    const QString source = image.value(QStringLiteral("source")).toString();
    if (width < minimum.width() || height < minimum.height() || source.isEmpty()) continue;
    if (bestArea < 0 || width * height < bestArea) {
      bestArea = width * height;
      best = source;
    }
  }
  return best;
}

QString QSFacebookPhotosDataSource::urlWithAccessToken(const QString& url, const QString& token) {
  if (url.contains(QLatin1String("__gda__"))) return url;
  const QChar separator = url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
  return url + separator + QStringLiteral("access_token=") +
         QString::fromLatin1(QUrl::toPercentEncoding(token));
}

QString QSFacebookPhotosDataSource::withoutAccessToken(const QString& url) {
  static const QRegularExpression token(QStringLiteral("(access_token=)[^&]*"));
  QString masked = url;
  return masked.replace(token, QStringLiteral("\\1…"));
}

double QSFacebookPhotosDataSource::coverMinimumSize() {
  constexpr double kCoverPoints = 75;
  const auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
  const QScreen* screen = application ? QGuiApplication::primaryScreen() : nullptr;
  return kCoverPoints * (screen ? screen->devicePixelRatio() : 1.0);
}

}  // namespace duo
