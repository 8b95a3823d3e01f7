#include "qs_facebook_friend_list.h"

#include <QJsonValue>

namespace duo {

namespace {
QString text(const QJsonObject& object, const char* key) {
  const QJsonValue value = object.value(QLatin1String(key));
  if (value.isDouble()) return value.toInteger(-1) >= 0 ? QString::number(value.toInteger()) : QString();
  return value.toString();
}
}  // namespace

QSFacebookFriendList::QSFacebookFriendList(const QJsonObject& attributes)
    : m_listID(text(attributes, "id")),
      m_name(text(attributes, "name")),
      m_listType(text(attributes, "list_type")) {}

QSFacebookFriendList::QSFacebookFriendList(QString listID, QString name, QString listType)
    : m_listID(std::move(listID)), m_name(std::move(name)), m_listType(std::move(listType)) {}

QString QSFacebookFriendList::description() const {
  return QStringLiteral("FriendList\n-----\n  id: %1\n  name: %2\n  list_type: %3")
      .arg(m_listID, m_name, m_listType);
}

}  // namespace duo
