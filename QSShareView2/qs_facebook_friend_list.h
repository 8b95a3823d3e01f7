#pragma once

#include <QJsonObject>
#include <QString>

namespace duo {

/// One audience for a Facebook post: one of the fixed ones ("EVERYONE", "ALL_FRIENDS", "SELF")
/// or one of the user's friend lists.
class QSFacebookFriendList {
 public:
  QSFacebookFriendList() = default;
  /// From a Graph answer's element: "id", "name", "list_type". Missing keys stay empty.
  explicit QSFacebookFriendList(const QJsonObject& attributes);
  QSFacebookFriendList(QString listID, QString name, QString listType);

  QString listID() const { return m_listID; }
  QString name() const { return m_name; }
  QString listType() const { return m_listType; }
  /// A few lines for diagnostics.
  QString description() const;

  bool operator==(const QSFacebookFriendList&) const = default;

 private:
  QString m_listID;
  QString m_name;
  QString m_listType;
};

}  // namespace duo
