#include "qs_album_cell.h"

#include <QNetworkRequest>
#include <QUrl>

#include "background_queue.h"
#include "http_request.h"
#include "qs_facebook_album.h"

namespace duo {

QSAlbumCell::QSAlbumCell(const QSFacebookAlbum* album, QNetworkAccessManager* network,
                         QObject* parent)
    : QObject(parent), m_name(album->name()), m_network(network) {
  // Until the album list has chosen a picture, the cover is only the photo's identifier.
  const QUrl url(album->coverPhoto());
  if (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"))
    m_coverUrl = album->coverPhoto();
}

QSAlbumCell::~QSAlbumCell() = default;

void QSAlbumCell::loadCover() {
  if (m_coverUrl.isEmpty() || !m_network || m_request) return;
  auto* request = new HttpRequest(m_network, this);
  request->setMaximumResponseBytes(kMaximumCoverBytes);
  m_request = request;
  connect(request, &HttpRequest::finished, this, [this, request](const HttpResponse& response) {
    request->deleteLater();
    if (!response.succeeded()) return;
    runInBackground(
        this,
        [body = response.body] {
          const QImage image = QImage::fromData(body);
          return image.isNull()
                     ? image
                     : image.scaled(kCoverPixels, kCoverPixels, Qt::KeepAspectRatioByExpanding,
                                    Qt::SmoothTransformation);
        },
        [this](const QImage& image) {
          if (image.isNull()) return;
          m_cover = image;
          emit coverLoaded(image);
        });
  });
  request->send("GET", QNetworkRequest(QUrl(m_coverUrl)));
}

}  // namespace duo
