#include "facebook_responses.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace duo {

namespace {

std::optional<QJsonObject> objectOf(const QByteArray& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  return document.object();
}

QJsonArray objectsOnly(const QJsonArray& array) {
  QJsonArray objects;
  for (const QJsonValue& value : array)
    if (value.isObject()) objects.append(value);
  return objects;
}

// Identifiers come as strings; an old or odd server may send a number.
QString identifierOf(const QJsonValue& value) {
  if (value.isString()) return value.toString();
  // Only a whole number that fits is an identifier; casting any other double is undefined.
  if (value.isDouble()) return value.toInteger(-1) >= 0 ? QString::number(value.toInteger()) : QString();
  return {};
}

}  // namespace

std::optional<FacebookResponses::Error> FacebookResponses::parseError(const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object || !object->value(QStringLiteral("error")).isObject()) return std::nullopt;
  const QJsonObject error = object->value(QStringLiteral("error")).toObject();
  Error result;
  result.message = error.value(QStringLiteral("message")).toString().left(200);
  result.type = error.value(QStringLiteral("type")).toString().left(100);
  result.code = error.value(QStringLiteral("code")).toInt();
  return result;
}

bool FacebookResponses::isTokenRejected(int status, const QByteArray& body) {
  if (status == 401) return true;
  const auto error = parseError(body);
  return error && (error->code == 190 || error->code == 102);
}

std::optional<QJsonArray> FacebookResponses::parseData(const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object || !object->value(QStringLiteral("data")).isArray()) return std::nullopt;
  return objectsOnly(object->value(QStringLiteral("data")).toArray());
}

std::optional<FacebookResponses::AlbumPage> FacebookResponses::parseAlbumBatch(
    const QByteArray& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
  const QJsonArray answers = document.array();
  if (answers.size() != 2 || !answers[0].isObject() || !answers[1].isObject()) return std::nullopt;
  const QJsonValue first = answers[0].toObject().value(QStringLiteral("body"));
  const QJsonValue second = answers[1].toObject().value(QStringLiteral("body"));
  if (!first.isString() || !second.isString()) return std::nullopt;
  const auto albums = objectOf(first.toString().toUtf8());
  const auto covers = objectOf(second.toString().toUtf8());
  if (!albums || !covers || !albums->value(QStringLiteral("data")).isArray()) return std::nullopt;
  return AlbumPage{objectsOnly(albums->value(QStringLiteral("data")).toArray()), *covers};
}

std::optional<QStringList> FacebookResponses::parseGrantedPermissions(const QByteArray& body) {
  const auto data = parseData(body);
  if (!data) return std::nullopt;
  QStringList granted;
  for (const QJsonValue& value : *data) {
    const QJsonObject entry = value.toObject();
    const QString permission = entry.value(QStringLiteral("permission")).toString();
    if (!permission.isEmpty() &&
        entry.value(QStringLiteral("status")).toString() == QLatin1String("granted"))
      granted << permission;
  }
  return granted;
}

std::optional<QString> FacebookResponses::parsePostedId(const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object) return std::nullopt;
  const QString id = identifierOf(object->value(QStringLiteral("id")));
  if (id.isEmpty()) return std::nullopt;
  return id;
}

}  // namespace duo
