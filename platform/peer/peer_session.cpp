#include "peer_session.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <cstdio>

#include "dns_service_discovery.h"

namespace duo {
namespace {

// Every message on the wire: a 4-byte big-endian length of what follows, a type byte and the
// payload. Hello carries "session id NUL display name" from the client; the server answers
// Accept or Deny; after Accept only Data flows.
constexpr std::int64_t kHeaderBytes = 4;
constexpr std::int64_t kMaxHelloBytes = 4096;
// A client that connects and never says hello does not hold the server's slot for long.
constexpr int kHelloTimeoutMs = 10000;

}  // namespace

enum class PeerSession::FrameType : std::uint8_t { Hello = 1, Accept = 2, Deny = 3, Data = 4 };

struct PeerSession::Peer {
  enum class Phase {
    Idle,          // client: found, not connected
    Resolving,     // client: asking DNS-SD for the address
    Connecting,    // client: TCP under way, or hello sent and no answer yet
    AwaitingHello, // server: TCP accepted, no hello yet
    Requested,     // server: hello received, the delegate decides
    Connected,
  };

  QString id;
  QString name;
  bool direct = false;  // client: named host:port rather than found
  QString host;
  std::uint16_t port = 0;
  Phase phase = Phase::Idle;
  QPointer<QTcpSocket> socket;
  QTimer* timer = nullptr;  // connect time-out (client) or hello time-out (server)
  QByteArray inbox;
};

PeerSession::PeerSession(const QString& sessionId, const QString& displayName, Mode mode,
                         QObject* parent)
    : QObject(parent), m_sessionId(sessionId), m_displayName(displayName), m_mode(mode) {}

PeerSession::~PeerSession() {
  m_delegate = nullptr;
  m_dataHandler = nullptr;
  for (const auto& peer : std::as_const(m_peers)) closePeer(*peer, false);
  m_peers.clear();
}

std::uint16_t PeerSession::serverPort() const {
  return m_server && m_server->isListening() ? m_server->serverPort() : 0;
}

PeerSession::Peer* PeerSession::findPeer(const QString& peerId) const {
  const auto it = m_peers.constFind(peerId);
  return it == m_peers.cend() ? nullptr : it->get();
}

PeerSession::Peer& PeerSession::addPeer(const QString& name) {
  auto peer = std::make_shared<Peer>();
  peer->id = QString::number(m_nextPeerNumber++);
  peer->name = name;
  m_peers.insert(peer->id, peer);
  return *peer;
}

QString PeerSession::displayNameForPeer(const QString& peerId) const {
  const Peer* peer = findPeer(peerId);
  return peer ? peer->name : QString();
}

void PeerSession::post(std::function<void()> event) {
  QMetaObject::invokeMethod(this, std::move(event), Qt::QueuedConnection);
}

void PeerSession::reportState(const QString& peerId, PeerState state) {
  post([this, peerId, state] {
    if (m_delegate) m_delegate->sessionPeerDidChangeState(this, peerId, state);
  });
}

bool PeerSession::addDirectPeer(const QString& hostAndPort) {
  if (m_mode != Mode::Client) return false;
  const int colon = hostAndPort.lastIndexOf(QLatin1Char(':'));
  if (colon <= 0) return false;
  QString host = hostAndPort.left(colon);
  if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
    host = host.mid(1, host.size() - 2);
  bool ok = false;
  const uint port = hostAndPort.mid(colon + 1).toUInt(&ok);
  if (!ok || port == 0 || port > 65535 || host.isEmpty() || host.contains(QLatin1Char('/')))
    return false;
  Peer& peer = addPeer(hostAndPort);
  peer.direct = true;
  peer.host = host;
  peer.port = static_cast<std::uint16_t>(port);
  if (m_available) reportState(peer.id, PeerStateAvailable);
  return true;
}

void PeerSession::setAvailable(bool available) {
  if (available == m_available) return;
  m_available = available;
  if (m_mode == Mode::Server) {
    if (available) startServer(); else stopServer();
    return;
  }
  if (available) {
    for (const auto& peer : std::as_const(m_peers))
      if (peer->direct && peer->phase == Peer::Phase::Idle) reportState(peer->id, PeerStateAvailable);
    startDiscovery();
  } else {
    stopDiscovery();
  }
}

void PeerSession::startServer() {
  if (!m_server) {
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &PeerSession::onIncomingConnection);
  }
  // Connections made while unavailable stay; only new ones are turned away (not listening).
  if (!m_server->isListening() && !m_server->listen(QHostAddress::Any, m_listenPort)) {
    const QString error = QStringLiteral("Cannot listen on port %1: %2")
                              .arg(m_listenPort).arg(m_server->errorString());
    post([this, error] { if (m_delegate) m_delegate->sessionDidFailWithError(this, error); });
    return;
  }
  startDiscovery();
  if (m_discovery) m_discovery->publish(m_displayName, m_server->serverPort());
}

void PeerSession::stopServer() {
  if (m_discovery) m_discovery->unpublish();
  if (m_server) m_server->close();
}

void PeerSession::startDiscovery() {
  if (!m_usesDiscovery) return;
  if (!m_discovery) {
    m_discovery = std::make_unique<DnsServiceDiscovery>(QString::fromLatin1(kServiceType));
    auto* d = m_discovery.get();
    connect(d, &DnsServiceDiscovery::serviceFound, this, &PeerSession::onServiceFound);
    connect(d, &DnsServiceDiscovery::serviceRemoved, this, &PeerSession::onServiceRemoved);
    connect(d, &DnsServiceDiscovery::resolved, this, &PeerSession::onServiceResolved);
    connect(d, &DnsServiceDiscovery::resolveFailed, this, [this](const QString& name, const QString& error) {
      for (const auto& peer : std::as_const(m_peers))
        if (!peer->direct && peer->name == name && peer->phase == Peer::Phase::Resolving)
          failConnect(*peer, QStringLiteral("Cannot find the address of \"%1\": %2").arg(name, error));
    });
    connect(d, &DnsServiceDiscovery::failed, this, &PeerSession::onDiscoveryFailed);
    if (!d->start()) return;
  }
  if (m_mode == Mode::Client) m_discovery->browse();
}

void PeerSession::stopDiscovery() {
  if (m_discovery) m_discovery->stopBrowsing();
}

void PeerSession::onDiscoveryFailed(const QString& error) {
  if (m_delegate) m_delegate->sessionDidFailWithError(this, error);
}

void PeerSession::onServiceFound(const QString& name) {
  if (!m_available || m_mode != Mode::Client) return;
  for (const auto& peer : std::as_const(m_peers))
    if (!peer->direct && peer->name == name) return;
  reportState(addPeer(name).id, PeerStateAvailable);
}

void PeerSession::onServiceRemoved(const QString& name) {
  for (const auto& peer : std::as_const(m_peers)) {
    if (peer->direct || peer->name != name) continue;
    // A connection made already does not depend on the announcement any more.
    if (peer->phase == Peer::Phase::Connected) return;
    const QString id = peer->id;
    if (peer->phase != Peer::Phase::Idle) failConnect(*peer, QStringLiteral("The receiver went away."));
    removePeer(id);
    reportState(id, PeerStateUnavailable);
    return;
  }
}

void PeerSession::connectToPeer(const QString& peerId, double timeoutSeconds) {
  Peer* peer = findPeer(peerId);
  if (m_mode != Mode::Client || !peer || peer->phase != Peer::Phase::Idle) {
    const QString error = peer ? QStringLiteral("Already connecting or connected.")
                               : QStringLiteral("No such peer.");
    post([this, peerId, error] {
      if (m_delegate) m_delegate->sessionConnectionWithPeerFailed(this, peerId, error);
    });
    return;
  }
  peer->timer = new QTimer(this);
  peer->timer->setSingleShot(true);
  connect(peer->timer, &QTimer::timeout, this, [this, peerId] {
    if (Peer* p = findPeer(peerId)) failConnect(*p, QStringLiteral("The receiver did not answer in time."));
  });
  peer->timer->start(static_cast<int>(std::max(0.0, timeoutSeconds) * 1000));
  reportState(peerId, PeerStateConnecting);
  if (peer->direct) {
    peer->phase = Peer::Phase::Connecting;
    openSocket(*peer, peer->host, peer->port);
  } else {
    peer->phase = Peer::Phase::Resolving;
    m_discovery->resolve(peer->name);
  }
}

void PeerSession::onServiceResolved(const QString& name, const QString& host, std::uint16_t port) {
  for (const auto& peer : std::as_const(m_peers)) {
    if (peer->direct || peer->name != name || peer->phase != Peer::Phase::Resolving) continue;
    peer->phase = Peer::Phase::Connecting;
    openSocket(*peer, host, port);
  }
}

void PeerSession::openSocket(Peer& peer, const QString& host, std::uint16_t port) {
  auto* socket = new QTcpSocket(this);
  attachSocket(peer, socket);
  const QString id = peer.id;
  connect(socket, &QTcpSocket::connected, this, [this, id] {
    Peer* p = findPeer(id);
    if (!p) return;
    QByteArray hello = m_sessionId.toUtf8();
    hello.append('\0');
    hello.append(m_displayName.toUtf8().left(kMaxHelloBytes / 2));
    writeFrame(*p, FrameType::Hello, hello);
  });
  socket->connectToHost(host, port);
}

void PeerSession::attachSocket(Peer& peer, QTcpSocket* socket) {
  peer.socket = socket;
  const QString id = peer.id;
  // Stop-and-wait sends one small message per round trip; Nagle's delay would cost 40 ms each.
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  connect(socket, &QTcpSocket::readyRead, this, [this, id] { onReadyRead(id); });
  connect(socket, &QTcpSocket::disconnected, this, [this, id] { onSocketClosed(id, QString()); });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, id, socket] {
    if (socket->error() != QAbstractSocket::RemoteHostClosedError)
      onSocketClosed(id, socket->errorString());
  });
}

void PeerSession::onIncomingConnection() {
  while (QTcpSocket* socket = m_server->nextPendingConnection()) {
    socket->setParent(this);
    Peer& peer = addPeer(QString());
    peer.phase = Peer::Phase::AwaitingHello;
    attachSocket(peer, socket);
    const QString id = peer.id;
    peer.timer = new QTimer(this);
    peer.timer->setSingleShot(true);
    connect(peer.timer, &QTimer::timeout, this, [this, id] {
      if (Peer* p = findPeer(id); p && p->phase == Peer::Phase::AwaitingHello) removePeer(id);
    });
    peer.timer->start(kHelloTimeoutMs);
  }
}

void PeerSession::onReadyRead(const QString& peerId) {
  // Keep the peer alive while its messages are handled: a handler may disconnect it.
  const auto it = m_peers.constFind(peerId);
  if (it == m_peers.cend()) return;
  const std::shared_ptr<Peer> peer = *it;
  if (!peer->socket) return;
  peer->inbox.append(peer->socket->readAll());
  while (peer->socket && peer->inbox.size() >= kHeaderBytes) {
    const auto length = static_cast<std::int64_t>(
        qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(peer->inbox.constData())));
    const std::int64_t limit = peer->phase == Peer::Phase::Connected ? kMaxMessageBytes + 1
                                                                     : kMaxHelloBytes + 1;
    if (length < 1 || length > limit) {
      std::fprintf(stderr, "peer session: a message of %lld bytes from \"%s\"; closing\n",
                   static_cast<long long>(length), qUtf8Printable(peer->name));
      onSocketClosed(peerId, QStringLiteral("The other side sent something that is not a message."));
      return;
    }
    if (peer->inbox.size() < kHeaderBytes + length) return;
    const auto type = static_cast<FrameType>(peer->inbox.at(kHeaderBytes));
    const QByteArray payload = peer->inbox.mid(kHeaderBytes + 1, length - 1);
    peer->inbox.remove(0, kHeaderBytes + length);
    handleFrame(*peer, type, payload);
    if (!m_peers.contains(peerId)) return;
  }
}

void PeerSession::handleFrame(Peer& peer, FrameType type, const QByteArray& payload) {
  using Phase = Peer::Phase;
  const QString id = peer.id;
  if (type == FrameType::Data && peer.phase == Phase::Connected) {
    if (!payload.isEmpty() && m_dataHandler) m_dataHandler->receiveDataFromPeer(payload, id, this);
    return;
  }
  if (type == FrameType::Hello && peer.phase == Phase::AwaitingHello) {
    const int nul = payload.indexOf('\0');
    if (nul < 0 || QString::fromUtf8(payload.left(nul)) != m_sessionId) {
      removePeer(id);  // another program, or another session: not ours to offer
      return;
    }
    peer.name = QString::fromUtf8(payload.mid(nul + 1));
    peer.phase = Phase::Requested;
    if (peer.timer) peer.timer->stop();
    post([this, id] {
      if (m_delegate && findPeer(id)) m_delegate->sessionDidReceiveConnectionRequestFromPeer(this, id);
    });
    return;
  }
  if (type == FrameType::Accept && peer.phase == Phase::Connecting) {
    peer.phase = Phase::Connected;
    if (peer.timer) peer.timer->stop();
    reportState(id, PeerStateConnected);
    return;
  }
  if (type == FrameType::Deny && peer.phase == Phase::Connecting) {
    failConnect(peer, QStringLiteral("The receiver is busy with another sender."));
    return;
  }
  onSocketClosed(id, QStringLiteral("The other side broke the session's rules."));
}

void PeerSession::writeFrame(Peer& peer, FrameType type, const QByteArray& payload) {
  if (!peer.socket) return;
  QByteArray frame(kHeaderBytes + 1, Qt::Uninitialized);
  qToBigEndian<quint32>(static_cast<quint32>(payload.size() + 1), frame.data());
  frame.data()[kHeaderBytes] = static_cast<char>(type);
  frame.append(payload);
  peer.socket->write(frame);
}

bool PeerSession::acceptConnectionFromPeer(const QString& peerId, QString* error) {
  Peer* peer = findPeer(peerId);
  if (!peer || peer->phase != Peer::Phase::Requested) {
    if (error) *error = QStringLiteral("No connection request from this peer.");
    return false;
  }
  peer->phase = Peer::Phase::Connected;
  writeFrame(*peer, FrameType::Accept, {});
  reportState(peerId, PeerStateConnected);
  return true;
}

void PeerSession::denyConnectionFromPeer(const QString& peerId) {
  Peer* peer = findPeer(peerId);
  if (!peer || peer->phase != Peer::Phase::Requested) return;
  writeFrame(*peer, FrameType::Deny, {});
  removePeer(peerId);
}

bool PeerSession::sendDataToPeer(const QByteArray& data, const QString& peerId) {
  Peer* peer = findPeer(peerId);
  if (!peer || peer->phase != Peer::Phase::Connected || !peer->socket || data.isEmpty() ||
      data.size() > kMaxMessageBytes)
    return false;
  if (peer->socket->bytesToWrite() > kMaxQueuedBytes) return false;
  writeFrame(*peer, FrameType::Data, data);
  return true;
}

void PeerSession::disconnectFromAllPeers() {
  const QStringList ids = m_peers.keys();
  for (const QString& id : ids) {
    Peer* peer = findPeer(id);
    if (!peer) continue;
    const bool wasConnected = peer->phase == Peer::Phase::Connected;
    if (m_mode == Mode::Server) {
      removePeer(id);
    } else if (peer->phase != Peer::Phase::Idle) {
      // A client's peers stay known (found or named) and can be connected again.
      closePeer(*peer, true);
      peer->phase = Peer::Phase::Idle;
    }
    if (wasConnected) reportState(id, PeerStateDisconnected);
  }
}

void PeerSession::failConnect(Peer& peer, const QString& error) {
  const QString id = peer.id;
  closePeer(peer, false);
  peer.phase = Peer::Phase::Idle;
  post([this, id, error] {
    if (m_delegate) m_delegate->sessionConnectionWithPeerFailed(this, id, error);
  });
}

void PeerSession::onSocketClosed(const QString& peerId, const QString& error) {
  Peer* peer = findPeer(peerId);
  if (!peer || !peer->socket) return;
  switch (peer->phase) {
    case Peer::Phase::Resolving:
    case Peer::Phase::Connecting:
      failConnect(*peer, error.isEmpty() ? QStringLiteral("The receiver closed the connection.") : error);
      return;
    case Peer::Phase::Connected:
      if (!error.isEmpty())
        std::fprintf(stderr, "peer session: \"%s\" disconnected: %s\n", qUtf8Printable(peer->name),
                     qUtf8Printable(error));
      if (m_mode == Mode::Client) {
        closePeer(*peer, false);
        peer->phase = Peer::Phase::Idle;
      } else {
        removePeer(peerId);
      }
      reportState(peerId, PeerStateDisconnected);
      return;
    default:
      if (m_mode == Mode::Server) removePeer(peerId); else closePeer(*peer, false);
      return;
  }
}

void PeerSession::closePeer(Peer& peer, bool flush) {
  if (peer.timer) {
    peer.timer->stop();
    peer.timer->deleteLater();
    peer.timer = nullptr;
  }
  peer.inbox.clear();
  if (QTcpSocket* socket = peer.socket) {
    peer.socket = nullptr;
    socket->disconnect(this);
    // A graceful close still delivers what was queued (the receiver's last acknowledgement).
    if (flush && socket->state() == QAbstractSocket::ConnectedState) {
      connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      socket->disconnectFromHost();
      if (socket->state() == QAbstractSocket::UnconnectedState) socket->deleteLater();
    } else {
      socket->abort();
      socket->deleteLater();
    }
  }
}

void PeerSession::removePeer(const QString& peerId) {
  const auto it = m_peers.find(peerId);
  if (it == m_peers.end()) return;
  const std::shared_ptr<Peer> peer = *it;
  m_peers.erase(it);
  closePeer(*peer, true);
}

}  // namespace duo
