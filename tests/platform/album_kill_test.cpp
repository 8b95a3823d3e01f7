// The album after the saving program was killed at random moments, a hundred times: only whole
// photographs under their final names, never a partial one.
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "io/image_codec.h"

class AlbumKillTest : public QObject {
  Q_OBJECT
 private slots:
  void killedSavesLeaveOnlyWholeFiles() {
    QTemporaryDir pictures;
    QRandomGenerator random(20261208);
    int started = 0;
    for (int round = 0; round < 100; ++round) {
      QProcess saver;
      saver.start(QStringLiteral(ALBUM_SAVER_PATH), {pictures.path()});
      QVERIFY(saver.waitForStarted());
      QVERIFY(saver.waitForReadyRead(10000));  // "ready": the next moment may be mid-write
      QThread::msleep(random.bounded(250));
      ::kill(pid_t(saver.processId()), SIGKILL);
      QVERIFY(saver.waitForFinished());
      ++started;
    }
    const QDir album(pictures.filePath(QStringLiteral("Duoscope")));
    const QStringList files = album.entryList(QDir::Files, QDir::Name);  // not the hidden temporaries
    QVERIFY2(!files.isEmpty(), "no save ever finished: the kill moments are too early");
    for (const QString& name : files) {
      const auto decoded = duo::decodeImageFile(album.filePath(name).toStdString());
      QVERIFY2(decoded, qPrintable(name));
      QCOMPARE(decoded->width(), 2000);
      QCOMPARE(decoded->height(), 1500);
    }
    qInfo("%d kills, %lld whole photographs, %lld unfinished temporary files left hidden",
          started, static_cast<long long>(files.size()),
          static_cast<long long>(album.entryList(QDir::Hidden | QDir::Files).size() - files.size()));
  }
};

QTEST_GUILESS_MAIN(AlbumKillTest)
#include "album_kill_test.moc"
