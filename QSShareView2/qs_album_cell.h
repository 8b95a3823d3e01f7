#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include "table_view_controller.h"

class QNetworkAccessManager;

namespace duo {

class HttpRequest;
class QSFacebookAlbum;

/// One album's row in the album picker: the album's name beside its cover picture (a square
/// column as wide as the row is high, 44 points), the picture fetched from the album's cover URL
/// and decoded off the main thread. The row shows the name at once and the picture when it
/// arrives; an album without a cover, or one that cannot be fetched, keeps an empty column.
class QSAlbumCell : public QObject {
  Q_OBJECT

 public:
  /// The side of the decoded cover, in pixels: twice the column, for sharp high-density screens.
  static constexpr int kCoverPixels = 88;
  static constexpr qint64 kMaximumCoverBytes = 4 << 20;

  /// `network` (not owned) must outlive the cell.
  QSAlbumCell(const QSFacebookAlbum* album, QNetworkAccessManager* network,
              QObject* parent = nullptr);
  ~QSAlbumCell() override;

  TableRow row() const { return {m_name, m_cover}; }
  QImage cover() const { return m_cover; }
  /// Starts fetching the cover; coverLoaded() follows when it arrives.
  void loadCover();

 signals:
  void coverLoaded(const QImage& cover);

 private:
  QString m_name;
  QString m_coverUrl;
  QNetworkAccessManager* m_network;
  QPointer<HttpRequest> m_request;
  QImage m_cover;
};

}  // namespace duo
