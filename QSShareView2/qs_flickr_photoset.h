#pragma once

#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace duo {

/// One of the user's Flickr photo sets, or the choice of none (identifier "0", title "None").
class QSFlickrPhotoset {
 public:
  static constexpr char kNoneIdentifier[] = "0";

  QSFlickrPhotoset() = default;
  QSFlickrPhotoset(QString photosetID, QString title, QString flickrDescription)
      : m_photosetID(std::move(photosetID)),
        m_title(std::move(title)),
        m_flickrDescription(std::move(flickrDescription)) {}
  /// From one element of a "flickr.photosets.getList" answer: "id", "title" → "_text",
  /// "description" → "_text". Missing or mistyped fields are empty.
  explicit QSFlickrPhotoset(const QVariantMap& attributes);

  /// The "None" entry that heads every list of photo sets.
  static QSFlickrPhotoset none() {
    return {QString::fromLatin1(kNoneIdentifier), QStringLiteral("None"), QString()};
  }

  QString photosetID() const { return m_photosetID; }
  QString title() const { return m_title; }
  QString flickrDescription() const { return m_flickrDescription; }
  bool isNone() const { return m_photosetID == QLatin1String(kNoneIdentifier); }

  /// A multi-line text for diagnostics.
  QString description() const;

  bool operator==(const QSFlickrPhotoset&) const = default;

 private:
  QString m_photosetID;
  QString m_title;
  QString m_flickrDescription;
};

}  // namespace duo

Q_DECLARE_METATYPE(duo::QSFlickrPhotoset)
