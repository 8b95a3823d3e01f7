#include "qs_flickr_photo.h"

namespace duo {

namespace {

QString textOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QVariantMap)
    return value.toMap().value(QStringLiteral("_text")).toString();
  return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

/// Only web addresses are taken: an answer must not point the loader at local files.
QString webUrl(const QVariant& value) {
  const QString text = textOf(value);
  return text.startsWith(QLatin1String("https://")) || text.startsWith(QLatin1String("http://"))
             ? text
             : QString();
}

}  // namespace

QSFlickrPhoto::QSFlickrPhoto(const QVariantMap& attributes, QObject* parent)
    : QSDataSource(parent) {
  setDataSourceType(kServiceDataSourceType);
  m_photoID = textOf(attributes.value(QStringLiteral("id")));
  m_title = textOf(attributes.value(QStringLiteral("title")));
  m_flickrDescription = textOf(attributes.value(QStringLiteral("description")));
  m_dateTakenAsString = textOf(attributes.value(QStringLiteral("datetaken")));
  m_thumbnail = webUrl(attributes.value(QStringLiteral("url_t")));
  if (!m_thumbnail.isEmpty()) m_sizeKeys << QStringLiteral("url_t");
  // Largest first: the source is the best copy the answer offers.
  for (const char* key : {"url_o", "url_l", "url_z", "url_m", "url_s"}) {
    const QString url = webUrl(attributes.value(QString::fromLatin1(key)));
    if (url.isEmpty()) continue;
    m_sizeKeys << QString::fromLatin1(key);
    if (m_source.isEmpty()) m_source = url;
  }
  setUrl(m_thumbnail);
  setSourceURL(m_source);
  setCaption(m_title);
  // Widths come as numbers or as numeric strings.
  const double width = attributes.value(QStringLiteral("width_t")).toDouble();
  const double height = attributes.value(QStringLiteral("height_t")).toDouble();
  if (width > 0 && height > 0) setSize({width, height});
  const QDateTime taken =
      QDateTime::fromString(m_dateTakenAsString, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (taken.isValid()) setDate(taken);
}

QString QSFlickrPhoto::description() const {
  return QStringLiteral("Photo\n-----\n  id: %1\n  title: %2\n  thumbnail: %3\n  source: %4")
      .arg(m_photoID, m_title, m_thumbnail, m_source);
}

}  // namespace duo
