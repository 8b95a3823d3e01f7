#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "qs_data_source.h"

namespace duo {

/// One of the user's Flickr photos, from an element of a "flickr.people.getPhotos" answer with
/// the size extras. Its url and size are the thumbnail's ("url_t", "width_t" × "height_t"), its
/// sourceURL the largest size the answer names, its caption the title.
class QSFlickrPhoto : public QSDataSource {
  Q_OBJECT

 public:
  explicit QSFlickrPhoto(const QVariantMap& attributes, QObject* parent = nullptr);

  QString photoID() const { return m_photoID; }
  QString title() const { return m_title; }
  QString flickrDescription() const { return m_flickrDescription; }
  QString thumbnail() const { return m_thumbnail; }
  QString source() const { return m_source; }
  QString dateTakenAsString() const { return m_dateTakenAsString; }
  /// The size keys the answer held ("url_t", "url_o", …), in the order looked for.
  QStringList sizeKeys() const { return m_sizeKeys; }
  /// Both a thumbnail and a source are known: the photo can be listed.
  bool isUsable() const { return !m_thumbnail.isEmpty() && !m_source.isEmpty(); }

  /// A multi-line text for diagnostics.
  QString description() const;

 private:
  QString m_photoID;
  QString m_title;
  QString m_flickrDescription;
  QString m_thumbnail;
  QString m_source;
  QString m_dateTakenAsString;
  QStringList m_sizeKeys;
};

}  // namespace duo
