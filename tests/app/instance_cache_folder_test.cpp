#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "instance_cache_folder.h"

using namespace duo;

namespace {

constexpr int kWaitMs = 10000;
const QString kHeldFile = QStringLiteral("held.txt");  // written by every holder

QString rootOf(const QTemporaryDir& caches) {
  return caches.filePath(QLatin1String(InstanceCacheFolder::kFolderName));
}

QSet<QString> entriesOf(const QString& folder) {
  const QStringList names =
      QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
  return {names.begin(), names.end()};
}

std::unique_ptr<QProcess> startHolder(const QTemporaryDir& caches) {
  auto holder = std::make_unique<QProcess>();
  holder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  holder->start(QStringLiteral(INSTANCE_CACHE_HOLDER_PATH), {caches.path()});
  return holder;
}

/// The folder a holder announced; empty if it announced none in time.
QString heldFolder(QProcess& holder) {
  while (!holder.canReadLine())
    if (!holder.waitForReadyRead(kWaitMs)) return {};
  return QFile::decodeName(holder.readLine().trimmed());
}

bool touch(const QString& path) { return QFile(path).open(QIODevice::WriteOnly); }

bool exitsCleanly(QProcess& holder) {
  holder.closeWriteChannel();
  return holder.waitForFinished(kWaitMs) && holder.exitStatus() == QProcess::NormalExit &&
         holder.exitCode() == 0;
}

}  // namespace

class InstanceCacheFolderTest : public QObject {
  Q_OBJECT

 private slots:
  void runningInstancesKeepTheirOwnFoldersAndCleanExitsLeaveNothing() {
    QTemporaryDir caches;
    auto a = startHolder(caches);
    const QString folderA = heldFolder(*a);
    QVERIFY(!folderA.isEmpty());
    // Two starting at the same moment must not take each other's new folder for a leftover.
    auto b = startHolder(caches);
    auto c = startHolder(caches);
    const QString folderB = heldFolder(*b), folderC = heldFolder(*c);
    auto own1 = InstanceCacheFolder::acquire(caches.path());
    auto own2 = InstanceCacheFolder::acquire(caches.path());
    QVERIFY(own1 && own2);

    const QStringList folders = {folderA, folderB, folderC, own1->path(), own2->path()};
    QCOMPARE(QSet<QString>(folders.begin(), folders.end()).size(), folders.size());
    for (const QString& folder : folders) {
      QCOMPARE(QFileInfo(folder).absolutePath(), rootOf(caches));
      const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                        QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
      QCOMPARE(QFileInfo(folder).permissions() & others, QFile::Permissions());
    }
    for (const QString& folder : {folderA, folderB, folderC})
      QVERIFY2(QFileInfo::exists(folder + '/' + kHeldFile), qPrintable(folder));

    QVERIFY(exitsCleanly(*a) && exitsCleanly(*b) && exitsCleanly(*c));
    own1.reset();
    own2.reset();
    QCOMPARE(entriesOf(rootOf(caches)), QSet<QString>());
  }

  void startUpRemovesOnlyWhatNoRunningInstanceHolds() {
    QTemporaryDir caches, outside;
    auto dead = startHolder(caches);
    auto live = startHolder(caches);
    const QString deadFolder = heldFolder(*dead), liveFolder = heldFolder(*live);
    QVERIFY(!deadFolder.isEmpty() && !liveFolder.isEmpty());
    dead->kill();
    QVERIFY(dead->waitForFinished(kWaitMs));
    QVERIFY(QFileInfo::exists(deadFolder + '/' + kHeldFile));

    // Outside targets reachable through links in the leftovers.
    QVERIFY(QDir(outside.path()).mkpath(QStringLiteral("dir")));
    QVERIFY(touch(outside.filePath("file")) && touch(outside.filePath("dir/file")));
    QVERIFY(QFile::link(outside.filePath("dir"), deadFolder + "/out-dir"));
    QVERIFY(QFile::link(outside.filePath("file"), deadFolder + "/out-file"));

    const QString root = rootOf(caches);
    // Outputs older versions kept at the top, one of them a link out.
    for (const char* name : {"Color Anaglyph.png", "Grey Anaglyph.png", "Stereogram.png"})
      QVERIFY(touch(root + '/' + name));
    QVERIFY(QFile::link(outside.filePath("file"), root + "/Wigglegram.gif"));
    // Folders of instances that died before their lock file was complete.
    QVERIFY(QDir(root).mkpath("instance-nolock/QSDuoscopeCache"));
    QVERIFY(QDir(root).mkdir("instance-torn"));
    QVERIFY(touch(root + "/instance-torn/instance.lock"));

    QString error;
    const auto own = InstanceCacheFolder::acquire(caches.path(), &error);
    QVERIFY2(own, qPrintable(error));

    QCOMPARE(entriesOf(root),
             QSet<QString>({QFileInfo(liveFolder).fileName(), QFileInfo(own->path()).fileName()}));
    QVERIFY(QFileInfo::exists(liveFolder + '/' + kHeldFile));
    QVERIFY(QFileInfo::exists(outside.filePath("file")));
    QVERIFY(QFileInfo::exists(outside.filePath("dir/file")));
    QVERIFY(exitsCleanly(*live));
  }

  void unusableCachesDirectoryIsAnError_data() {
    QTest::addColumn<QString>("plainFile");
    QTest::newRow("caches directory") << QStringLiteral("caches");
    QTest::newRow("cache folder") << QStringLiteral("caches/QSDuoscopeCache");
    QTest::newRow("cache folder linked elsewhere") << QString();
  }

  void unusableCachesDirectoryIsAnError() {
    QFETCH(QString, plainFile);
    QTemporaryDir parent;
    if (plainFile.isEmpty()) {
      // A link in place of the cache folder: what it points at must come through untouched.
      QVERIFY(QDir().mkpath(parent.filePath("caches")));
      QVERIFY(QDir().mkpath(parent.filePath("elsewhere/photos")));
      QVERIFY(touch(parent.filePath("elsewhere/precious.jpg")));
      QVERIFY(QFile::link(parent.filePath("elsewhere"), parent.filePath("caches/QSDuoscopeCache")));
    } else {
      QVERIFY(QDir().mkpath(QFileInfo(parent.filePath(plainFile)).absolutePath()));
      QVERIFY(touch(parent.filePath(plainFile)));
    }

    QString error;
    QVERIFY(!InstanceCacheFolder::acquire(parent.filePath("caches"), &error));
    QVERIFY(!error.isEmpty());
    if (plainFile.isEmpty()) {
      QVERIFY(QFileInfo::exists(parent.filePath("elsewhere/precious.jpg")));
      QVERIFY(QFileInfo(parent.filePath("elsewhere/photos")).isDir());
    }
  }
};

QTEST_GUILESS_MAIN(InstanceCacheFolderTest)
#include "instance_cache_folder_test.moc"
