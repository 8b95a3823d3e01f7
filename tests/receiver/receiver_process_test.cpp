// The real duoscope-receiver over loopback TCP, fed by a client session and the sender.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "io/image_codec.h"
#include "peer_session.h"
#include "qt_transfer_timer.h"
#include "transfer/packet.h"
#include "transfer/transfer_sender.h"
#include "transform/image_tools.h"

using namespace duo;

namespace {

constexpr int kWaitMs = 15000;

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

/// duoscope-receiver listening on any port of this machine, without DNS-SD.
struct Receiver {
  QProcess process;
  QString log;
  quint16 port = 0;

  explicit Receiver(const QString& output) {
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [this] { log += QString::fromUtf8(process.readAllStandardError()); });
    process.start(QStringLiteral(DUOSCOPE_RECEIVER_PATH),
                  {"--no-discovery", "--port", "0", "--once", "--name", "Test Receiver",
                   "--output", output});
  }
  ~Receiver() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished();
    }
  }
  bool listening() {
    const auto match = QRegularExpression(R"(listening on port (\d+) as "Test Receiver")").match(log);
    if (match.hasMatch()) port = quint16(match.captured(1).toUInt());
    return port != 0;
  }
};

/// A client session that connects to the receiver and sends a project (or, with `raw`, the
/// given packets as they are). With `holdAt`, the packet of that number is kept back, which
/// stalls the transfer mid-project until the test acts.
class Sender : public QObject, public PeerSessionDelegate, public PeerDataHandler,
               public transfer::TransferLink {
 public:
  PeerSession session{QStringLiteral("Duoscope"), QStringLiteral("Test Sender"),
                      PeerSession::Mode::Client};
  QtTransferTimer timer;
  std::unique_ptr<transfer::TransferSender> sender;
  std::vector<std::vector<std::uint8_t>> raw;
  int holdAt = -1;
  int sent = 0;
  QString peer;
  bool connected = false, disconnected = false, completed = false;
  QString connectionError;

  Sender(quint16 port, const QString& left, const QString& right, int x = 0, int y = 0) {
    sender = std::make_unique<transfer::TransferSender>(
        *this, timer, left.toStdString(), right.toStdString(),
        transfer::TransferSender::Callbacks{{}, [this] { completed = true; }, {}});
    sender->setOffsets(x, y);
    session.setDelegate(this);
    session.setDataReceiveHandler(this);
    session.setUsesServiceDiscovery(false);
    session.addDirectPeer(QStringLiteral("127.0.0.1:%1").arg(port));
    session.setAvailable(true);
  }
  ~Sender() override { sender.reset(); }

  bool send(std::span<const std::uint8_t> packet) override {
    if (sent++ == holdAt) return true;  // swallowed: the transfer stalls here
    return session.sendDataToPeer(
        QByteArray(reinterpret_cast<const char*>(packet.data()), qsizetype(packet.size())), peer);
  }
  void sessionPeerDidChangeState(PeerSession*, const QString& id, int state) override {
    if (state == PeerSession::PeerStateAvailable && !connected) session.connectToPeer(id, 5);
    if (state == PeerSession::PeerStateConnected) {
      peer = id;
      connected = true;
      if (raw.empty()) {
        QVERIFY(sender->start().ok());
      } else {
        for (const auto& packet : raw) send(packet);
      }
    }
    if (state == PeerSession::PeerStateDisconnected) disconnected = true;
  }
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession*, const QString&) override {}
  void sessionConnectionWithPeerFailed(PeerSession*, const QString&, const QString& error) override {
    connectionError = error;
  }
  void sessionDidFailWithError(PeerSession*, const QString& error) override {
    QFAIL(qPrintable(error));
  }
  void receiveDataFromPeer(const QByteArray& data, const QString&, PeerSession*) override {
    sender->receive({reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())});
  }
};

}  // namespace

class ReceiverProcessTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QString m_left, m_right;

 private slots:
  void initTestCase() {
    // A pair as the application sends it: each photograph re-encoded at 1024 pixels at most.
    const QString pairs = QStringLiteral(DUOSCOPE_TESTDATA_DIR "/pairs/night-street/");
    if (!QFileInfo::exists(pairs + "left.jpg")) QSKIP("the shared test pairs are not here");
    for (const char* side : {"left", "right"}) {
      auto image = ImageTools::loadScaledAndRotatedImage(
          (pairs + side + ".jpg").toStdString(), ImageTools::kKeepOrientation, 1024);
      QVERIFY(image.ok());
      auto bytes = encodeJpeg(*image, 85);
      QVERIFY(bytes.ok());
      QFile file(m_dir.filePath(QString::fromLatin1(side) + ".jpg"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write(reinterpret_cast<const char*>(bytes->data()), qint64(bytes->size()));
    }
    m_left = m_dir.filePath("left.jpg");
    m_right = m_dir.filePath("right.jpg");
  }

  void faultySendersLeaveNothingAndTheNextProjectArrivesWhole() {
    QTemporaryDir output;
    Receiver receiver(output.path());
    QTRY_VERIFY_WITH_TIMEOUT(receiver.listening(), kWaitMs);

    // Sizes that do not add up: a left file larger than the whole project.
    {
      Sender liar(receiver.port, m_left, m_right);
      liar.raw = {transfer::encodePacket(0, transfer::PacketId::ProjectHeader,
                                         transfer::encodeProjectHeader({1000, 0, 0})).value(),
                  transfer::encodePacket(1, transfer::PacketId::FileHeader,
                                         transfer::encodeFileHeader({5000, 0})).value()};
      QTRY_VERIFY_WITH_TIMEOUT(liar.disconnected, kWaitMs);
      QTRY_VERIFY_WITH_TIMEOUT(receiver.log.contains("does not fit"), kWaitMs);
    }
    QCOMPARE(entries(output.path()), QStringList());

    // A sender that stalls mid-file keeps a second one out, then hangs up.
    {
      Sender quitter(receiver.port, m_left, m_right);
      quitter.holdAt = 5;
      QTRY_VERIFY_WITH_TIMEOUT(quitter.sent > 5, kWaitMs);
      Sender second(receiver.port, m_left, m_right);
      QTRY_VERIFY_WITH_TIMEOUT(!second.connectionError.isEmpty(), kWaitMs);
      QVERIFY(!second.connected);
      quitter.session.disconnectFromAllPeers();
      QTRY_VERIFY_WITH_TIMEOUT(receiver.log.contains("the sender disconnected after"), kWaitMs);
    }
    QCOMPARE(entries(output.path()), QStringList());
    QCOMPARE(receiver.process.state(), QProcess::Running);  // --once waits for a stored project

    Sender good(receiver.port, m_left, m_right, -20, 7);
    QTRY_VERIFY_WITH_TIMEOUT(good.completed, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.process.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(receiver.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(receiver.process.exitCode(), 0);

    const QStringList stored = entries(output.path());
    QCOMPARE(stored.size(), 1);
    QVERIFY2(stored[0].endsWith(" from Test Sender"), qPrintable(stored[0]));
    const QString folder = output.filePath(stored[0]);
    QCOMPARE(readAll(folder + "/left.jpg"), readAll(m_left));
    QCOMPARE(readAll(folder + "/right.jpg"), readAll(m_right));
    const QJsonObject json = QJsonDocument::fromJson(readAll(folder + "/project.json")).object();
    QCOMPARE(json["offset"].toObject()["x"].toInt(), -20);
    QCOMPARE(json["offset"].toObject()["y"].toInt(), 7);
    QCOMPARE(json["left"].toObject()["width"].toInt(), 1024);
    QCOMPARE(json["sender"].toString(), QStringLiteral("Test Sender"));
  }

  void terminatedReceiverDisconnectsTheSenderAndLeavesNothing() {
    QTemporaryDir output;
    Receiver receiver(output.path());
    QTRY_VERIFY_WITH_TIMEOUT(receiver.listening(), kWaitMs);
    Sender sender(receiver.port, m_left, m_right);
    sender.holdAt = 8;
    QTRY_VERIFY_WITH_TIMEOUT(sender.sent > 8, kWaitMs);
    receiver.process.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(sender.disconnected, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.process.state(), QProcess::NotRunning, kWaitMs);
    QCOMPARE(receiver.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(receiver.process.exitCode(), 1);  // --once without a stored project
    QVERIFY(!sender.completed);
    QCOMPARE(entries(output.path()), QStringList());
  }
};

QTEST_GUILESS_MAIN(ReceiverProcessTest)
#include "receiver_process_test.moc"
