#include "settings_description.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <set>

namespace duo {

namespace {

Error descriptionError(ErrorCode code, const QString& where, const QString& what) {
  QString message = QStringLiteral("Settings description");
  if (!where.isEmpty()) message += QStringLiteral(", ") + where;
  message += QStringLiteral(": ") + what;
  return makeError(code, message.toStdString());
}

/// A JSON number that is a whole number within the range of qint64, or nullopt.
std::optional<qint64> wholeNumber(const QJsonValue& value) {
  if (!value.isDouble()) return std::nullopt;
  const double number = value.toDouble();
  if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9.0e15)
    return std::nullopt;
  return static_cast<qint64>(number);
}

std::optional<QString> requiredString(const QJsonObject& object, const char* name) {
  const QJsonValue value = object.value(QLatin1String(name));
  if (!value.isString() || value.toString().trimmed().isEmpty()) return std::nullopt;
  return value.toString();
}

/// Reads an optional string member; false when it is present but not a string.
bool optionalString(const QJsonObject& object, const char* name, QString& out) {
  const QJsonValue value = object.value(QLatin1String(name));
  if (value.isUndefined() || value.isNull()) return true;
  if (!value.isString()) return false;
  out = value.toString();
  return true;
}

QString quoted(const QString& text) { return QLatin1Char('"') + text + QLatin1Char('"'); }

Result<SettingsItem> parseChoices(SettingsItem item, const QJsonObject& object,
                                  const QString& where) {
  const auto bound = [&](const char* name, std::optional<qint64>& out) -> std::optional<Error> {
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined()) return std::nullopt;
    out = wholeNumber(value);
    if (!out)
      return descriptionError(ErrorCode::Corrupt, where,
                              QStringLiteral("\"%1\" is not a whole number").arg(name));
    return std::nullopt;
  };
  if (auto error = bound("minimum", item.minimum)) return *error;
  if (auto error = bound("maximum", item.maximum)) return *error;
  if (item.minimum && item.maximum && *item.minimum > *item.maximum)
    return descriptionError(ErrorCode::Corrupt, where, QStringLiteral("minimum above maximum"));
  if (!optionalString(object, "footer", item.footer))
    return descriptionError(ErrorCode::Corrupt, where, QStringLiteral("\"footer\" is not text"));
  const QJsonValue others = object.value(QLatin1String("showsOtherValues"));
  if (!others.isUndefined() && !others.isBool())
    return descriptionError(ErrorCode::Corrupt, where,
                            QStringLiteral("\"showsOtherValues\" is not true or false"));
  item.showsOtherValues = others.toBool(false);
  if (!optionalString(object, "valueFormat", item.valueFormat) ||
      !item.valueFormat.contains(QLatin1String("%1")))
    return descriptionError(ErrorCode::Corrupt, where,
                            QStringLiteral("\"valueFormat\" must be text containing %1"));

  const QJsonValue choices = object.value(QLatin1String("choices"));
  if (!choices.isArray() || choices.toArray().isEmpty())
    return descriptionError(ErrorCode::Corrupt, where,
                            QStringLiteral("a choice needs a non-empty \"choices\" list"));
  std::set<qint64> seen;
  int index = 0;
  for (const QJsonValue& entry : choices.toArray()) {
    ++index;
    const QString at = where + QStringLiteral(", choice %1").arg(index);
    if (!entry.isObject())
      return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("not an object"));
    const QJsonObject choiceObject = entry.toObject();
    SettingsChoice choice;
    const std::optional<qint64> value = wholeNumber(choiceObject.value(QLatin1String("value")));
    if (!value)
      return descriptionError(ErrorCode::Corrupt, at,
                              QStringLiteral("\"value\" is missing or not a whole number"));
    choice.value = *value;
    if (!item.isLegal(static_cast<double>(choice.value)))
      return descriptionError(ErrorCode::Corrupt, at,
                              QStringLiteral("value %1 is outside the key's range").arg(*value));
    if (!seen.insert(choice.value).second)
      return descriptionError(ErrorCode::Corrupt, at,
                              QStringLiteral("value %1 is listed twice").arg(*value));
    const std::optional<QString> title = requiredString(choiceObject, "title");
    if (!title)
      return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("\"title\" is missing"));
    choice.title = *title;
    if (!optionalString(choiceObject, "detail", choice.detail))
      return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("\"detail\" is not text"));
    item.choices.push_back(std::move(choice));
  }
  return item;
}

}  // namespace

bool SettingsItem::isLegal(double value) const {
  if (!std::isfinite(value)) return false;
  if (minimum && value < static_cast<double>(*minimum)) return false;
  if (maximum && value > static_cast<double>(*maximum)) return false;
  return true;
}

QString SettingsItem::titleForValue(double value) const {
  for (const SettingsChoice& choice : choices)
    if (static_cast<double>(choice.value) == value) return choice.title;
  return valueFormat.arg(QString::number(value, 'g', 12));
}

Result<SettingsDescription> SettingsDescription::fromJson(const QByteArray& json) {
  QJsonParseError parseError;
  const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError)
    return descriptionError(ErrorCode::Corrupt, {},
                            QStringLiteral("not valid JSON (%1 at offset %2)")
                                .arg(parseError.errorString())
                                .arg(parseError.offset));
  if (!document.isObject())
    return descriptionError(ErrorCode::Corrupt, {}, QStringLiteral("not a JSON object"));
  const QJsonValue groups = document.object().value(QLatin1String("groups"));
  if (!groups.isArray())
    return descriptionError(ErrorCode::Corrupt, {}, QStringLiteral("no \"groups\" list"));

  SettingsDescription description;
  std::set<QString> keys;
  int groupIndex = 0;
  for (const QJsonValue& groupValue : groups.toArray()) {
    ++groupIndex;
    QString where = QStringLiteral("group %1").arg(groupIndex);
    if (!groupValue.isObject())
      return descriptionError(ErrorCode::Corrupt, where, QStringLiteral("not an object"));
    const QJsonObject groupObject = groupValue.toObject();
    SettingsGroup group;
    if (!optionalString(groupObject, "title", group.title) ||
        !optionalString(groupObject, "footer", group.footer))
      return descriptionError(ErrorCode::Corrupt, where,
                              QStringLiteral("\"title\" or \"footer\" is not text"));
    if (!group.title.isEmpty()) where += QStringLiteral(" (%1)").arg(quoted(group.title));
    const QJsonValue items = groupObject.value(QLatin1String("items"));
    if (!items.isArray() || items.toArray().isEmpty())
      return descriptionError(ErrorCode::Corrupt, where,
                              QStringLiteral("needs a non-empty \"items\" list"));
    int itemIndex = 0;
    for (const QJsonValue& itemValue : items.toArray()) {
      ++itemIndex;
      QString at = where + QStringLiteral(", item %1").arg(itemIndex);
      if (!itemValue.isObject())
        return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("not an object"));
      const QJsonObject itemObject = itemValue.toObject();
      SettingsItem item;
      const std::optional<QString> key = requiredString(itemObject, "key");
      if (!key)
        return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("\"key\" is missing"));
      item.key = *key;
      at += QStringLiteral(" (%1)").arg(item.key);
      if (!keys.insert(item.key).second)
        return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("the key is listed twice"));
      const std::optional<QString> title = requiredString(itemObject, "title");
      if (!title)
        return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("\"title\" is missing"));
      item.title = *title;
      const QJsonValue type = itemObject.value(QLatin1String("type"));
      if (!type.isString())
        return descriptionError(ErrorCode::Corrupt, at, QStringLiteral("\"type\" is missing"));
      if (type.toString() == QLatin1String("toggle")) {
        item.type = SettingsItem::Type::Toggle;
      } else if (type.toString() == QLatin1String("choice")) {
        item.type = SettingsItem::Type::Choice;
        Result<SettingsItem> parsed = parseChoices(std::move(item), itemObject, at);
        if (!parsed) return parsed.error();
        item = std::move(parsed).value();
      } else {
        return descriptionError(
            ErrorCode::Unsupported, at,
            QStringLiteral("unknown type %1 (expected \"toggle\" or \"choice\")")
                .arg(quoted(type.toString())));
      }
      group.items.push_back(std::move(item));
    }
    description.m_groups.push_back(std::move(group));
  }
  if (description.m_groups.empty())
    return descriptionError(ErrorCode::Corrupt, {}, QStringLiteral("lists no settings"));
  return description;
}

Result<SettingsDescription> SettingsDescription::fromFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return descriptionError(ErrorCode::Io, path,
                            QStringLiteral("cannot be read (%1)").arg(file.errorString()));
  Result<SettingsDescription> result = fromJson(file.readAll());
  if (!result)
    return makeError(result.error().code, result.error().message + " [" + path.toStdString() + "]");
  return result;
}

QStringList SettingsDescription::keys() const {
  QStringList list;
  for (const SettingsGroup& group : m_groups)
    for (const SettingsItem& item : group.items) list << item.key;
  return list;
}

const SettingsItem* SettingsDescription::item(const QString& key) const {
  for (const SettingsGroup& group : m_groups)
    for (const SettingsItem& item : group.items)
      if (item.key == key) return &item;
  return nullptr;
}

}  // namespace duo
