#include "dns_service_discovery.h"

#include <QMetaObject>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <cstdio>

namespace duo {

// Avahi's C callbacks, with its own types, forwarding to the object.
struct DnsServiceDiscoveryCallbacks {
  static void client(AvahiClient* client, AvahiClientState state, void* self) {
    static_cast<DnsServiceDiscovery*>(self)->onClientState(client, state);
  }

  static void group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    static_cast<DnsServiceDiscovery*>(self)->onGroupState(group, state);
  }

  static void browse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                     AvahiBrowserEvent event, const char* name, const char*, const char* domain,
                     AvahiLookupResultFlags, void* userdata) {
    auto* d = static_cast<DnsServiceDiscovery*>(userdata);
    switch (event) {
      case AVAHI_BROWSER_NEW: {
        const QString key = QString::fromUtf8(name);
        auto& where = d->m_instances[key];
        const bool first = where.isEmpty();
        where.append({interface, protocol, QString::fromUtf8(domain)});
        if (first) emit d->serviceFound(key);
        break;
      }
      case AVAHI_BROWSER_REMOVE:
        d->forgetInstance(QString::fromUtf8(name), {interface, protocol, QString::fromUtf8(domain)});
        break;
      case AVAHI_BROWSER_FAILURE:
        emit d->failed(QStringLiteral("Looking for receivers failed: %1")
                           .arg(d->errorText(avahi_client_errno(d->m_client))));
        break;
      case AVAHI_BROWSER_ALL_FOR_NOW:
      case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
  }

  static void resolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                      AvahiResolverEvent event, const char* name, const char*, const char*,
                      const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                      AvahiLookupResultFlags, void* userdata) {
    auto* d = static_cast<DnsServiceDiscovery*>(userdata);
    const QString key = QString::fromUtf8(name);
    QString host;
    QString error;
    if (event == AVAHI_RESOLVER_FOUND && address) {
      char text[AVAHI_ADDRESS_STR_MAX];
      avahi_address_snprint(text, sizeof text, address);
      host = QString::fromLatin1(text);
      // A link-local IPv6 address means nothing without the interface it was seen on.
      if (address->proto == AVAHI_PROTO_INET6 && host.startsWith(QLatin1String("fe80"), Qt::CaseInsensitive))
        host += QLatin1Char('%') + QString::number(interface);
    } else {
      error = d->errorText(avahi_client_errno(d->m_client));
    }
    d->m_resolvers.remove(resolver);
    avahi_service_resolver_free(resolver);
    if (host.isEmpty())
      emit d->resolveFailed(key, error);
    else
      emit d->resolved(key, host, port);
  }
};

DnsServiceDiscovery::DnsServiceDiscovery(QString serviceType, QObject* parent)
    : QObject(parent), m_type(std::move(serviceType)) {}

DnsServiceDiscovery::~DnsServiceDiscovery() {
  // Freeing the client frees its groups, browsers and resolvers too.
  if (m_client) avahi_client_free(m_client);
}

QString DnsServiceDiscovery::errorText(int code) const {
  return QString::fromUtf8(avahi_strerror(code));
}

bool DnsServiceDiscovery::start() {
  if (m_client) return true;
  if (!m_poll) m_poll = std::make_unique<AvahiQtPoll>();
  int error = 0;
  AvahiClient* client = avahi_client_new(m_poll->api(), AvahiClientFlags(0),
                                         DnsServiceDiscoveryCallbacks::client, this, &error);
  if (!client) {
    const QString text = QStringLiteral("Local network discovery is not available (%1). Is the "
                                        "Avahi daemon running?")
                             .arg(errorText(error));
    QMetaObject::invokeMethod(this, [this, text] { emit failed(text); }, Qt::QueuedConnection);
    return false;
  }
  m_client = client;
  if (m_publishing) registerService();
  if (m_wantsBrowse) browse();
  return true;
}

void DnsServiceDiscovery::onClientState(AvahiClient* client, int state) {
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      if (m_client && m_publishing && !m_group) registerService();
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host name is being (re)registered: our records return once it runs again.
      if (m_group) avahi_entry_group_reset(m_group);
      break;
    case AVAHI_CLIENT_FAILURE: {
      const QString text = QStringLiteral("Local network discovery stopped: %1")
                               .arg(errorText(avahi_client_errno(client)));
      // The client is unusable now; dropping it frees everything it made.
      if (m_client == client) {
        m_group = nullptr;
        m_browser = nullptr;
        m_resolvers.clear();
        m_client = nullptr;
        QMetaObject::invokeMethod(this, [client] { avahi_client_free(client); },
                                  Qt::QueuedConnection);
      }
      QMetaObject::invokeMethod(this, [this, text] { emit failed(text); }, Qt::QueuedConnection);
      break;
    }
    default:
      break;
  }
}

void DnsServiceDiscovery::publish(const QString& name, std::uint16_t port) {
  m_publishName = name;
  m_publishPort = port;
  m_publishing = true;
  if (m_client) registerService();
}

void DnsServiceDiscovery::unpublish() {
  m_publishing = false;
  if (m_group) {
    avahi_entry_group_free(m_group);
    m_group = nullptr;
  }
}

void DnsServiceDiscovery::registerService() {
  if (!m_client || avahi_client_get_state(m_client) != AVAHI_CLIENT_S_RUNNING) return;
  if (!m_group) {
    m_group = avahi_entry_group_new(m_client, DnsServiceDiscoveryCallbacks::group, this);
    if (!m_group) {
      emit failed(QStringLiteral("Cannot announce this receiver: %1")
                      .arg(errorText(avahi_client_errno(m_client))));
      return;
    }
  }
  avahi_entry_group_reset(m_group);
  for (;;) {
    const QByteArray name = m_publishName.toUtf8();
    const QByteArray type = m_type.toUtf8();
    const int rc = avahi_entry_group_add_service(m_group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                 AvahiPublishFlags(0), name.constData(),
                                                 type.constData(), nullptr, nullptr,
                                                 m_publishPort, nullptr);
    if (rc == AVAHI_ERR_COLLISION) {
      // Another service of ours on this machine has the name already.
      char* next = avahi_alternative_service_name(name.constData());
      m_publishName = QString::fromUtf8(next);
      avahi_free(next);
      continue;
    }
    if (rc < 0 || (avahi_entry_group_commit(m_group) < 0)) {
      emit failed(QStringLiteral("Cannot announce this receiver: %1")
                      .arg(errorText(avahi_client_errno(m_client))));
      return;
    }
    return;
  }
}

void DnsServiceDiscovery::onGroupState(AvahiEntryGroup*, int state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED: {
      const QString name = m_publishName;
      QMetaObject::invokeMethod(this, [this, name] { emit published(name); },
                                Qt::QueuedConnection);
      break;
    }
    case AVAHI_ENTRY_GROUP_COLLISION: {
      // Another machine on the network has the name: take the next one and announce again.
      char* next = avahi_alternative_service_name(m_publishName.toUtf8().constData());
      m_publishName = QString::fromUtf8(next);
      avahi_free(next);
      QMetaObject::invokeMethod(this, [this] { if (m_publishing) registerService(); },
                                Qt::QueuedConnection);
      break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE: {
      const QString text = QStringLiteral("Cannot announce this receiver: %1")
                               .arg(errorText(avahi_client_errno(m_client)));
      QMetaObject::invokeMethod(this, [this, text] { emit failed(text); }, Qt::QueuedConnection);
      break;
    }
    default:
      break;
  }
}

void DnsServiceDiscovery::browse() {
  m_wantsBrowse = true;
  if (!m_client || m_browser) return;
  m_browser = avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                        m_type.toUtf8().constData(), nullptr,
                                        AvahiLookupFlags(0), DnsServiceDiscoveryCallbacks::browse,
                                        this);
  if (!m_browser) {
    emit failed(QStringLiteral("Cannot look for receivers: %1")
                    .arg(errorText(avahi_client_errno(m_client))));
  }
}

void DnsServiceDiscovery::stopBrowsing() {
  m_wantsBrowse = false;
  if (m_browser) {
    avahi_service_browser_free(m_browser);
    m_browser = nullptr;
  }
  m_instances.clear();
}

void DnsServiceDiscovery::forgetInstance(const QString& name, const Instance& where) {
  auto it = m_instances.find(name);
  if (it == m_instances.end()) return;
  it->removeIf([&](const Instance& i) {
    return i.interface == where.interface && i.protocol == where.protocol && i.domain == where.domain;
  });
  if (it->isEmpty()) {
    m_instances.erase(it);
    emit serviceRemoved(name);
  }
}

void DnsServiceDiscovery::resolve(const QString& name) {
  const auto it = m_instances.constFind(name);
  if (!m_client || it == m_instances.cend()) {
    QMetaObject::invokeMethod(
        this, [this, name] { emit resolveFailed(name, QStringLiteral("The receiver is no longer announced.")); },
        Qt::QueuedConnection);
    return;
  }
  // IPv4 where the instance was seen over it: its addresses need no interface to be usable.
  Instance where = it->first();
  for (const Instance& i : *it)
    if (i.protocol == AVAHI_PROTO_INET) where = i;
  AvahiServiceResolver* resolver = avahi_service_resolver_new(
      m_client, where.interface, where.protocol, name.toUtf8().constData(),
      m_type.toUtf8().constData(), where.domain.toUtf8().constData(), where.protocol,
      AvahiLookupFlags(0), DnsServiceDiscoveryCallbacks::resolve, this);
  if (!resolver) {
    const QString error = errorText(avahi_client_errno(m_client));
    QMetaObject::invokeMethod(this, [this, name, error] { emit resolveFailed(name, error); },
                              Qt::QueuedConnection);
    return;
  }
  m_resolvers.insert(resolver);
}

}  // namespace duo
