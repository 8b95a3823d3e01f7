#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <memory>

#include "avahi_qt_poll.h"

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;

namespace duo {

/// DNS-SD on the local network through the Avahi daemon: announces one service, browses one
/// service type and resolves instances to an address and port. Main thread only.
///
/// Without a reachable Avahi daemon (nothing on the system bus) start() fails: the session
/// above carries on with directly named peers.
class DnsServiceDiscovery : public QObject {
  Q_OBJECT

 public:
  explicit DnsServiceDiscovery(QString serviceType, QObject* parent = nullptr);
  ~DnsServiceDiscovery() override;

  /// Connects to the daemon. False, with failed() queued, when it cannot be reached.
  bool start();

  /// Announces `name` on `port` until unpublish(); on a clash with another machine's name
  /// Avahi's next alternative (" #2", …) is taken and published() says which.
  void publish(const QString& name, std::uint16_t port);
  void unpublish();

  /// serviceFound()/serviceRemoved() for each instance name, once however many interfaces and
  /// protocols it appears on.
  void browse();
  void stopBrowsing();

  /// resolved() or resolveFailed() follows for `name`, from the event loop.
  void resolve(const QString& name);

 signals:
  void published(const QString& name);
  void serviceFound(const QString& name);
  void serviceRemoved(const QString& name);
  void resolved(const QString& name, const QString& host, std::uint16_t port);
  void resolveFailed(const QString& name, const QString& error);
  void failed(const QString& error);

 private:
  struct Instance {
    int interface = -1;
    int protocol = -1;
    QString domain;
  };

  friend struct DnsServiceDiscoveryCallbacks;

  void onClientState(AvahiClient* client, int state);
  void onGroupState(AvahiEntryGroup* group, int state);
  void forgetInstance(const QString& name, const Instance& where);
  void registerService();
  QString errorText(int code) const;

  QString m_type;
  std::unique_ptr<AvahiQtPoll> m_poll;
  AvahiClient* m_client = nullptr;
  AvahiEntryGroup* m_group = nullptr;
  AvahiServiceBrowser* m_browser = nullptr;
  QSet<AvahiServiceResolver*> m_resolvers;
  QString m_publishName;
  std::uint16_t m_publishPort = 0;
  bool m_publishing = false;
  bool m_wantsBrowse = false;
  // Each instance name with where it was seen; a name counts as gone when the last goes.
  QHash<QString, QList<Instance>> m_instances;
};

}  // namespace duo
