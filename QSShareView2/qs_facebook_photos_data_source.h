#pragma once

#include <QJsonArray>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QUrlQuery>

#include <vector>

#include "qs_data_source.h"

namespace duo {

class HttpRequest;
class QSFacebook;
class QSFacebookAlbum;

/// The user's Facebook albums with their cover pictures, loaded 25 at a time (at most 1000),
/// each page one batch request that also asks for the cover photos' sizes. A malformed answer
/// is asked again, up to three attempts per page; a failure to reach the service is reported at
/// once. The list stays for the life of the loader, so asking again answers at once.
class QSFacebookPhotosDataSource : public QSDataSource {
  Q_OBJECT

 public:
  static constexpr int kPageSize = 25;
  static constexpr int kMaximumAlbums = 1000;
  static constexpr int kAttempts = 3;
  static constexpr char kErrorMessage[] =
      "Having trouble communicating\nwith Facebook\n\nTry again later";

  explicit QSFacebookPhotosDataSource(QObject* parent = nullptr);
  ~QSFacebookPhotosDataSource() override;

  /// The client whose HTTP client and token the loader uses; not owned.
  QSFacebook* facebook() const;
  void setFacebook(QSFacebook* facebook);

  void getItems() override;
  /// Stops the load under way; its answer is dropped.
  void cancel() override;
  void reset() override;
  int numberOfItems() const override { return int(m_albums.size()); }
  QSDataSource* itemForIndex(int index) const override;
  QSFacebookAlbum* albumAt(int index) const;
  bool isGettingItems() const { return m_gettingItems; }
  bool isAllLoaded() const { return m_allLoaded; }
  QImage dataLogo() const override;

  /// Asks for the page of albums at `offset` (the request is built on a background thread).
  void getAlbumsForOffset(int offset);

  /// The "source" of the smallest image (by area; the earlier on a tie) at least `minimum` in
  /// both directions; empty when none is.
  static QString getImageSourceWithMinimumSize(const QSizeF& minimum, const QJsonArray& images);
  /// `url` with the access token added as a query item, unless the service already signed it
  /// ("__gda__").
  static QString urlWithAccessToken(const QString& url, const QString& token);
  /// `url` with any access token in it masked, for diagnostics.
  static QString withoutAccessToken(const QString& url);
  /// The batch of two Graph requests for the page at `offset`, as JSON text.
  static QByteArray batchFor(int offset);
  /// The smallest cover picture wanted, in pixels: 75 points on the phone-sized window.
  static double coverMinimumSize();

 private:
  void send(int offset, const QUrlQuery& form, quint64 generation);
  void receive(int offset, const QByteArray& body, bool reached, quint64 generation);
  void failedAttempt(int offset);

  QPointer<QSFacebook> m_facebook;
  std::vector<QSFacebookAlbum*> m_albums;  // children of this source
  QPointer<HttpRequest> m_request;
  bool m_gettingItems = false;
  bool m_allLoaded = false;
  int m_offset = 0;
  int m_attempt = 0;
  quint64 m_generation = 0;
};

}  // namespace duo
