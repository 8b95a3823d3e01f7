#include "settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

namespace duo {

namespace {
SettingsStore* g_standard = nullptr;
}  // namespace

QString SettingsStore::standardFilePath() {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/.config/duoscope");
  return folder + QStringLiteral("/settings.json");
}

SettingsStore& SettingsStore::standard() {
  if (g_standard) return *g_standard;
  static SettingsStore store(standardFilePath());
  return store;
}

void SettingsStore::setStandard(SettingsStore* store) { g_standard = store; }


namespace {

// On disk each key maps to {"type": …, "value": …} so that an integer stays an integer and a
// date stays a date across restarts.
constexpr auto kType = "type";
constexpr auto kValue = "value";

QJsonObject encode(const QVariant& value) {
  QJsonObject entry;
  switch (value.typeId()) {
    case QMetaType::Bool:
      entry[kType] = "bool";
      entry[kValue] = value.toBool();
      break;
    case QMetaType::LongLong:
      // As a string: JSON numbers are doubles and would round integers above 2^53.
      entry[kType] = "integer";
      entry[kValue] = QString::number(value.toLongLong());
      break;
    case QMetaType::Double:
      entry[kType] = "float";
      entry[kValue] = value.toDouble();
      break;
    case QMetaType::QDateTime:
      entry[kType] = "date";
      entry[kValue] = value.toDateTime().toUTC().toString(Qt::ISODateWithMs);
      break;
    default:
      entry[kType] = "string";
      entry[kValue] = value.toString();
      break;
  }
  return entry;
}

QVariant decode(const QJsonValue& json) {
  const QJsonObject entry = json.toObject();
  const QString type = entry[kType].toString();
  const QJsonValue value = entry[kValue];
  if (type == "bool" && value.isBool()) return value.toBool();
  if (type == "integer" && value.isString()) {
    bool ok = false;
    const qint64 n = value.toString().toLongLong(&ok);
    return ok ? QVariant(n) : QVariant();
  }
  if (type == "float" && value.isDouble()) return value.toDouble();
  if (type == "date" && value.isString()) {
    const QDateTime date = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return date.isValid() ? QVariant(date) : QVariant();
  }
  if (type == "string" && value.isString()) return value.toString();
  return {};
}

QVariant normalised(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::UnknownType:
      return {};
    case QMetaType::Bool:
      return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
      return value.toLongLong();
    case QMetaType::Float:
    case QMetaType::Double:
      return value.toDouble();
    case QMetaType::QDateTime:
      return value.toDateTime();
    case QMetaType::QString:
      return value.toString();
    default:
      throw std::invalid_argument("settings hold booleans, numbers, dates and strings");
  }
}

}  // namespace

SettingsStore::SettingsStore(QString filePath) : m_filePath(std::move(filePath)) { load(); }

void SettingsStore::load() {
  QFile file(m_filePath);
  if (!file.exists()) return;
  if (!file.open(QIODevice::ReadOnly)) {
    m_loadError = m_filePath + ": " + file.errorString();
    return;
  }
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
  file.close();
  if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
    m_loadError = m_filePath + ": not a settings file (" + parseError.errorString() + ")";
    // Keep the damaged file for a look instead of overwriting it with the next change.
    const QString aside = m_filePath + ".corrupt";
    QFile::remove(aside);
    QFile::rename(m_filePath, aside);
    return;
  }
  const QJsonObject root = doc.object();
  for (auto it = root.begin(); it != root.end(); ++it) {
    const QVariant value = decode(it.value());
    if (value.isValid()) m_values.insert(it.key(), value);  // unknown entries are dropped
  }
}

QString SettingsStore::saveError() const {
  std::lock_guard lock(m_mutex);
  return m_saveError;
}

bool SettingsStore::saveLocked() {
  QJsonObject root;
  for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) root[it.key()] = encode(*it);
  QDir().mkpath(QFileInfo(m_filePath).absolutePath());
  QSaveFile file(m_filePath);  // writes a temporary file and renames it over the old one
  if (!file.open(QIODevice::WriteOnly)) {
    m_saveError = m_filePath + ": " + file.errorString();
    return false;
  }
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
  if (!file.commit()) {
    m_saveError = m_filePath + ": " + file.errorString();
    return false;
  }
  m_saveError.clear();
  return true;
}

bool SettingsStore::boolForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  switch (v.typeId()) {
    case QMetaType::Bool:
      return v.toBool();
    case QMetaType::LongLong:
      return v.toLongLong() != 0;
    case QMetaType::Double:
      return v.toDouble() != 0;
    default:
      return false;
  }
}

qint64 SettingsStore::integerForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  switch (v.typeId()) {
    case QMetaType::Bool:
      return v.toBool() ? 1 : 0;
    case QMetaType::LongLong:
      return v.toLongLong();
    case QMetaType::Double: {
      // A stored float beyond the integer range (a damaged or hand-edited file) saturates;
      // converting it as it is would be undefined.
      const double d = v.toDouble();
      if (std::isnan(d)) return 0;
      if (d >= 9223372036854775808.0) return std::numeric_limits<qint64>::max();
      if (d < -9223372036854775808.0) return std::numeric_limits<qint64>::min();
      return static_cast<qint64>(d);
    }
    default:
      return 0;
  }
}

float SettingsStore::floatForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  switch (v.typeId()) {
    case QMetaType::Bool:
      return v.toBool() ? 1.0f : 0.0f;
    case QMetaType::LongLong:
      return static_cast<float>(v.toLongLong());
    case QMetaType::Double:
      return static_cast<float>(v.toDouble());
    default:
      return 0.0f;
  }
}

QVariant SettingsStore::objectForKey(const QString& key) const {
  std::lock_guard lock(m_mutex);
  return m_values.value(key);
}

void SettingsStore::setBool(bool value, const QString& key) { store(key, value); }
void SettingsStore::setInteger(qint64 value, const QString& key) { store(key, value); }
void SettingsStore::setFloat(double value, const QString& key) { store(key, value); }
void SettingsStore::setObject(const QVariant& value, const QString& key) {
  store(key, normalised(value));
}
void SettingsStore::removeObjectForKey(const QString& key) { store(key, QVariant()); }

void SettingsStore::store(const QString& key, const QVariant& value) {
  std::vector<Observer> toNotify;
  {
    std::lock_guard lock(m_mutex);
    const QVariant old = m_values.value(key);
    const bool same = old.isValid() == value.isValid() &&
                      (!old.isValid() || (old.typeId() == value.typeId() && old == value));
    if (same) return;
    if (value.isValid()) {
      m_values.insert(key, value);
    } else {
      m_values.remove(key);
    }
    saveLocked();
    if (auto it = m_observers.find(key); it != m_observers.end()) {
      for (const auto& [token, observer] : it->second) toNotify.push_back(observer);
    }
  }
  for (const Observer& observer : toNotify) observer(key);
}

int SettingsStore::addObserver(const QString& key, Observer observer) {
  std::lock_guard lock(m_mutex);
  const int token = m_nextToken++;
  m_observers[key].emplace(token, std::move(observer));
  return token;
}

int SettingsStore::addObserver(const QString& key, QObject* context, Observer observer) {
  // Only values are captured: the context is looked at on its own thread, never from the
  // thread that made the change (which may see it being destroyed).
  QThread* home = context->thread();
  QPointer<QObject> guard(context);
  return addObserver(key, [home, guard, observer = std::move(observer)](const QString& changed) {
    if (QThread::currentThread() == home) {
      if (guard) observer(changed);
      return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [guard, observer, changed] {
          if (guard) observer(changed);
        },
        Qt::QueuedConnection);
  });
}

void SettingsStore::removeObserver(const QString& key, int token) {
  std::lock_guard lock(m_mutex);
  if (auto it = m_observers.find(key); it != m_observers.end()) {
    it->second.erase(token);
    if (it->second.empty()) m_observers.erase(it);
  }
}

}  // namespace duo
