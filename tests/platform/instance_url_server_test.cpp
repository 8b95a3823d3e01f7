// The instance socket against what else may be found in the runtime folder or connect to it:
// requests that are too long or malformed, sockets left by instances that are gone, a hung
// instance, another user, and a folder that is not safely ours.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include "handoff_codec.h"
#include "instance_url_server.h"
#include "runtime_folder.h"

using namespace duo;

namespace {

const QString kCallback = QStringLiteral("fb424242://authorize?code=C1&state=S1");

struct Sent {
  int exitCode = -1;
  QString error;
};

/// Runs `program arguments` to its end while this process goes on serving its sockets.
Sent run(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.start(program, arguments);
  [&] { QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 30000); }();
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromLocal8Bit(process.readAllStandardError() + process.readAllStandardOutput())};
}

Sent handOver(const QString& url) { return run(QStringLiteral(DUOSCOPE_APP_PATH), {url}); }

/// What a crashed instance leaves: a socket file that nothing listens on.
void leaveStaleSocket(const QString& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray native = QFile::encodeName(path);
  std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
  QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
  ::close(fd);
}

}  // namespace

class InstanceUrlServerTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> m_runtime;
  QList<QUrl> m_routed;
  InstanceUrlServer::Handler recorder() {
    return [this](const QUrl& url) {
      m_routed << url;
      return true;
    };
  }

 private slots:
  // Each test has a runtime folder of its own, which the `duoscope` it starts inherits.
  void init() {
    m_runtime = std::make_unique<QTemporaryDir>();
    qputenv("XDG_RUNTIME_DIR", m_runtime->path().toUtf8());
    m_routed.clear();
  }

  void malformedOrOversizedRequestsAreNotRouted_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray good = HandoffCodec::encodeRequest(QUrl(kCallback));
    QTest::newRow("well formed") << good << QByteArray("handled\n");
    QTest::newRow("another protocol")
        << QByteArray("GET / HTTP/1.0\r\n\r\n") << QByteArray("refused\n");
    QTest::newRow("two requests") << good + good << QByteArray("refused\n");
    QTest::newRow("too long, never ending")
        << QByteArray(HandoffCodec::kMaxRequestBytes * 4, 'a') << QByteArray("refused\n");
    QTest::newRow("too long, ending")
        << "duoscope-open-url 1 fb42://a?" + QByteArray(HandoffCodec::kMaxRequestBytes, 'x') + '\n'
        << QByteArray("refused\n");
  }
  void malformedOrOversizedRequestsAreNotRouted() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    InstanceUrlServer server(recorder());
    QString error;
    QVERIFY2(server.listen(&error), qPrintable(error));
    QLocalSocket peer;
    peer.connectToServer(server.socketPath());
    QVERIFY(peer.waitForConnected(1000));
    peer.write(request);
    QByteArray received;
    QTRY_VERIFY((received += peer.readAll()).endsWith('\n') ||
                peer.state() == QLocalSocket::UnconnectedState);
    QCOMPARE(received, answer);
    QCOMPARE(m_routed.size(), answer == "handled\n" ? 1 : 0);
  }

  void silentPeersAreDroppedAndAHungInstanceDelaysTheSenderOnlyBriefly() {
    {
      InstanceUrlServer server(recorder());
      server.setTimeoutMs(300);
      QString error;
      QVERIFY2(server.listen(&error), qPrintable(error));
      QLocalSocket silent;
      silent.connectToServer(server.socketPath());
      QVERIFY(silent.waitForConnected(1000));
      QTRY_COMPARE_WITH_TIMEOUT(silent.state(), QLocalSocket::UnconnectedState, 3000);
    }
    // An instance that takes the connection and never answers: the sender gives up on it.
    QLocalServer hung;
    QVERIFY(hung.listen(RuntimeFolder::path() + "/instance-hung.sock"));
    QElapsedTimer clock;
    clock.start();
    const Sent sent = handOver(kCallback);
    QCOMPARE(sent.exitCode, 1);
    QVERIFY2(sent.error.contains("answered in time"), qPrintable(sent.error));
    QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
  }

  void staleSocketsAreRemovedAndTheLiveInstanceStillServed() {
    QVERIFY(RuntimeFolder::open(RuntimeFolder::Mode::Create, nullptr).size() > 0);
    const QString folder = RuntimeFolder::path();
    // Offered first (in name order), so that the sender meets it before the live instance.
    const QString gone = folder + "/instance-0.sock";
    leaveStaleSocket(gone);
    const Sent nobody = handOver(kCallback);
    QCOMPARE(nobody.exitCode, 1);
    QVERIFY2(nobody.error.contains("no Duoscope window is running"), qPrintable(nobody.error));
    QVERIFY(!QFile::exists(gone));

    // Our own name, left by an earlier process with this id, is taken back.
    leaveStaleSocket(folder + "/" + InstanceUrlServer::defaultSocketName());
    leaveStaleSocket(gone);
    InstanceUrlServer server(recorder());
    QString error;
    QVERIFY2(server.listen(&error), qPrintable(error));
    QCOMPARE(handOver(kCallback).exitCode, 0);
    QCOMPARE(m_routed, QList<QUrl>{QUrl(kCallback)});
    QVERIFY(!QFile::exists(gone));
  }

  void anotherUsersConnectionIsClosedUnread() {
    if (::geteuid() != 0) QSKIP("needs root to connect as another user (setpriv)");
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin", "/bin"});
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (python.isEmpty() || setpriv.isEmpty())
      QSKIP("needs python3 and setpriv (scripts/setup.sh installs them)");
    InstanceUrlServer server(recorder());
    QString error;
    QVERIFY2(server.listen(&error), qPrintable(error));
    // Reachable by the other user for this test only, so that only the server's own check
    // stands between it and the handler.
    for (const QString& path : {m_runtime->path(), RuntimeFolder::path()})
      QVERIFY(::chmod(QFile::encodeName(path).constData(), 0711) == 0);
    QVERIFY(::chmod(QFile::encodeName(server.socketPath()).constData(), 0777) == 0);
    const char* script =
        "import socket, sys\n"
        "s = socket.socket(socket.AF_UNIX)\n"
        "s.settimeout(5)\n"
        "s.connect(sys.argv[1])\n"
        "print('connected')\n"
        "try:\n"
        "    s.sendall(sys.argv[2].encode())\n"
        "    data = s.recv(64)\n"
        "except OSError:\n"
        "    data = b''\n"
        "print('answer', repr(data))\n";
    const Sent sent =
        run(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", python, "-c", script,
                      server.socketPath(),
                      QString::fromLatin1(HandoffCodec::encodeRequest(QUrl(kCallback)))});
    QCOMPARE(sent.exitCode, 0);
    QCOMPARE(sent.error, QString("connected\nanswer b''\n"));
    QVERIFY(m_routed.isEmpty());
  }

  void aFolderThatIsNotSafelyOursIsRefused_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("a link") << "link"
                            << "not a folder of its own";
    QTest::newRow("open to others") << "mode"
                                    << "open to other users";
    QTest::newRow("another owner") << "owner"
                                   << "belongs to another user";
  }
  void aFolderThatIsNotSafelyOursIsRefused() {
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString folder = RuntimeFolder::path();
    const QByteArray native = QFile::encodeName(folder);
    if (kind == "link") {
      QVERIFY(QDir().mkpath(m_runtime->filePath("elsewhere")));
      QVERIFY(QFile::link(m_runtime->filePath("elsewhere"), folder));
    } else {
      QVERIFY(::mkdir(native.constData(), 0700) == 0);
      if (kind == "mode") QVERIFY(::chmod(native.constData(), 0755) == 0);
      if (kind == "owner" && ::geteuid() != 0) QSKIP("needs root to give the folder away");
      if (kind == "owner") QVERIFY(::chown(native.constData(), 65534, 65534) == 0);
    }
    InstanceUrlServer server(recorder());
    QString error;
    QVERIFY(!server.listen(&error));
    QVERIFY2(error.contains(message), qPrintable(error));
    const Sent sent = handOver(kCallback);
    QCOMPARE(sent.exitCode, 1);
    QVERIFY2(sent.error.contains(message), qPrintable(sent.error));
    QVERIFY(m_routed.isEmpty());
  }

  // Files the desktop opens with us come as file: URLs: they are opened as files (here without
  // a display, so a broken one ends the program with its name), never handed to a window.
  void fileUrlsAreOpenedAsFiles_data() {
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("file:///") << QStringLiteral("file://") << 1 << QStringLiteral("bad pair.mpo:");
    QTest::newRow("localhost") << QStringLiteral("file://localhost") << 1 << QStringLiteral("bad pair.mpo:");
    QTest::newRow("another computer") << QStringLiteral("file://elsewhere") << 2
                                      << QStringLiteral("only files on this computer");
  }
  void fileUrlsAreOpenedAsFiles() {
    QFETCH(QString, prefix);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir folder;
    QFile broken(folder.filePath(QStringLiteral("bad pair.mpo")));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a picture") > 0);
    broken.close();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
    process.setProcessEnvironment(environment);
    const QString url = prefix + QUrl::fromLocalFile(broken.fileName()).toString(QUrl::FullyEncoded).mid(7);
    QVERIFY(url.contains(QStringLiteral("%20")));
    process.start(QStringLiteral(DUOSCOPE_APP_PATH), {url});
    QVERIFY(process.waitForFinished(30000));
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(error.contains(message), qPrintable(error));
    QVERIFY2(!error.contains(QStringLiteral("window")), qPrintable(error));
  }
};

QTEST_GUILESS_MAIN(InstanceUrlServerTest)
#include "instance_url_server_test.moc"
