#include "qs_facebook_photo.h"

#include <QJsonValue>

#include "qs_facebook_photos_data_source.h"

namespace duo {

QSFacebookPhoto::QSFacebookPhoto(const QJsonObject& attributes, const QString& accessToken,
                                 QObject* parent)
    : QSDataSource(parent) {
  setDataSourceType(kServiceDataSourceType);
  const QJsonValue id = attributes.value(QStringLiteral("id"));
  m_photoID = id.isDouble() ? (id.toInteger(-1) >= 0 ? QString::number(id.toInteger()) : QString())
                            : id.toString();
  m_name = attributes.value(QStringLiteral("name")).toString();
  m_picture = attributes.value(QStringLiteral("picture")).toString();
  m_source = attributes.value(QStringLiteral("source")).toString();
  if (!m_picture.isEmpty())
    m_picture = QSFacebookPhotosDataSource::urlWithAccessToken(m_picture, accessToken);
  if (!m_source.isEmpty())
    m_source = QSFacebookPhotosDataSource::urlWithAccessToken(m_source, accessToken);
  m_createdTimeAsString = attributes.value(QStringLiteral("created_time")).toString();
  setCaption(m_name);
  setUrl(m_picture);
  setSourceURL(m_source);
  setSize(QSizeF(attributes.value(QStringLiteral("width")).toDouble(),
                 attributes.value(QStringLiteral("height")).toDouble()));
  // The service writes "+0000" where ISO 8601 readers want "+00:00".
  QString time = m_createdTimeAsString;
  if (time.size() > 5 && (time.at(time.size() - 5) == QLatin1Char('+') ||
                          time.at(time.size() - 5) == QLatin1Char('-')))
    time.insert(time.size() - 2, QLatin1Char(':'));
  setDate(QDateTime::fromString(time, Qt::ISODate));
  setCacheIdenfifier(QStringLiteral("FacebookPhoto-%1")
                         .arg(m_photoID.isEmpty() ? QStringLiteral("unknown") : m_photoID));
}

QString QSFacebookPhoto::description() const {
  return QStringLiteral("Photo\n-----\n  id: %1\n  name: %2\n  picture: %3\n  created_time: %4")
      .arg(m_photoID, m_name, QSFacebookPhotosDataSource::withoutAccessToken(m_picture),
           m_createdTimeAsString);
}

}  // namespace duo
