#include "qs_facebook_album.h"

#include <QJsonArray>
#include <QUrlQuery>

#include "background_queue.h"
#include "facebook_graph_client.h"
#include "facebook_responses.h"
#include "http_request.h"
#include "qs_facebook_photo.h"
#include "qs_facebook_photos_data_source.h"

namespace duo {

QSFacebookAlbum::QSFacebookAlbum(const QJsonObject& attributes, FacebookGraphClient* client,
                                 const QString& accessToken, QObject* parent)
    : QSDataSource(parent), m_facebookClient(client), m_accessToken(accessToken) {
  setDataSourceType(kServiceDataSourceType);
  const auto text = [&](const char* key) {
    const QJsonValue value = attributes.value(QLatin1String(key));
    if (value.isDouble()) return value.toInteger(-1) >= 0 ? QString::number(value.toInteger()) : QString();
    return value.toString();
  };
  m_albumID = text("id");
  m_name = text("name");
  // Newer answers give the cover as an object with its own "id".
  const QJsonValue cover = attributes.value(QStringLiteral("cover_photo"));
  m_coverPhoto = cover.isObject() ? cover.toObject().value(QStringLiteral("id")).toString()
                                  : text("cover_photo");
  m_count = attributes.value(QStringLiteral("count")).toInt();
  setCaption(m_name);
  setCacheIdenfifier(QStringLiteral("Facebook-%1")
                         .arg(m_albumID.isEmpty() ? QStringLiteral("unknown") : m_albumID));
}

QSFacebookAlbum::~QSFacebookAlbum() { cancel(); }

QString QSFacebookAlbum::description() const {
  return QStringLiteral("Album\n-----\n  id: %1\n  name: %2\n  cover_photo: %3\n  count: %4")
      .arg(m_albumID, m_name, QSFacebookPhotosDataSource::withoutAccessToken(m_coverPhoto))
      .arg(m_count);
}

QSDataSource* QSFacebookAlbum::itemForIndex(int index) const {
  return index >= 0 && index < int(m_photos.size()) ? m_photos[size_t(index)] : nullptr;
}

void QSFacebookAlbum::getItems() {
  if (m_gettingItems) return;
  if (m_allLoaded) {
    notifyDelegate(0);
    return;
  }
  m_gettingItems = true;
  getPhotosForOffset(m_offset);
}

void QSFacebookAlbum::cancel() {
  ++m_generation;
  if (m_request) {
    m_request->cancel();
    m_request->deleteLater();
  }
  m_request = nullptr;
  m_gettingItems = false;
}

void QSFacebookAlbum::reset() {
  cancel();
  for (QSFacebookPhoto* photo : std::exchange(m_photos, {})) photo->deleteLater();
  m_offset = 0;
  m_allLoaded = false;
  QSDataSource::reset();
}

void QSFacebookAlbum::getPhotosForOffset(int offset) {
  const quint64 generation = m_generation;
  if (!m_facebookClient || m_albumID.isEmpty()) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(QSFacebookPhotosDataSource::kErrorMessage));
    return;
  }
  runInBackground(
      this,
      [offset] {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("offset"), QString::number(offset));
        query.addQueryItem(QStringLiteral("limit"), QString::number(kPageSize));
        query.addQueryItem(QStringLiteral("fields"),
                           QStringLiteral("id,name,picture,source,width,height,images,"
                                          "created_time"));
        return query;
      },
      [this, offset, generation](const QUrlQuery& query) {
        if (generation != m_generation || !m_facebookClient) return;
        HttpRequest* request =
            m_facebookClient->get(QStringLiteral("%1/photos").arg(m_albumID), query);
        m_request = request;
        connect(request, &HttpRequest::finished, this,
                [this, offset, generation](const HttpResponse& response) {
                  m_request = nullptr;
                  receive(offset, response.body, response.succeeded(), generation);
                });
      });
}

void QSFacebookAlbum::receive(int offset, const QByteArray& body, bool succeeded,
                              quint64 generation) {
  if (generation != m_generation) return;
  const auto data = succeeded ? FacebookResponses::parseData(body) : std::nullopt;
  if (!data) {
    m_gettingItems = false;
    notifyDelegateOfError(QString::fromLatin1(QSFacebookPhotosDataSource::kErrorMessage));
    return;
  }
  for (const QJsonValue& value : *data)
    m_photos.push_back(new QSFacebookPhoto(value.toObject(), m_accessToken, this));
  if (data->size() >= kPageSize) {
    m_offset = offset + kPageSize;
    notifyDelegate(1);
    getPhotosForOffset(m_offset);
    return;
  }
  m_allLoaded = true;
  m_gettingItems = false;
  notifyDelegate(2);
}

}  // namespace duo
