#include <QtTest>

#include <sys/stat.h>

#include "mail_composer.h"

using namespace duo;
using namespace std::chrono_literals;

namespace {

// Records its arguments one per line, sleeps $STANDIN_SLEEP seconds, leaves a mark that it was
// not killed, then exits with $STANDIN_EXIT (or dies of a signal for "crash").
constexpr char kStandIn[] = R"(#!/bin/sh
printf '%s\n' "$@" > "$STANDIN_RECORD"
sleep "${STANDIN_SLEEP:-0}"
: > "$STANDIN_RECORD.survived"
[ "$STANDIN_EXIT" = crash ] && kill -SEGV $$
exit "$STANDIN_EXIT"
)";

unsigned permissions(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

}  // namespace

class MailComposerTest : public QObject {
  Q_OBJECT

  QTemporaryDir m_dir;
  QString m_record = m_dir.filePath("record.txt");
  QByteArray m_path = qgetenv("PATH");

  QStringList recordedArguments() const {
    QFile file(m_record);
    if (!file.open(QIODevice::ReadOnly)) return {"<not run>"};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  // An empty `exit` leaves no xdg-email at all on PATH (a real one may sit in /usr/bin).
  void useStandIn(const QString& exit, const char* sleep = "0") {
    qputenv("PATH", exit.isEmpty() ? QFile::encodeName(m_dir.path())
                                   : QFile::encodeName(m_dir.filePath("bin:")) + m_path);
    qputenv("STANDIN_EXIT", exit.toUtf8());
    qputenv("STANDIN_SLEEP", sleep);
    QFile::remove(m_record);
    QFile::remove(m_record + ".survived");
  }

 private slots:
  void initTestCase() {
    QFile script(m_dir.filePath("bin/xdg-email"));
    QVERIFY(QDir(m_dir.path()).mkdir("bin") && script.open(QIODevice::WriteOnly));
    QVERIFY(script.write(kStandIn) > 0);
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("STANDIN_RECORD", QFile::encodeName(m_record));
  }

  void cleanup() { qputenv("PATH", m_path); }

  void composeReportsTheOutcomeOnceAndLater_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("attachment");  // "@": one made by writeAttachment()
    QTest::addColumn<QString>("exit");
    QTest::addColumn<QString>("error");  // part of it; empty: handed over
    QTest::addColumn<QStringList>("arguments");

    const QString subject = "Stereo from Ærøskøbing – 3-D";
    const QString body = "Made with  two shots: «left» & 'right' $HOME";
    QTest::newRow("every field") << subject << body << "@"
                                 << "0"
                                 << "" << QStringList{"--utf8", "--subject", subject, "--body",
                                                      body,     "--attach",  "@"};
    QTest::newRow("empty fields left out") << ""
                                           << ""
                                           << ""
                                           << "0"
                                           << "" << QStringList{"--utf8"};
    QTest::newRow("action failed")
        << subject << ""
        << ""
        << "4"
        << "could not be opened" << QStringList{"--utf8", "--subject", subject};
    QTest::newRow("crashed") << "" << body << ""
                             << "crash"
                             << "stopped unexpectedly" << QStringList{"--utf8", "--body", body};
    QTest::newRow("attachment missing") << subject << "" << m_dir.filePath("gone.gif") << "0"
                                        << "gone.gif" << QStringList{"<not run>"};
    QTest::newRow("not installed") << subject << ""
                                   << ""
                                   << ""
                                   << "not installed" << QStringList{"<not run>"};
  }

  void composeReportsTheOutcomeOnceAndLater() {
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, attachment);
    QFETCH(QString, exit);
    QFETCH(QString, error);
    QFETCH(QStringList, arguments);
    if (attachment == "@") {
      auto written = MailComposer::writeAttachment("Stereo photo.gif", bytesOf("GIF89a"));
      QVERIFY(written.ok());
      attachment = arguments.last() = *written;
    }
    useStandIn(exit);

    MailComposer composer;
    QSignalSpy finished(&composer, &MailComposer::finished);
    QVERIFY(composer.compose({subject, body, attachment}));
    QCOMPARE(finished.count(), 0);
    QTRY_COMPARE(finished.count(), 1);
    const QString message = finished[0][1].toString();
    QCOMPARE(finished[0][0].toBool(), error.isEmpty());
    QVERIFY2(error.isEmpty() ? message.isEmpty() : message.contains(error), qPrintable(message));
    QCOMPARE(recordedArguments(), arguments);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
  }

  void aSecondComposeWhileOneRunsIsRefused() {
    useStandIn("0", "0.3");
    MailComposer composer;
    QSignalSpy finished(&composer, &MailComposer::finished);
    QVERIFY(composer.compose({"first", {}, {}}));
    QVERIFY(!composer.compose({"second", {}, {}}));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(recordedArguments(), (QStringList{"--utf8", "--subject", "first"}));
    QVERIFY(composer.compose({"third", {}, {}}));
  }

  void aMailProgramStillRunningCountsAsHandedOverAndIsNeverKilled() {
    useStandIn("4", "1");
    auto composer = std::make_unique<MailComposer>();
    composer->setHandOverTimeout(100ms);
    QSignalSpy finished(composer.get(), &MailComposer::finished);
    QVERIFY(composer->compose({"slow", {}, {}}));
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toBool(), true);
    QVERIFY(!QFile::exists(m_record + ".survived"));
    composer.reset();
    QTRY_VERIFY(QFile::exists(m_record + ".survived"));
  }

  void attachmentsArePrivateFilesInAPrivateFolder() {
    const QString folder = MailComposer::attachmentFolder();
    QCOMPARE(permissions(folder), 0700u);
    QVERIFY(MailComposer::writeAttachment("a.gif", bytesOf("first")).ok());
    auto path = MailComposer::writeAttachment("a.gif", bytesOf("second"));
    QVERIFY(path.ok());
    QCOMPARE(*path, folder + "/a.gif");
    QCOMPARE(permissions(*path), 0600u);
    QFile file(*path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("second"));
  }

  void badAttachmentsAreRefusedAndWriteNothing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("folder in the name") << "../escape.gif" << QByteArray("GIF");
    QTest::newRow("parent") << ".." << QByteArray("GIF");
    QTest::newRow("no bytes") << "empty.gif" << QByteArray();
  }

  void badAttachmentsAreRefusedAndWriteNothing() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    const QDir folder(MailComposer::attachmentFolder());
    const QStringList before = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    auto written = MailComposer::writeAttachment(name, bytesOf(bytes));
    QVERIFY(!written.ok() && written.error().code == ErrorCode::InvalidArgument);
    QVERIFY(!folder.exists("../escape.gif"));
    QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
  }
};

QTEST_GUILESS_MAIN(MailComposerTest)
#include "mail_composer_test.moc"
