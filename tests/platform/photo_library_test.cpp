#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "io/image_codec.h"
#include "library_fixtures.h"
#include "library_scanner.h"
#include "photo_library.h"

using namespace duo;

namespace {

const QDateTime kWhen(QDate(2026, 12, 8), QTime(14, 3, 27), Qt::LocalTime);
const QString kBase = QStringLiteral("Duoscope 2026-12-08 14.03.27");

std::span<const std::uint8_t> spanOf(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

QByteArray contents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every name in a folder, hidden ones (our temporary files) included.
QStringList everything(const QString& folder) {
  return QDir(folder).entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class PhotoLibraryTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString m_pictures;

 private slots:
  void initTestCase() { ::umask(022); }

  void init() {
    m_pictures = m_dir.filePath(QString::number(QRandomGenerator::global()->generate()));
    PhotoLibrary::setPicturesFolderForTesting(m_pictures);
  }

  void cleanupTestCase() { PhotoLibrary::setPicturesFolderForTesting({}); }

  void overridesNeedNoUserDirsFileAndCanBeUndone() {
    // Without user-dirs.dirs the desktop answer would be ~/Pictures; the override wins anyway.
    qputenv("XDG_CONFIG_HOME", m_dir.filePath("empty-config").toUtf8());
    QCOMPARE(PhotoLibrary::picturesFolder(), m_pictures);
    QCOMPARE(PhotoLibrary::albumFolder(), m_pictures + "/Duoscope");
    PhotoLibrary::setDocumentsFolderForTesting(m_dir.filePath("docs"));
    QCOMPARE(PhotoLibrary::documentsFolder(), m_dir.filePath("docs"));
    PhotoLibrary::setDocumentsFolderForTesting({});
    QCOMPARE(PhotoLibrary::documentsFolder(),
             QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    PhotoLibrary::setPicturesFolderForTesting({});
    QCOMPARE(PhotoLibrary::picturesFolder(),
             QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
  }

  // Names taken before the save stand for names taken between any check and the commit: the
  // no-replace commit is the only check there is.
  void savingNumbersAroundTakenNamesAndNeverReplaces_data() {
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("expected");
    QTest::newRow("free") << QStringList{} << kBase + ".jpg";
    QTest::newRow("one clash") << QStringList{kBase + ".jpg"} << kBase + " (2).jpg";
    QTest::newRow("two clashes") << QStringList{kBase + ".jpg", kBase + " (2).jpg"}
                                 << kBase + " (3).jpg";
    QTest::newRow("first gap") << QStringList{kBase + ".jpg", kBase + " (3).jpg"}
                               << kBase + " (2).jpg";
    QTest::newRow("link and folder")
        << QStringList{"link:" + kBase + ".jpg", "dir:" + kBase + " (2).jpg"} << kBase + " (3).jpg";
  }
  void savingNumbersAroundTakenNamesAndNeverReplaces() {
    QFETCH(QStringList, taken);
    QFETCH(QString, expected);
    const QString album = PhotoLibrary::albumFolder();
    for (const QString& name : taken) {
      if (name.startsWith("link:")) {
        QVERIFY(QDir().mkpath(album));
        QVERIFY(QFile::link(m_dir.filePath("nowhere"), album + '/' + name.mid(5)));  // dangling
      } else if (name.startsWith("dir:")) {
        QVERIFY(QDir().mkpath(album + '/' + name.mid(4)));
      } else {
        QVERIFY(test::writeFile(album + '/' + name, "earlier " + name.toUtf8()));
        QVERIFY(QFile::setPermissions(album + '/' + name, QFile::ReadOwner | QFile::WriteOwner));
      }
    }
    const QByteArray photo = test::solidJpeg(8, 8, Qt::red);
    const auto saved = PhotoLibrary::saveToAlbum(spanOf(photo), "jpg", kWhen);
    QVERIFY2(saved, saved ? "" : saved.error().message.c_str());
    QCOMPARE(*saved, album + '/' + expected);
    QCOMPARE(contents(*saved), photo);
    // A new file, not a copy of the mode of the file whose name it could not have.
    QCOMPARE(test::modeOf(*saved), 0644u);
    if (taken.isEmpty()) QCOMPARE(test::modeOf(album), 0755u);
    for (const QString& name : taken) {
      if (!name.contains(':')) QCOMPARE(contents(album + '/' + name), "earlier " + name.toUtf8());
    }
    QCOMPARE(everything(album).size(), taken.size() + 1);  // no temporary file left
  }

  void aFailedSaveSaysWhereAndLeavesNothing_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("read-only album") << "read-only"
                                     << "/Duoscope: ";
    QTest::newRow("disk full") << "full"
                               << "/Duoscope: ";
    QTest::newRow("album is a file") << "file"
                                     << "/Duoscope: ";
    QTest::newRow("no bytes") << "empty"
                              << "empty photograph";
    QTest::newRow("extension with a slash") << "extension"
                                            << "extension \"../jpg\"";
    QTest::newRow("no time") << "time"
                             << "without a time";
  }
  void aFailedSaveSaysWhereAndLeavesNothing() {
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString album = PhotoLibrary::albumFolder();
    QByteArray photo = test::solidJpeg(64, 64, Qt::blue);
    QString extension = "jpg";
    QDateTime when = kWhen;
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    if (kind == "read-only") {
      if (::geteuid() == 0) QSKIP("root writes into read-only folders");
      QVERIFY(QDir().mkpath(album));
      QVERIFY(QFile::setPermissions(album, QFile::ReadOwner | QFile::ExeOwner));
    } else if (kind == "full") {
      // The file size limit makes write() fail part-way, as a full disk does.
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit small{std::min<rlim_t>(1000, saved.rlim_max), saved.rlim_max};
      QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
      photo = QByteArray(64 * 1024, 'x');
    } else if (kind == "file") {
      QVERIFY(test::writeFile(album, "not a folder"));
    } else if (kind == "empty") {
      photo.clear();
    } else if (kind == "extension") {
      extension = "../jpg";
    } else {
      when = QDateTime();
    }
    const auto result = PhotoLibrary::saveToAlbum(spanOf(photo), extension, when);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    QFile::setPermissions(album, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!result);
    QVERIFY2(QString::fromStdString(result.error().message).contains(message),
             result.error().message.c_str());
    if (kind != "file") QVERIFY(everything(album).isEmpty());
    QCOMPARE(everything(m_pictures).size(), QFileInfo::exists(album) ? 1 : 0);
  }

  void aCameraShotIsAJpegThatKeepsItsTag() {
    Image shot = *Image::create(40, 30);
    shot.setOrientationTag(int(Orientation::LeftMirrored));
    const auto saved = PhotoLibrary::saveCameraShot(shot, kWhen);
    QVERIFY2(saved, saved ? "" : saved.error().message.c_str());
    QVERIFY(saved->endsWith(kBase + ".jpg"));
    const auto info = readImageInfoFile(QFile::encodeName(*saved).toStdString());
    QVERIFY(info);
    QVERIFY(info->format == ImageFormat::Jpeg);
    QCOMPARE(info->orientationTag, int(Orientation::LeftMirrored));
    QCOMPARE(info->width, 40);  // stored as shot, turned by viewers

    shot.setOrientationTag(8);
    const auto refused = PhotoLibrary::saveCameraShot(shot, kWhen.addSecs(1));
    QVERIFY(!refused);
    QVERIFY(refused.error().code == ErrorCode::InvalidArgument);
    QCOMPARE(everything(PhotoLibrary::albumFolder()).size(), 1);
  }

  void scanListsPicturesNewestFirstSkippingHiddenAndLoops() {
    const QString root = m_pictures;
    const QByteArray jpeg = test::solidJpeg(8, 8, Qt::green);
    const qint64 t = 1'800'000'000;
    QVERIFY(test::writeFile(root + "/a.jpg", jpeg, t - 30));
    QVERIFY(test::writeFile(root + "/sub/b.PNG", jpeg, t - 10));
    QVERIFY(test::writeFile(root + "/sub/deeper/c.jpeg", jpeg, t - 20));
    QVERIFY(test::writeFile(root + "/h.jpg", jpeg, t - 40));  // same time: by path
    QVERIFY(test::writeFile(root + "/g.jpg", jpeg, t - 40));
    QVERIFY(test::writeFile(root + "/.hidden/d.jpg", jpeg, t));
    QVERIFY(test::writeFile(root + "/.e.jpg", jpeg, t));
    QVERIFY(test::writeFile(root + "/notes.txt", jpeg, t));
    QVERIFY(test::writeFile(root + "/jpg", jpeg, t));
    QVERIFY(QFile::link(root, root + "/loop"));
    QVERIFY(QFile::link(root + "/sub", root + "/sub/deeper/up"));
    QVERIFY(QFile::link(root + "/a.jpg", root + "/z-second-name.jpg"));
    QVERIFY(QFile::link(root + "/gone.jpg", root + "/dangling.jpg"));

    const QStringList expected = {root + "/sub/b.PNG", root + "/sub/deeper/c.jpeg", root + "/a.jpg",
                                  root + "/g.jpg", root + "/h.jpg"};
    QStringList paths;
    for (const LibraryEntry& entry : LibraryScanner::scan(root)) paths << entry.path;
    QCOMPARE(paths, expected);

    LibraryScanner scanner;
    QSignalSpy finished(&scanner, &LibraryScanner::finished);
    scanner.start(root);
    QVERIFY(scanner.isRunning());
    QVERIFY(finished.wait(5000));
    const auto entries = finished.at(0).at(0).value<QList<LibraryEntry>>();
    QCOMPARE(entries.size(), expected.size());
    QCOMPARE(entries[0].size, jpeg.size());
    QCOMPARE(entries[0].modified.toSecsSinceEpoch(), t - 10);
    QVERIFY(LibraryScanner::scan(root + "/missing").isEmpty());
  }
};

QTEST_MAIN(PhotoLibraryTest)
#include "photo_library_test.moc"
