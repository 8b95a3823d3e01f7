#include "qs_flickr_photoset.h"

namespace duo {

namespace {

/// The text of a field that is either plain text or an element with "_text".
QString textOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QVariantMap)
    return value.toMap().value(QStringLiteral("_text")).toString();
  return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

}  // namespace

QSFlickrPhotoset::QSFlickrPhotoset(const QVariantMap& attributes)
    : m_photosetID(textOf(attributes.value(QStringLiteral("id")))),
      m_title(textOf(attributes.value(QStringLiteral("title")))),
      m_flickrDescription(textOf(attributes.value(QStringLiteral("description")))) {}

QString QSFlickrPhotoset::description() const {
  return QStringLiteral("Photoset\n-----\n  id: %1\n  title: %2\n  description: %3")
      .arg(m_photosetID, m_title, m_flickrDescription);
}

}  // namespace duo
