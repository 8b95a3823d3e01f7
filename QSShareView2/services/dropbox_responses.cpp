#include "dropbox_responses.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace duo {

namespace {

std::optional<QJsonObject> objectOf(const QByteArray& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  return document.object();
}

}  // namespace

std::optional<DropboxResponses::Tokens> DropboxResponses::parseTokens(const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object) return std::nullopt;
  const QJsonValue access = object->value(QLatin1String("access_token"));
  if (!access.isString() || access.toString().isEmpty()) return std::nullopt;
  const QJsonValue type = object->value(QLatin1String("token_type"));
  if (!type.isUndefined() &&
      type.toString().compare(QLatin1String("bearer"), Qt::CaseInsensitive) != 0)
    return std::nullopt;
  Tokens tokens;
  tokens.accessToken = access.toString();
  const QJsonValue refresh = object->value(QLatin1String("refresh_token"));
  if (refresh.isString())
    tokens.refreshToken = refresh.toString();
  else if (!refresh.isUndefined())
    return std::nullopt;
  const QJsonValue expires = object->value(QLatin1String("expires_in"));
  if (expires.isDouble() && expires.toDouble() > 0 && expires.toDouble() < 1e9)
    tokens.expiresInSeconds = qint64(expires.toDouble());
  return tokens;
}

std::optional<DropboxResponses::Error> DropboxResponses::parseError(const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object) return std::nullopt;
  Error error;
  const QJsonValue inner = object->value(QLatin1String("error"));
  if (inner.isObject()) {
    error.tag = inner.toObject().value(QLatin1String(".tag")).toString();
  } else if (inner.isString()) {
    error.tag = inner.toString();  // the token endpoint's OAuth errors
  }
  error.summary = object->value(QLatin1String("error_summary")).toString();
  if (error.summary.isEmpty())
    error.summary = object->value(QLatin1String("error_description")).toString();
  if (error.tag.isEmpty() && error.summary.isEmpty()) return std::nullopt;
  // Summaries are short codes such as "expired_access_token/.."; keep a misbehaving server from
  // filling an alert or a log.
  error.summary.truncate(200);
  error.tag.truncate(100);
  return error;
}

std::optional<DropboxResponses::FileMetadata> DropboxResponses::parseFileMetadata(
    const QByteArray& body) {
  const auto object = objectOf(body);
  if (!object) return std::nullopt;
  const QJsonValue name = object->value(QLatin1String("name"));
  if (!name.isString() || name.toString().isEmpty()) return std::nullopt;
  FileMetadata metadata;
  metadata.name = name.toString();
  metadata.pathDisplay = object->value(QLatin1String("path_display")).toString();
  const QJsonValue size = object->value(QLatin1String("size"));
  if (const qint64 n = size.toInteger(-1); size.isDouble() && n >= 0) metadata.size = n;
  return metadata;
}

QByteArray DropboxResponses::escapeForHeader(const QByteArray& json) {
  const QString text = QString::fromUtf8(json);
  QByteArray out;
  out.reserve(json.size());
  for (const QChar c : text) {
    // UTF-16 units, so characters beyond the BMP come out as their surrogate pair, as JSON
    // escapes them.
    if (c.unicode() < 0x7F)
      out += char(c.unicode());
    else
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toLatin1();
  }
  return out;
}

QByteArray DropboxResponses::uploadArgument(const QString& path) {
  QJsonObject argument;
  argument.insert(QLatin1String("path"), path);
  argument.insert(QLatin1String("mode"), QLatin1String("add"));
  argument.insert(QLatin1String("autorename"), true);
  argument.insert(QLatin1String("mute"), false);
  return escapeForHeader(QJsonDocument(argument).toJson(QJsonDocument::Compact));
}

}  // namespace duo
