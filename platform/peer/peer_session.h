#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace duo {

class PeerSession;
class DnsServiceDiscovery;

/// Session events, delivered on the main thread from the event loop, never from inside a call
/// the delegate made into the session.
class PeerSessionDelegate {
 public:
  virtual ~PeerSessionDelegate() = default;
  /// `state` is a PeerSession::PeerState value (0 available … 4 connecting).
  virtual void sessionPeerDidChangeState(PeerSession* session, const QString& peerId,
                                         int state) = 0;
  /// A client asks to connect (server mode); answer with acceptConnectionFromPeer() or
  /// denyConnectionFromPeer().
  virtual void sessionDidReceiveConnectionRequestFromPeer(PeerSession* session,
                                                          const QString& peerId) = 0;
  /// connectToPeer() did not lead to a connection: time-out, refused, denied, unreachable.
  virtual void sessionConnectionWithPeerFailed(PeerSession* session, const QString& peerId,
                                               const QString& error) = 0;
  /// The session itself stopped working: no DNS-SD service, the port cannot be opened, …
  virtual void sessionDidFailWithError(PeerSession* session, const QString& error) = 0;
};

/// Receives the messages of connected peers, each whole and in the order it was sent.
class PeerDataHandler {
 public:
  virtual ~PeerDataHandler() = default;
  virtual void receiveDataFromPeer(const QByteArray& data, const QString& peerId,
                                   PeerSession* session) = 0;
};

/// A session between programs on the local network. Servers announce themselves by DNS-SD
/// (service type "_duoscope._tcp", the display name as the instance name) and clients browse
/// for them; a peer can also be named directly as "host:port" where the network has no mDNS.
/// Messages travel over TCP, each length-prefixed: they arrive whole, in order and reliably, or
/// the peer is reported disconnected. Main thread only.
class PeerSession : public QObject {
  Q_OBJECT

 public:
  enum class Mode { Server = 0, Client = 1 };

  /// Values of the `state` argument of sessionPeerDidChangeState().
  enum PeerState : int {
    PeerStateAvailable = 0,     ///< found (client mode): connectToPeer() may be called
    PeerStateUnavailable = 1,   ///< no longer announced
    PeerStateConnected = 2,     ///< messages can be sent
    PeerStateDisconnected = 3,  ///< the connection ended (either side, or a fault)
    PeerStateConnecting = 4,    ///< connectToPeer() is under way
  };

  static constexpr const char* kServiceType = "_duoscope._tcp";
  /// Largest message either side sends or accepts; a bigger one ends the connection.
  static constexpr std::int64_t kMaxMessageBytes = 1 << 20;
  /// A send is refused (sendDataToPeer() returns false) while this much is still unsent.
  static constexpr std::int64_t kMaxQueuedBytes = 4 << 20;

  /// `sessionId` must match on both sides ("Duoscope"); `displayName` is what the other side
  /// shows (and, for a server, its DNS-SD instance name).
  PeerSession(const QString& sessionId, const QString& displayName, Mode mode,
              QObject* parent = nullptr);
  /// Closes every connection without telling the delegate, and withdraws the announcement.
  ~PeerSession() override;

  void setDelegate(PeerSessionDelegate* delegate) { m_delegate = delegate; }
  void setDataReceiveHandler(PeerDataHandler* handler) { m_dataHandler = handler; }

  /// Server: the TCP port to listen on, 0 (the default) for any free one. Set before
  /// setAvailable(true).
  void setListenPort(std::uint16_t port) { m_listenPort = port; }
  /// Server: the port actually listened on, once available; 0 before.
  std::uint16_t serverPort() const;

  /// Client: a peer reached at `host:port` without DNS-SD. It is reported available once the
  /// session is available. False for text that is not host:port.
  bool addDirectPeer(const QString& hostAndPort);

  /// Whether DNS-SD is used at all (default true). Off, only direct peers are found and a
  /// server only listens.
  void setUsesServiceDiscovery(bool on) { m_usesDiscovery = on; }

  /// Server: listen and announce. Client: browse (and report direct peers). Off: stop
  /// announcing or browsing; connections stay.
  void setAvailable(bool available);
  bool isAvailable() const { return m_available; }

  /// Client: connects to an available peer, giving up after `timeoutSeconds`.
  void connectToPeer(const QString& peerId, double timeoutSeconds);
  /// Server: accepts a pending connection request. False, with `error`, when there is none.
  bool acceptConnectionFromPeer(const QString& peerId, QString* error = nullptr);
  void denyConnectionFromPeer(const QString& peerId);

  /// Queues one message for a connected peer. False when the peer is not connected, the
  /// message is empty or too large, or too much is still queued (try again later).
  bool sendDataToPeer(const QByteArray& data, const QString& peerId);

  /// Closes every connection and pending request; connected peers are reported disconnected.
  void disconnectFromAllPeers();

  QString displayNameForPeer(const QString& peerId) const;
  QString sessionId() const { return m_sessionId; }
  QString displayName() const { return m_displayName; }
  Mode mode() const { return m_mode; }

 private:
  struct Peer;
  enum class FrameType : std::uint8_t;

  Peer* findPeer(const QString& peerId) const;
  Peer& addPeer(const QString& name);
  void startServer();
  void stopServer();
  void startDiscovery();
  void stopDiscovery();
  void onIncomingConnection();
  void onServiceFound(const QString& name);
  void onServiceRemoved(const QString& name);
  void onServiceResolved(const QString& name, const QString& host, std::uint16_t port);
  void onDiscoveryFailed(const QString& error);
  void openSocket(Peer& peer, const QString& host, std::uint16_t port);
  void attachSocket(Peer& peer, QTcpSocket* socket);
  void onReadyRead(const QString& peerId);
  void onSocketClosed(const QString& peerId, const QString& error);
  void handleFrame(Peer& peer, FrameType type, const QByteArray& payload);
  void writeFrame(Peer& peer, FrameType type, const QByteArray& payload);
  void failConnect(Peer& peer, const QString& error);
  void closePeer(Peer& peer, bool flush);
  void post(std::function<void()> event);
  void reportState(const QString& peerId, PeerState state);
  void removePeer(const QString& peerId);

  QString m_sessionId;
  QString m_displayName;
  Mode m_mode;
  PeerSessionDelegate* m_delegate = nullptr;
  PeerDataHandler* m_dataHandler = nullptr;
  std::uint16_t m_listenPort = 0;
  bool m_usesDiscovery = true;
  bool m_available = false;
  QTcpServer* m_server = nullptr;
  std::unique_ptr<DnsServiceDiscovery> m_discovery;
  QHash<QString, std::shared_ptr<Peer>> m_peers;
  std::uint64_t m_nextPeerNumber = 1;
};

}  // namespace duo
