#pragma once

#include <QDateTime>
#include <QObject>
#include <QHash>
#include <QString>
#include <QVariant>

#include <functional>
#include <map>
#include <mutex>

namespace duo {

/// The application's persistent key-value settings, in place of a phone platform's user
/// defaults. Values are booleans, integers, floating-point numbers, dates or strings.
///
/// Reading rules: an absent boolean reads false, an absent integer 0, an absent date or string
/// as an invalid QVariant; an integer may be read as a float. Every change is saved at once to
/// the file given at construction, atomically (a crash mid-write keeps the previous file) and
/// with mode 0600, since the store will hold service tokens. Observers of a key hear of each
/// change of its value, once, on the thread that made it, after the store is updated.
///
/// Thread-safe; observers run without the store's lock held, so they may read or write it.
class SettingsStore {
 public:
  using Observer = std::function<void(const QString& key)>;

  /// Loads `filePath` if it exists. A file that cannot be parsed is moved aside to
  /// "<file>.corrupt" (never overwritten) and the store starts empty; loadError() says why.
  explicit SettingsStore(QString filePath);

  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  /// The application's own store ("settings.json" in the XDG configuration folder of the
  /// application, e.g. ~/.config/duoscope/), created on first use, unless one was installed.
  static SettingsStore& standard();
  /// Installs `store` (not owned) as standard(); nullptr goes back to the application's file.
  static void setStandard(SettingsStore* store);
  /// Where standard() keeps its file.
  static QString standardFilePath();

  const QString& filePath() const { return m_filePath; }
  const QString& loadError() const { return m_loadError; }
  /// Why the last save failed (empty after a successful one). The values stay in memory.
  QString saveError() const;

  bool boolForKey(const QString& key) const;
  qint64 integerForKey(const QString& key) const;
  float floatForKey(const QString& key) const;
  /// The stored value as it is (bool, qint64, double, QDateTime or QString); invalid if absent.
  QVariant objectForKey(const QString& key) const;

  void setBool(bool value, const QString& key);
  void setInteger(qint64 value, const QString& key);
  void setFloat(double value, const QString& key);
  /// Accepts bool, integer, double, QDateTime and QString values; anything else is a
  /// programming error (std::invalid_argument). An invalid QVariant removes the key.
  void setObject(const QVariant& value, const QString& key);
  void removeObjectForKey(const QString& key);

  /// Returns a token for removeObserver.
  /// The same for an observer that belongs to `context` (a widget, a screen): it runs on the
  /// context's thread, a change made on another thread arriving there later, and never once
  /// the context is gone. Register on the context's own thread.
  int addObserver(const QString& key, QObject* context, Observer observer);
  int addObserver(const QString& key, Observer observer);
  void removeObserver(const QString& key, int token);

 private:
  void store(const QString& key, const QVariant& value);  // invalid value: remove
  void load();
  bool saveLocked();

  QString m_filePath;
  QString m_loadError;
  QString m_saveError;
  mutable std::mutex m_mutex;
  QHash<QString, QVariant> m_values;
  std::map<QString, std::map<int, Observer>> m_observers;
  int m_nextToken = 1;
};

}  // namespace duo
