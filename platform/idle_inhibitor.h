#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <optional>

namespace duo {

/// The application's idle-timer switch: while disabled, the desktop is asked not to blank the
/// screen or suspend (the freedesktop ScreenSaver service's Inhibit on the session bus). Calls
/// are asynchronous, so a slow bus never holds up the window. Without a bus or without the
/// service the switch does nothing, and says so once on stderr. Main thread only.
class IdleInhibitor : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kService = "org.freedesktop.ScreenSaver";
  static constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
  static constexpr const char* kInterface = "org.freedesktop.ScreenSaver";

  /// Uses `bus` (for instance a private bus in tests); `reason` is what the desktop shows.
  explicit IdleInhibitor(QDBusConnection bus,
                         QString reason = QStringLiteral("Sending photographs"),
                         QObject* parent = nullptr);
  /// Releases a held inhibition.
  ~IdleInhibitor() override;

  /// The application's switch, on the session bus (connected when first disabled).
  static IdleInhibitor& shared();
  /// Replaces the application's switch (not owned; nullptr goes back to the session bus's).
  static void setShared(IdleInhibitor* inhibitor);

  /// True asks the desktop to stay awake; false releases the request, also one whose answer
  /// is still on its way. Repeating the current value changes nothing.
  void setIdleTimerDisabled(bool disabled);
  bool isIdleTimerDisabled() const { return m_disabled; }
  /// Whether the desktop holds an inhibition of ours now (its cookie has arrived).
  bool isInhibiting() const { return m_cookie.has_value(); }

 private:
  void sendInhibit();
  void sendUnInhibit(std::uint32_t cookie);
  void warnOnce(const QString& why);

  QDBusConnection m_bus;
  QString m_reason;
  bool m_disabled = false;
  bool m_requestPending = false;  // an Inhibit call whose answer has not come
  std::optional<std::uint32_t> m_cookie;
  bool m_warned = false;
};

}  // namespace duo
