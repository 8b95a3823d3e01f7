#include "flickr_responses.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QXmlStreamReader>

namespace duo {

namespace {

constexpr char kText[] = "_text";

/// The JSON value with every "_content" key renamed "_text"; nullopt when nested too deeply.
std::optional<QVariant> renamed(const QVariant& value, int depth) {
  if (depth > FlickrResponses::kMaximumDepth) return std::nullopt;
  if (value.typeId() == QMetaType::QVariantMap) {
    QVariantMap out;
    const QVariantMap map = value.toMap();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
      const auto inner = renamed(it.value(), depth + 1);
      if (!inner) return std::nullopt;
      out.insert(it.key() == QLatin1String("_content") ? QString::fromLatin1(kText) : it.key(),
                 *inner);
    }
    return out;
  }
  if (value.typeId() == QMetaType::QVariantList) {
    QVariantList out;
    for (const QVariant& element : value.toList()) {
      const auto inner = renamed(element, depth + 1);
      if (!inner) return std::nullopt;
      out.append(*inner);
    }
    return out;
  }
  return value;
}

/// Reads the element the reader has just entered: its attributes, its child elements (a name
/// that repeats becomes a list) and its text under "_text".
std::optional<QVariantMap> readElement(QXmlStreamReader& xml, int depth) {
  if (depth > FlickrResponses::kMaximumDepth) return std::nullopt;
  QVariantMap element;
  for (const QXmlStreamAttribute& attribute : xml.attributes())
    element.insert(attribute.name().toString(), attribute.value().toString());
  QString text;
  while (!xml.atEnd()) {
    switch (xml.readNext()) {
      case QXmlStreamReader::StartElement: {
        const QString name = xml.name().toString();
        const auto child = readElement(xml, depth + 1);
        if (!child) return std::nullopt;
        const QVariant existing = element.value(name);
        if (!existing.isValid()) {
          element.insert(name, *child);
        } else {
          QVariantList list = existing.typeId() == QMetaType::QVariantList ? existing.toList()
                                                                           : QVariantList{existing};
          list.append(*child);
          element.insert(name, list);
        }
        break;
      }
      case QXmlStreamReader::Characters:
        text += xml.text();
        break;
      case QXmlStreamReader::EndElement:
        if (!text.trimmed().isEmpty()) element.insert(QString::fromLatin1(kText), text.trimmed());
        return element;
      default:
        break;
    }
  }
  return std::nullopt;  // the document ended inside the element
}

}  // namespace

std::optional<QVariantMap> FlickrResponses::parse(const QByteArray& body) {
  const QByteArray start = body.trimmed().left(1);
  if (start == "{") return parseJson(body);
  if (start == "<") return parseXml(body);
  return std::nullopt;
}

std::optional<QVariantMap> FlickrResponses::parseJson(const QByteArray& body) {
  QJsonParseError error;
  const QJsonDocument document = QJsonDocument::fromJson(body, &error);
  if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
  const auto value = renamed(document.object().toVariantMap(), 0);
  if (!value) return std::nullopt;
  return value->toMap();
}

std::optional<QVariantMap> FlickrResponses::parseXml(const QByteArray& body) {
  QXmlStreamReader xml(body);
  // The answer is a small document of its own; entity declarations have no place in it.
  while (!xml.atEnd()) {
    const QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
      return std::nullopt;
    if (token != QXmlStreamReader::StartElement) continue;
    if (xml.name() != QLatin1String("rsp")) return std::nullopt;
    auto root = readElement(xml, 0);
    if (!root) return std::nullopt;
    // Whatever follows the root must still be well-formed (a truncated or doubled document is
    // not an answer).
    while (!xml.atEnd()) {
      const QXmlStreamReader::TokenType rest = xml.readNext();
      if (rest == QXmlStreamReader::StartElement || rest == QXmlStreamReader::DTD)
        return std::nullopt;
    }
    if (xml.hasError()) return std::nullopt;
    return root;
  }
  return std::nullopt;
}

bool FlickrResponses::isOk(const QVariantMap& response) {
  return response.value(QStringLiteral("stat")).toString() == QLatin1String("ok");
}

std::optional<FlickrResponses::Error> FlickrResponses::errorOf(const QVariantMap& response) {
  if (response.value(QStringLiteral("stat")).toString() != QLatin1String("fail"))
    return std::nullopt;
  Error error;
  const QVariant err = response.value(QStringLiteral("err"));
  if (err.typeId() == QMetaType::QVariantMap) {  // the XML form: <err code="98" msg="…"/>
    error.code = err.toMap().value(QStringLiteral("code")).toInt();
    error.message = err.toMap().value(QStringLiteral("msg")).toString();
  } else {
    error.code = response.value(QStringLiteral("code")).toInt();
    error.message = response.value(QStringLiteral("message")).toString();
  }
  // A misbehaving server must not fill an alert or a log.
  error.message.truncate(200);
  return error;
}

std::optional<FlickrResponses::Error> FlickrResponses::oauthProblemOf(const QByteArray& body) {
  if (body.size() > 4096) return std::nullopt;
  const QUrlQuery form(QString::fromUtf8(body.trimmed()));
  const QString problem = form.queryItemValue(QStringLiteral("oauth_problem"), QUrl::FullyDecoded);
  if (problem.isEmpty()) return std::nullopt;
  Error error;
  error.message = problem.left(100);
  if (problem == QLatin1String("token_rejected") || problem == QLatin1String("token_revoked") ||
      problem == QLatin1String("token_expired"))
    error.code = kInvalidAuthTokenCode;
  return error;
}

std::optional<FlickrResponses::Tokens> FlickrResponses::parseTokens(const QByteArray& body) {
  if (body.size() > 4096) return std::nullopt;
  const QUrlQuery form(QString::fromUtf8(body.trimmed()));
  const auto value = [&form](const char* key) {
    return form.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded);
  };
  Tokens tokens;
  tokens.token = value("oauth_token");
  tokens.tokenSecret = value("oauth_token_secret");
  if (tokens.token.isEmpty() || tokens.tokenSecret.isEmpty()) return std::nullopt;
  tokens.userFullName = value("fullname");
  tokens.userName = value("username");
  tokens.userNSID = value("user_nsid");
  return tokens;
}

}  // namespace duo
