#pragma once

#include <QJsonObject>
#include <QString>

#include "qs_data_source.h"

namespace duo {

/// One photo of a Facebook album. Its `url` is the small "picture", its `sourceURL` the full
/// "source"; both carry the access token where the service needs it.
class QSFacebookPhoto : public QSDataSource {
  Q_OBJECT

 public:
  /// From a Graph answer's element: "id", "name", "picture", "source", "width", "height",
  /// "created_time".
  QSFacebookPhoto(const QJsonObject& attributes, const QString& accessToken,
                  QObject* parent = nullptr);

  QString photoID() const { return m_photoID; }
  QString name() const { return m_name; }
  QString picture() const { return m_picture; }
  QString source() const { return m_source; }
  QString createdTimeAsString() const { return m_createdTimeAsString; }
  QString description() const;

 private:
  QString m_photoID;
  QString m_name;
  QString m_picture;
  QString m_source;
  QString m_createdTimeAsString;
};

}  // namespace duo
