// Sending to another device as a user does it: the real duoscope-receiver announces itself by
// DNS-SD, the result screen's transfer finds it by its name and sends the project. Runs inside
// tests/support/avahi_sandbox.sh (a private network namespace with its own Avahi daemon); run
// directly, it skips.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include "file_transfer.h"
#include "idle_inhibitor.h"
#include "photo_library.h"
#include "result_screen_fixture.h"
#include "screen.h"

using namespace duo;

namespace {

const QString kPairDir = QStringLiteral(DUOSCOPE_TESTDATA_DIR "/pairs/night-street");

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Reports : FileTransferDelegate {
  void fileTransferDidTransferProject(FileTransfer* transfer, bool transferred) override {
    reports << transferred;
    if (next) next->fileTransferDidTransferProject(transfer, transferred);
  }
  QList<bool> reports;
  FileTransferDelegate* next = nullptr;
};

}  // namespace

class TransferDiscoveryTest : public QObject {
  Q_OBJECT

 private slots:
  void receiverFoundByNameGetsTheProject() {
    if (qEnvironmentVariable("DUOSCOPE_IN_AVAHI_SANDBOX") != "1")
      QSKIP("needs the private Avahi daemon of tests/support/avahi_sandbox.sh");
    if (!QFileInfo::exists(kPairDir)) QSKIP("the shared test pairs are not there");
    QTemporaryDir folders;
    const QString documents = folders.filePath("Documents"), received = folders.filePath("Received");
    PhotoLibrary::setDocumentsFolderForTesting(documents);
    MainScreen::setSize({320, 568, false});
    IdleInhibitor inhibitor{QDBusConnection(QStringLiteral("none"))};
    IdleInhibitor::setShared(&inhibitor);
    FileTransfer::setUsesServiceDiscovery(true);
    FileTransfer::setDirectPeer({});

    QProcess receiver;
    QString log;
    connect(&receiver, &QProcess::readyReadStandardError,
            [&] { log += QString::fromUtf8(receiver.readAllStandardError()); });
    receiver.start(QStringLiteral(DUOSCOPE_RECEIVER_PATH),
                   {"--once", "--name", "Living Room", "--output", received});
    QTRY_VERIFY_WITH_TIMEOUT(log.contains("listening on port"), 10000);

    test::ResultScreenFixture f;
    QVERIFY(f.open(kPairDir));
    QVERIFY(f.select(0));
    f.screen->nudgeAlignment(9, -3);
    f.screen->stopFadeItems();
    f.screen->executeShareBarButtonIndex(8);
    f.clock.advance(0);
    QTRY_VERIFY_WITH_TIMEOUT(f.screen->fileTransfer() != nullptr, 10000);
    FileTransfer* transfer = f.screen->fileTransfer();
    Reports reports;
    reports.next = f.screen;
    transfer->setDelegate(&reports);
    const QByteArray left = readAll(documents + "/TransferLeft.jpg");
    const QByteArray right = readAll(documents + "/TransferRight.jpg");
    const int offsetX = transfer->offsetX(), offsetY = transfer->offsetY();
    QVERIFY(!left.isEmpty() && !right.isEmpty());
    f.clock.advance(FileTransfer::kFadeSeconds + 0.1);

    // The project goes to the receiver by the name DNS-SD announced.
    QTRY_VERIFY_WITH_TIMEOUT(transfer->isDismissing(), 20000);
    QCOMPARE(transfer->receiverName(), QStringLiteral("Living Room"));
    f.clock.advance(FileTransfer::kFadeSeconds + 0.1);
    QCOMPARE(reports.reports, QList<bool>{true});
    QVERIFY(receiver.waitForFinished(10000));
    QCOMPARE(receiver.exitCode(), 0);

    const QStringList stored = QDir(received).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(stored.size(), 1);
    const QDir project(received + '/' + stored.first());
    QCOMPARE(readAll(project.filePath("left.jpg")), left);
    QCOMPARE(readAll(project.filePath("right.jpg")), right);
    const QJsonObject json = QJsonDocument::fromJson(readAll(project.filePath("project.json"))).object();
    QCOMPARE(json.value("sender").toString(), QStringLiteral("Client"));
    QCOMPARE(json.value("offset").toObject().value("x").toInt(), offsetX);
    QCOMPARE(json.value("offset").toObject().value("y").toInt(), offsetY);
    IdleInhibitor::setShared(nullptr);
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  TransferDiscoveryTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "transfer_discovery_test.moc"
