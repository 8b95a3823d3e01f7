#include "reachability.h"

#include <QHostInfo>
#include <QNetworkInformation>
#include <QNetworkInterface>

namespace duo {

namespace {

bool reachesBeyondLink(const QHostAddress& address) {
  if (address.isNull() || address.isLoopback()) return false;
  // Every interface that is merely switched on has an IPv6 link-local address, and an IPv4
  // 169.254/16 address means no network gave it a real one: neither reaches another host.
  return !address.isLinkLocal();
}

QList<Reachability::InterfaceFacts> currentInterfaces() {
  QList<Reachability::InterfaceFacts> facts;
  const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
  for (const QNetworkInterface& interface : interfaces) {
    Reachability::InterfaceFacts fact;
    const auto flags = interface.flags();
    fact.up = flags.testFlag(QNetworkInterface::IsUp);
    fact.running = flags.testFlag(QNetworkInterface::IsRunning);
    fact.loopback = flags.testFlag(QNetworkInterface::IsLoopBack) ||
                    interface.type() == QNetworkInterface::Loopback;
    for (const QNetworkAddressEntry& entry : interface.addressEntries())
      fact.addresses.append(entry.ip());
    facts.append(fact);
  }
  return facts;
}

}  // namespace

Reachability::Reachability(const QString& hostName, QObject* parent)
    : QObject(parent), m_hostName(hostName.trimmed()) {
  m_pollTimer.setInterval(kPollIntervalMs);
  connect(&m_pollTimer, &QTimer::timeout, this, [this] { refresh(true); });
  m_retryTimer.setSingleShot(true);
  m_retryTimer.setInterval(kLookupRetryMs);
  connect(&m_retryTimer, &QTimer::timeout, this, &Reachability::lookUpHost);
}

Reachability::~Reachability() {
  if (m_lookupId != -1) QHostInfo::abortHostLookup(m_lookupId);
}

Reachability* Reachability::reachabilityWithHostName(const QString& hostName, QObject* parent) {
  return new Reachability(hostName, parent);
}

bool Reachability::startNotifier() {
  if (m_running) return false;
  m_running = true;
  if (!m_pinned && ensureInformationService()) {
    QNetworkInformation* info = QNetworkInformation::instance();
    m_serviceConnections << connect(info, &QNetworkInformation::reachabilityChanged, this,
                                    [this] { refresh(true); });
    m_serviceConnections << connect(info, &QNetworkInformation::transportMediumChanged, this,
                                    [this] { refresh(true); });
  }
  refresh(true);
  if (!m_pinned) lookUpHost();
  return true;
}

void Reachability::stopNotifier() {
  m_running = false;
  for (const auto& connection : std::as_const(m_serviceConnections)) disconnect(connection);
  m_serviceConnections.clear();
  m_pollTimer.stop();
  m_retryTimer.stop();
}

int Reachability::currentReachabilityStatus() {
  // While the notifier runs the status is kept current by the service or the polling; before
  // that it is worked out when asked.
  if (!m_running) refresh(false);
  return m_status;
}

void Reachability::setStatusForTesting(int status) {
  if (status < NotReachable || status > ReachableViaWWAN) return;
  m_pinned = status;
  m_pollTimer.stop();
  m_retryTimer.stop();
  refresh(true);
}

std::optional<int> Reachability::statusForNetworkInformation(int reachability,
                                                             int transportMedium) {
  using Info = QNetworkInformation;
  switch (static_cast<Info::Reachability>(reachability)) {
    case Info::Reachability::Online:
      return static_cast<Info::TransportMedium>(transportMedium) == Info::TransportMedium::Cellular
                 ? ReachableViaWWAN
                 : ReachableViaWiFi;
    case Info::Reachability::Disconnected:
    case Info::Reachability::Local:
    case Info::Reachability::Site:
      // Connected to something, but not to the internet where the watched host lives.
      return NotReachable;
    case Info::Reachability::Unknown:
      break;
  }
  return std::nullopt;
}

int Reachability::statusForInterfaces(const QList<InterfaceFacts>& interfaces) {
  for (const InterfaceFacts& interface : interfaces) {
    if (!interface.up || !interface.running || interface.loopback) continue;
    for (const QHostAddress& address : interface.addresses)
      if (reachesBeyondLink(address)) return ReachableViaWiFi;
  }
  return NotReachable;
}

bool Reachability::ensureInformationService() {
  if (QNetworkInformation::instance()) return true;
  // Loading is tried once per process: a desktop without the service will not grow one, and
  // each attempt asks the system bus.
  static bool tried = false;
  if (!tried) {
    tried = true;
    if (!QNetworkInformation::loadDefaultBackend())
      QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
  }
  return QNetworkInformation::instance() != nullptr;
}

int Reachability::networkStatus(bool* known) {
  *known = false;
  if (ensureInformationService()) {
    const QNetworkInformation* info = QNetworkInformation::instance();
    const auto status =
        statusForNetworkInformation(int(info->reachability()), int(info->transportMedium()));
    if (status) {
      *known = true;
      return *status;
    }
  }
  return statusForInterfaces(currentInterfaces());
}

int Reachability::computeStatus() {
  if (m_pinned) return *m_pinned;
  bool known = false;
  const int network = networkStatus(&known);
  // Without a service that tells us about changes, the interfaces are looked at now and then.
  if (m_running && !known) {
    if (!m_pollTimer.isActive()) m_pollTimer.start();
  } else {
    m_pollTimer.stop();
  }
  const bool cameOnline = m_lastNetworkStatus == NotReachable && network != NotReachable;
  m_lastNetworkStatus = network;
  if (m_running && cameOnline && m_hostResolves == false) lookUpHost();
  if (network == NotReachable) return NotReachable;
  if (m_hostResolves == false) return NotReachable;
  return network;
}

void Reachability::refresh(bool notify) {
  const int previous = m_status;
  m_status = computeStatus();
  if (notify && m_status != previous) emit reachabilityChanged();
}

void Reachability::lookUpHost() {
  if (m_pinned || m_hostName.isEmpty() || m_lookupPending) return;
  m_retryTimer.stop();
  m_lookupPending = true;
  // The answer comes through a connection by slot name, not a functor: Qt 6.4 never frees a
  // functor's slot object when the lookup is aborted or its context goes before the answer,
  // which is what happens to every watcher that goes while its lookup is out. A connection goes
  // with the watcher and leaves nothing behind.
  const int id = QHostInfo::lookupHost(m_hostName, this, SLOT(hostLookedUp(QHostInfo)));
  // Should the answer ever come before lookupHost() returns, there is nothing left to abort.
  if (m_lookupPending) m_lookupId = id;
}

void Reachability::hostLookedUp(const QHostInfo& info) {
  m_lookupPending = false;
  m_lookupId = -1;
  m_hostResolves = info.error() == QHostInfo::NoError && !info.addresses().isEmpty();
  // A failed lookup may have been the network's passing trouble: ask again later.
  if (!*m_hostResolves && m_running) m_retryTimer.start();
  refresh(m_running);
}

}  // namespace duo
