#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace duo {

class SettingsStore;

/// Service tokens in the desktop's secret store (the Secret Service, through QtKeychain), under
/// the service "Duoscope" and the application's settings key names ("QSFlickr.OAuthToken", …).
/// Where no secret service answers, they go to the settings store's file under the same key names
/// instead; that file is written with mode 0600. QtKeychain's own plaintext fallback stays off.
/// Values never appear in a log line or an error text.
///
/// All operations are asynchronous (the secret service is a D-Bus call away) and report on the
/// store's thread; operations run in the order they were made.
class TokenStore : public QObject {
  Q_OBJECT

 public:
  enum class Backend {
    SecretServiceOrFile,  ///< the secret service where one answers, else the settings file
    FileOnly,             ///< the settings file only (tests, or a desktop without one)
  };
  /// Where the last finished operation found or put its value.
  enum class Location { None, SecretService, File };

  using ReadCallback = std::function<void(const QString& value)>;  // empty: no token
  using DoneCallback = std::function<void(bool stored)>;

  static constexpr char kServiceName[] = "Duoscope";

  /// `fallback` (not owned) must outlive the store.
  TokenStore(SettingsStore& fallback, Backend backend, QObject* parent = nullptr);

  void read(const QString& key, ReadCallback done);
  /// Stores `value`; an empty value removes the key.
  void write(const QString& key, const QString& value, DoneCallback done = {});
  void remove(const QString& key, DoneCallback done = {});

  Location lastLocation() const { return m_lastLocation; }
  Backend backend() const { return m_backend; }

 private:
  void readFromFile(const QString& key, const ReadCallback& done);
  void writeToFile(const QString& key, const QString& value, const DoneCallback& done);

  SettingsStore& m_fallback;
  Backend m_backend;
  Location m_lastLocation = Location::None;
};

}  // namespace duo
