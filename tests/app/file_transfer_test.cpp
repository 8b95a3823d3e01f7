#include <QImageReader>
#include <QtTest>

#include <optional>

#include "file_transfer.h"
#include "idle_inhibitor.h"
#include "peer_transfer_link.h"
#include "photo_library.h"
#include "qt_transfer_timer.h"
#include "result_screen_fixture.h"
#include "screen.h"
#include "transfer/transfer_receiver.h"
#include "transfer_project.h"
#include "view_animation.h"

using namespace duo;

namespace {

const QString kPairDir = QStringLiteral(DUOSCOPE_TESTDATA_DIR "/pairs/night-street");

/// A receiving program in miniature: a server session on a free local port and the protocol's
/// receiver. It can fall silent mid-project (and then vanish), or leave at once after the last
/// acknowledgement.
class TestReceiver : public QObject, public PeerSessionDelegate, public PeerDataHandler {
 public:
  explicit TestReceiver(int silentFromPacket = -1, bool leaveWhenDone = false)
      : m_session(new PeerSession(QStringLiteral("Duoscope"), QStringLiteral("Test Receiver"),
                                  PeerSession::Mode::Server)),
        m_silentFromPacket(silentFromPacket),
        m_leaveWhenDone(leaveWhenDone) {
    m_session->setUsesServiceDiscovery(false);
    m_session->setListenPort(0);
    m_session->setDelegate(this);
    m_session->setDataReceiveHandler(this);
    m_session->setAvailable(true);
  }
  ~TestReceiver() override { vanish(); }

  QString address() const {
    return QStringLiteral("127.0.0.1:%1").arg(m_session ? m_session->serverPort() : 0);
  }
  /// Gone without a word, as a program that quits.
  void vanish() {
    m_receiver.reset();  // its link holds the session
    m_link.reset();
    delete m_session.data();
  }
  std::optional<transfer::ReceivedProject> project;
  int packets = 0;

  void sessionPeerDidChangeState(PeerSession*, const QString&, int) override {}
  void sessionDidReceiveConnectionRequestFromPeer(PeerSession* session,
                                                  const QString& peerId) override {
    m_link = std::make_unique<PeerTransferLink>(*session, peerId);
    m_receiver = std::make_unique<transfer::TransferReceiver>(*m_link, m_timer);
    session->acceptConnectionFromPeer(peerId);
  }
  void sessionConnectionWithPeerFailed(PeerSession*, const QString&, const QString&) override {}
  void sessionDidFailWithError(PeerSession*, const QString&) override {}
  void receiveDataFromPeer(const QByteArray& data, const QString&, PeerSession*) override {
    if (!m_session || !m_receiver) return;
    if (++packets >= m_silentFromPacket && m_silentFromPacket > 0) return;
    (void)m_receiver->receive(
        std::span(reinterpret_cast<const std::uint8_t*>(data.constData()), std::size_t(data.size())));
    if (m_receiver->complete() && !project) {
      project = *m_receiver->takeProject();
      if (m_leaveWhenDone) m_session->disconnectFromAllPeers();  // the last answer still goes
    }
  }

 private:
  QPointer<PeerSession> m_session;
  int m_silentFromPacket;
  bool m_leaveWhenDone;
  QtTransferTimer m_timer;
  std::unique_ptr<PeerTransferLink> m_link;
  std::unique_ptr<transfer::TransferReceiver> m_receiver;
};

/// Counts the reports and hands them on to the result screen.
struct ReportRecorder : FileTransferDelegate {
  FileTransferDelegate* next = nullptr;
  QList<bool> reports;
  void fileTransferDidTransferProject(FileTransfer* transfer, bool transferred) override {
    reports << transferred;
    if (next) next->fileTransferDidTransferProject(transfer, transferred);
  }
};

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray bytesOf(const std::vector<std::uint8_t>& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

}  // namespace

class FileTransferTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_folders;
  std::unique_ptr<IdleInhibitor> m_inhibitor;
  std::unique_ptr<test::ResultScreenFixture> m_f;
  ReportRecorder m_recorder;

  QString documents() const { return m_folders.filePath("Documents"); }
  QString leftFile() const { return documents() + "/TransferLeft.jpg"; }
  QString rightFile() const { return documents() + "/TransferRight.jpg"; }

  /// Runs a fade of the dialog to its end (the animation's frames may end just past it).
  void fade() { m_f->clock.advance(FileTransfer::kFadeSeconds + 0.1); }

  /// Picks "another device" with the bars pinned, as the share picker leaves them, and lets
  /// the dialog fade in; the outcome is recorded on its way to the screen.
  FileTransfer* startTransfer() {
    m_f->screen->stopFadeItems();
    m_f->screen->executeShareBarButtonIndex(8);
    m_f->clock.advance(0);
    // The files are written on a worker first.
    if (!QTest::qWaitFor([this] { return m_f->screen->fileTransfer() != nullptr; }, 10000))
      return nullptr;
    FileTransfer* transfer = m_f->screen->fileTransfer();
    m_recorder.next = m_f->screen;
    transfer->setDelegate(&m_recorder);
    fade();
    return transfer;
  }

 private slots:
  void init() {
    if (!QFileInfo::exists(kPairDir)) QSKIP("the shared test pairs are not there");
    MainScreen::setSize({320, 568, false});
    QDir(documents()).removeRecursively();
    PhotoLibrary::setDocumentsFolderForTesting(documents());
    // A switch on no bus: its state is checked, the desktop is left alone.
    m_inhibitor = std::make_unique<IdleInhibitor>(QDBusConnection(QStringLiteral("none")));
    IdleInhibitor::setShared(m_inhibitor.get());
    FileTransfer::setUsesServiceDiscovery(false);
    FileTransfer::setDirectPeer({});
    m_recorder.reports.clear();
    m_f = std::make_unique<test::ResultScreenFixture>();
    QVERIFY(m_f->open(kPairDir));
  }
  void cleanup() {
    m_f.reset();
    IdleInhibitor::setShared(nullptr);
    m_inhibitor.reset();
  }

  void offsetIsSentInPixelsOfThePreparedFiles_data() {
    QTest::addColumn<int>("workingHeight");
    QTest::addColumn<int>("preparedHeight");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<int>("offsetY");
    // Working copies 4 pixels per point, halved on the way: -10.4 × 2, 3.6 × 2, truncated.
    QTest::newRow("reduced to 1024") << 2048 << 1024 << -20 << 7;
    QTest::newRow("already small") << 1024 << 1024 << -41 << 14;
  }
  void offsetIsSentInPixelsOfThePreparedFiles() {
    QFETCH(int, workingHeight);
    QFETCH(int, preparedHeight);
    QFETCH(int, offsetX);
    QFETCH(int, offsetY);
    const int width = workingHeight * 3 / 4;
    auto pair = StereoPair::fromWorkingCopies(*Image::create(width, workingHeight),
                                              *Image::create(width, workingHeight), 2048);
    pair.setImageView(ImageViewGeometry{width / 4.0f, workingHeight / 4.0f, true});
    pair.setAlignOffsetX(-10.4f);
    pair.setAlignOffsetY(3.6f);
    auto project = TransferProject::prepare(pair, documents());
    QVERIFY(project.ok());
    QCOMPARE(project->offsetX, offsetX);
    QCOMPARE(project->offsetY, offsetY);
    QCOMPARE(QImageReader(project->leftPath).size().height(), preparedHeight);
    QCOMPARE(QImageReader(project->rightPath).size().height(), preparedHeight);
  }

  void cancelWhileSearchingReportsFalseOnceAndCleansUp() {
    FileTransfer* transfer = startTransfer();
    QVERIFY(transfer);
    QVERIFY(QFile::exists(leftFile()) && QFile::exists(rightFile()));
    QPointer<PeerSession> session = transfer->transferSession();
    QVERIFY(session);
    QVERIFY(transfer->taView()->isAnimating());
    QVERIFY(m_inhibitor->isIdleTimerDisabled());
    QVERIFY(!transfer->progressView()->isVisible());
    grabDialog(transfer, "file-transfer-searching.png");

    QTest::mouseClick(transfer->cancelButton(), Qt::LeftButton);
    // Further requests while the dialog fades change nothing.
    transfer->sessionPeerDidChangeState(session, QStringLiteral("late"),
                                        PeerSession::PeerStateDisconnected);
    transfer->cancelButtonClick();
    fade();
    QCOMPARE(m_recorder.reports, QList<bool>{false});
    QVERIFY(!m_f->screen->fileTransfer());
    QVERIFY(!QFile::exists(leftFile()) && !QFile::exists(rightFile()));
    QVERIFY(!m_inhibitor->isIdleTimerDisabled());
    QTRY_VERIFY(!session);
    m_f->clock.advance(1);
    QCOMPARE(m_recorder.reports.size(), 1);
  }

  void projectArrivesWholeOverLoopback() {
    QVERIFY(m_f->select(0));
    m_f->screen->nudgeAlignment(6, -4);
    TestReceiver receiver(-1, true);  // leaves at once after the last answer
    FileTransfer::setDirectPeer(receiver.address());
    FileTransfer* transfer = startTransfer();
    QVERIFY(transfer);
    QVERIFY(transfer->offsetX() != 0 && transfer->offsetY() != 0);
    const QByteArray left = readAll(leftFile());
    const QByteArray right = readAll(rightFile());
    QVERIFY(!left.isEmpty() && !right.isEmpty());

    QTRY_VERIFY_WITH_TIMEOUT(receiver.project.has_value(), 20000);
    QTRY_VERIFY(transfer->isDismissing());
    QTest::qWait(200);  // the receiver's leaving reaches the sender during the fade
    QCOMPARE(bytesOf(receiver.project->left), left);
    QCOMPARE(bytesOf(receiver.project->right), right);
    QCOMPARE(receiver.project->offsetX, transfer->offsetX());
    QCOMPARE(receiver.project->offsetY, transfer->offsetY());
    QCOMPARE(transfer->progressView()->progressValue(), 1.0f);

    fade();
    QCOMPARE(m_recorder.reports, QList<bool>{true});
    QVERIFY(!QFile::exists(leftFile()) && !QFile::exists(rightFile()));
    QVERIFY(!m_inhibitor->isIdleTimerDisabled());
    m_f->clock.advance(BlendViewController::kFadeDelay + BlendViewController::kBarsOutSeconds);
    QCOMPARE(viewTargetAlpha(m_f->screen->navigationBar()), 0.0);
  }

  void receiverVanishingMidProjectReportsFalse() {
    TestReceiver receiver(5);  // silent after the project and file headers and two chunks
    FileTransfer::setDirectPeer(receiver.address());
    FileTransfer* transfer = startTransfer();
    QVERIFY(transfer);
    QTRY_COMPARE_WITH_TIMEOUT(receiver.packets, 5, 10000);
    QVERIFY(transfer->progressView()->isVisible());
    QVERIFY(transfer->progressView()->progressValue() > 0);
    grabDialog(transfer, "file-transfer-sending.png");
    QVERIFY(!transfer->isDismissing());
    receiver.vanish();
    QTRY_VERIFY_WITH_TIMEOUT(transfer->isDismissing(), 10000);
    QVERIFY(!transfer->taView()->isAnimating());
    fade();
    QCOMPARE(m_recorder.reports, QList<bool>{false});
    QVERIFY(!QFile::exists(leftFile()) && !QFile::exists(rightFile()));
    QVERIFY(!m_inhibitor->isIdleTimerDisabled());
  }

 private:
  void grabDialog(FileTransfer* transfer, const char* name) {
    const QString folder = qEnvironmentVariable("DUOSCOPE_SHOTS_DIR");
    if (folder.isEmpty()) return;
    for (int frame = 0; frame < 120; ++frame) transfer->taView()->nextFrame();
    m_f->window->grab().save(folder + '/' + name);
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  FileTransferTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "file_transfer_test.moc"
