#pragma once

#include <QJsonObject>
#include <QPointer>
#include <QString>

#include <vector>

#include "facebook_graph_client.h"
#include "qs_data_source.h"

namespace duo {

class FacebookGraphClient;
class HttpRequest;
class QSFacebookPhoto;

/// One of the user's Facebook albums, and the loader of its photos (50 at a time). An album
/// without an identifier stands for the user's default album.
class QSFacebookAlbum : public QSDataSource {
  Q_OBJECT

 public:
  static constexpr int kPageSize = 50;

  /// From a Graph answer's element: "id", "name", "cover_photo", "count". `client` (may be
  /// null: then nothing can be loaded) must outlive the album.
  QSFacebookAlbum(const QJsonObject& attributes, FacebookGraphClient* client,
                  const QString& accessToken, QObject* parent = nullptr);
  ~QSFacebookAlbum() override;

  QString albumID() const { return m_albumID; }
  QString name() const { return m_name; }
  /// The cover photo's identifier, and once the album list has chosen it, its picture URL.
  QString coverPhoto() const { return m_coverPhoto; }
  void setCoverPhoto(const QString& cover) { m_coverPhoto = cover; }
  int count() const { return m_count; }
  FacebookGraphClient* facebookClient() const { return m_facebookClient; }
  QString accessToken() const { return m_accessToken; }
  QString description() const;

  void getItems() override;
  void cancel() override;
  void reset() override;
  int numberOfItems() const override { return int(m_photos.size()); }
  QSDataSource* itemForIndex(int index) const override;
  bool shouldShowCaptions() const override { return true; }

  /// Asks for the page of photos at `offset` (the request is built on a background thread).
  void getPhotosForOffset(int offset);

 private:
  void receive(int offset, const QByteArray& body, bool succeeded, quint64 generation);

  QString m_albumID;
  QString m_name;
  QString m_coverPhoto;
  int m_count = 0;
  QPointer<FacebookGraphClient> m_facebookClient;
  QString m_accessToken;
  std::vector<QSFacebookPhoto*> m_photos;  // children of this album
  QPointer<HttpRequest> m_request;
  bool m_gettingItems = false;
  bool m_allLoaded = false;
  int m_offset = 0;
  quint64 m_generation = 0;
};

}  // namespace duo
