// The local-network session: messages over loopback TCP, the connection handshake and its
// failures, and (inside the private Avahi sandbox) discovery by DNS-SD.
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <QtTest>

#include <vector>

#include "peer_session.h"

using duo::PeerSession;

namespace {

struct Event {
  QString kind;  // "state", "request", "failed", "sessionFailed", "data"
  QString peer;
  int state = -1;
  QByteArray data;
};

// Records every callback, and optionally accepts requests or connects to what appears.
class Recorder : public duo::PeerSessionDelegate, public duo::PeerDataHandler {
 public:
  void sessionPeerDidChangeState(PeerSession* s, const QString& peer, int state) override {
    events.push_back({"state", peer, state, {}});
    if (connectWhenAvailable && state == PeerSession::PeerStateAvailable) s->connectToPeer(peer, timeout);
  }
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession* s, const QString& peer) override {
    events.push_back({"request", peer, -1, {}});
    if (acceptRequests) s->acceptConnectionFromPeer(peer);
    else s->denyConnectionFromPeer(peer);
  }
  void sessionConnectionWithPeerFailed(PeerSession*, const QString& peer, const QString& e) override {
    events.push_back({"failed", peer, -1, e.toUtf8()});
  }
  void sessionDidFailWithError(PeerSession*, const QString& e) override {
    events.push_back({"sessionFailed", {}, -1, e.toUtf8()});
  }
  void receiveDataFromPeer(const QByteArray& data, const QString& peer, PeerSession*) override {
    events.push_back({"data", peer, -1, data});
  }

  const Event* find(const QString& kind, int state = -1) const {
    for (const Event& e : events)
      if (e.kind == kind && (state < 0 || e.state == state)) return &e;
    return nullptr;
  }
  bool waitFor(const QString& kind, int state = -1, int ms = 5000) const {
    return QTest::qWaitFor([&] { return find(kind, state) != nullptr; }, ms);
  }
  std::vector<QByteArray> received() const {
    std::vector<QByteArray> out;
    for (const Event& e : events) if (e.kind == "data") out.push_back(e.data);
    return out;
  }

  std::vector<Event> events;
  bool acceptRequests = true;
  bool connectWhenAvailable = true;
  double timeout = 10.0;
};

struct Side {
  explicit Side(PeerSession::Mode mode, const QString& name = QStringLiteral("Side"))
      : session(QStringLiteral("Duoscope"), name, mode) {
    session.setDelegate(&recorder);
    session.setDataReceiveHandler(&recorder);
  }
  Recorder recorder;
  PeerSession session;
};

QByteArray frame(std::uint8_t type, const QByteArray& payload, quint32 claimedLength = 0) {
  QByteArray out(5, Qt::Uninitialized);
  qToBigEndian<quint32>(claimedLength ? claimedLength : quint32(payload.size() + 1), out.data());
  out.data()[4] = char(type);
  return out + payload;
}

bool inSandbox() { return qEnvironmentVariable("DUOSCOPE_IN_AVAHI_SANDBOX") == "1"; }

}  // namespace

class PeerSessionTest : public QObject {
  Q_OBJECT

 private:
  // A server listening on loopback only (no DNS-SD) and a client naming it directly.
  static void startPair(Side& server, Side& client) {
    server.session.setUsesServiceDiscovery(false);
    server.session.setAvailable(true);
    QVERIFY(server.session.serverPort() != 0);
    client.session.setUsesServiceDiscovery(false);
    QVERIFY(client.session.addDirectPeer(QStringLiteral("127.0.0.1:%1").arg(server.session.serverPort())));
    client.session.setAvailable(true);
  }

 private slots:
  void messagesArriveWholeAndInOrderBothWays() {
    Side server(PeerSession::Mode::Server, QStringLiteral("Receiver"));
    Side client(PeerSession::Mode::Client, QStringLiteral("Client"));
    startPair(server, client);
    QVERIFY(client.recorder.waitFor("state", PeerSession::PeerStateConnected));
    QVERIFY(server.recorder.waitFor("state", PeerSession::PeerStateConnected));
    const QString toServer = client.recorder.find("state", PeerSession::PeerStateConnected)->peer;
    const QString toClient = server.recorder.find("request")->peer;
    QCOMPARE(server.session.displayNameForPeer(toClient), QStringLiteral("Client"));

    std::vector<QByteArray> sent;
    for (int size : {1, 8, 8204, 65536, int(PeerSession::kMaxMessageBytes)}) {
      QByteArray m(size, Qt::Uninitialized);
      for (int i = 0; i < size; ++i) m[i] = char((i * 31 + size) & 0xff);
      QVERIFY(client.session.sendDataToPeer(m, toServer));
      sent.push_back(m);
    }
    QVERIFY(!client.session.sendDataToPeer(QByteArray(PeerSession::kMaxMessageBytes + 1, 'x'), toServer));
    QVERIFY(!client.session.sendDataToPeer({}, toServer));
    QVERIFY(QTest::qWaitFor([&] { return server.recorder.received().size() == sent.size(); }, 5000));
    QVERIFY(server.recorder.received() == sent);

    QVERIFY(server.session.sendDataToPeer("ack", toClient));
    QVERIFY(QTest::qWaitFor([&] { return client.recorder.received().size() == 1; }, 5000));
    QCOMPARE(client.recorder.received()[0], QByteArray("ack"));

    // Either side ending the connection is seen by the other as a disconnection.
    client.session.disconnectFromAllPeers();
    QVERIFY(server.recorder.waitFor("state", PeerSession::PeerStateDisconnected));
    QVERIFY(!server.session.sendDataToPeer("late", toClient));
  }

  void connectionFailuresAreReported_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("denied") << "deny";
    QTest::newRow("nobody listening") << "closed";
    QTest::newRow("silent server") << "silent";
  }
  void connectionFailuresAreReported() {
    QFETCH(QString, how);
    Side server(PeerSession::Mode::Server);
    QTcpServer silent;
    Side client(PeerSession::Mode::Client);
    client.session.setUsesServiceDiscovery(false);
    client.recorder.timeout = 0.3;
    quint16 port = 0;
    if (how == "deny") {
      server.recorder.acceptRequests = false;
      server.session.setUsesServiceDiscovery(false);
      server.session.setAvailable(true);
      port = server.session.serverPort();
    } else {
      QVERIFY(silent.listen(QHostAddress::LocalHost));
      port = silent.serverPort();
      if (how == "closed") silent.close();
    }
    QVERIFY(client.session.addDirectPeer(QStringLiteral("127.0.0.1:%1").arg(port)));
    client.session.setAvailable(true);
    QVERIFY(client.recorder.waitFor("failed"));
    QVERIFY(!client.recorder.find("state", PeerSession::PeerStateConnected));
    if (how == "deny") QVERIFY(client.recorder.find("failed")->data.contains("busy"));
  }

  void directPeerNamesAreChecked() {
    Side client(PeerSession::Mode::Client);
    for (const char* bad : {"", "host", ":80", "host:", "host:0", "host:65536", "host:x1"})
      QVERIFY2(!client.session.addDirectPeer(QString::fromLatin1(bad)), bad);
    QVERIFY(client.session.addDirectPeer(QStringLiteral("[::1]:4000")));
    Side server(PeerSession::Mode::Server);
    QVERIFY(!server.session.addDirectPeer(QStringLiteral("127.0.0.1:4000")));
  }

  // What a server does with clients that are not ours or break the framing.
  void serverDropsStrangersAndOversizedMessages_data() {
    QTest::addColumn<QByteArray>("hello");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("requested");
    QTest::newRow("other session") << frame(1, QByteArray("Other\0X", 7)) << QByteArray() << false;
    QTest::newRow("hello too long") << frame(1, {}, 1 << 20) << QByteArray() << false;
    QTest::newRow("message too long") << frame(1, QByteArray("Duoscope\0X", 10))
                                      << frame(4, "x", PeerSession::kMaxMessageBytes + 2) << true;
    QTest::newRow("zero length") << frame(1, QByteArray("Duoscope\0X", 10)) << QByteArray(4, '\0') << true;
  }
  void serverDropsStrangersAndOversizedMessages() {
    QFETCH(QByteArray, hello);
    QFETCH(QByteArray, after);
    QFETCH(bool, requested);
    Side server(PeerSession::Mode::Server);
    server.session.setUsesServiceDiscovery(false);
    server.session.setAvailable(true);
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, server.session.serverPort());
    QVERIFY(raw.waitForConnected(3000));
    raw.write(hello);
    if (requested) {
      QVERIFY(server.recorder.waitFor("state", PeerSession::PeerStateConnected));
      raw.write(after);
      QVERIFY(server.recorder.waitFor("state", PeerSession::PeerStateDisconnected));
    }
    QVERIFY(QTest::qWaitFor([&] { return raw.state() == QAbstractSocket::UnconnectedState; }, 5000));
    QCOMPARE(server.recorder.find("request") != nullptr, requested);
    QVERIFY(server.recorder.received().empty());
  }

  // Only inside tests/support/avahi_sandbox.sh, which gives us an Avahi daemon of our own.
  void discoveryFindsAnnouncesAndWithdraws() {
    if (!inSandbox()) QSKIP("needs the private Avahi daemon of tests/support/avahi_sandbox.sh");
    Side receiver(PeerSession::Mode::Server, QStringLiteral("Test Receiver"));
    Side twin(PeerSession::Mode::Server, QStringLiteral("Test Receiver"));
    receiver.session.setAvailable(true);
    twin.session.setAvailable(true);

    Side client(PeerSession::Mode::Client, QStringLiteral("Client"));
    client.recorder.connectWhenAvailable = false;
    client.session.setAvailable(true);
    auto names = [&] {
      QStringList out;
      for (const Event& e : client.recorder.events)
        if (e.kind == "state" && e.state == PeerSession::PeerStateAvailable)
          out << client.session.displayNameForPeer(e.peer);
      out.sort();
      return out;
    };
    // The second announcement of a taken name gets Avahi's next one.
    QVERIFY(QTest::qWaitFor([&] { return names().size() == 2; }, 10000));
    QCOMPARE(names(), (QStringList{"Test Receiver", "Test Receiver #2"}));
    QVERIFY(client.recorder.find("sessionFailed") == nullptr);

    QString peer;
    for (const Event& e : client.recorder.events)
      if (e.state == PeerSession::PeerStateAvailable &&
          client.session.displayNameForPeer(e.peer) == "Test Receiver")
        peer = e.peer;
    client.session.connectToPeer(peer, 10.0);
    QVERIFY(client.recorder.waitFor("state", PeerSession::PeerStateConnected, 10000));
    QVERIFY(client.session.sendDataToPeer("hello", peer));
    QVERIFY(QTest::qWaitFor([&] { return receiver.recorder.received().size() == 1; }, 5000));

    // A receiver that stops announcing itself is reported unavailable.
    twin.session.setAvailable(false);
    QVERIFY(client.recorder.waitFor("state", PeerSession::PeerStateUnavailable, 10000));
  }

  void noDaemonIsASessionFailure() {
    if (inSandbox()) QSKIP("the sandbox has a daemon");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/duoscope-test-bus");
    Side client(PeerSession::Mode::Client);
    QVERIFY(client.session.addDirectPeer(QStringLiteral("127.0.0.1:9")));
    client.recorder.connectWhenAvailable = false;
    client.session.setAvailable(true);
    QVERIFY(client.recorder.waitFor("sessionFailed"));
    QVERIFY(client.recorder.find("sessionFailed")->data.contains("Avahi"));
    QVERIFY(client.recorder.find("state", PeerSession::PeerStateAvailable));  // named peers still offered
  }
};

QTEST_GUILESS_MAIN(PeerSessionTest)
#include "peer_session_test.moc"
