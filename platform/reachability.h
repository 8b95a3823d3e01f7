#pragma once

#include <QHostAddress>
#include <QHostInfo>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

namespace duo {

/// Name of the change notice that other parts of the program know the watcher by; in this
/// program it is the Qt signal Reachability::reachabilityChanged().
inline constexpr const char* kNetworkReachabilityChangedNotification =
    "kNetworkReachabilityChangedNotification";

/// Watches whether one host on the internet can be reached, and how.
///
/// The status comes from the desktop's network information service when one can be loaded (its
/// "online" state and transport medium), otherwise from the machine's network interfaces, checked
/// every few seconds. A host name that does not resolve also counts as not reachable; the lookup
/// runs in the background and never blocks the caller. Main thread only.
class Reachability : public QObject {
  Q_OBJECT

 public:
  /// Values of currentReachabilityStatus().
  enum NetworkStatus : int {
    NotReachable = 0,
    ReachableViaWiFi = 1,  ///< any local network: Wi-Fi or wired Ethernet
    ReachableViaWWAN = 2,  ///< the mobile (cellular) network
  };

  /// How often the network interfaces are checked when no information service is available.
  static constexpr int kPollIntervalMs = 3000;
  /// How often a host name that failed to resolve is tried again while the network is up.
  static constexpr int kLookupRetryMs = 30000;

  explicit Reachability(const QString& hostName, QObject* parent = nullptr);
  ~Reachability() override;

  /// A new watcher for `hostName`, owned by `parent` (or by the caller when there is none).
  static Reachability* reachabilityWithHostName(const QString& hostName, QObject* parent = nullptr);

  QString hostName() const { return m_hostName; }

  /// Starts following changes: from now on reachabilityChanged() is emitted whenever the status
  /// changes. Returns false only when it was already started.
  bool startNotifier();
  void stopNotifier();
  bool isNotifierRunning() const { return m_running; }

  /// 0 not reachable, 1 reachable over Wi-Fi or a wired network, 2 over the mobile network.
  int currentReachabilityStatus();

  /// Pins the status to `status` (0, 1 or 2; anything else is ignored) and emits
  /// reachabilityChanged() when that changes it. Real changes are ignored from then on. For tests.
  void setStatusForTesting(int status);

  /// What the network information service's state means for a host on the internet: only
  /// `online` counts; cellular transport gives 2, any other 1. nullopt when the service does not
  /// know (then the interfaces decide).
  static std::optional<int> statusForNetworkInformation(int reachability, int transportMedium);

  /// One network interface, reduced to what decides reachability.
  struct InterfaceFacts {
    bool up = false;
    bool running = false;
    bool loopback = false;
    QList<QHostAddress> addresses;
  };
  /// 1 when some interface is up, running, not the loopback and has an address that can reach
  /// beyond the local link; otherwise 0.
  static int statusForInterfaces(const QList<InterfaceFacts>& interfaces);

 signals:
  /// The status changed; emitted on the watcher's (main) thread.
  void reachabilityChanged();

 private slots:
  void hostLookedUp(const QHostInfo& info);

 private:
  int networkStatus(bool* known);
  int computeStatus();
  void refresh(bool notify);
  void lookUpHost();
  bool ensureInformationService();

  QString m_hostName;
  int m_status = NotReachable;
  bool m_running = false;
  std::optional<int> m_pinned;
  std::optional<bool> m_hostResolves;  // unknown until the first lookup answers
  int m_lookupId = -1;  // of the lookup in progress, to abort it when the watcher goes
  bool m_lookupPending = false;
  int m_lastNetworkStatus = NotReachable;
  QTimer m_pollTimer;
  QTimer m_retryTimer;
  QList<QMetaObject::Connection> m_serviceConnections;
};

}  // namespace duo
