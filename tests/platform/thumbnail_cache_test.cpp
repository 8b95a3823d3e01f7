#include <QBuffer>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "library_fixtures.h"
#include "png_text_chunks.h"
#include "thumbnail_cache.h"

using namespace duo;

namespace {

ino_t inodeOf(const QString& path) {
  struct stat info {};
  return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

QMap<QByteArray, QByteArray> keysOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? png_text::readTextChunks(file.readAll())
                                        : QMap<QByteArray, QByteArray>();
}

}  // namespace

class ThumbnailCacheTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir m_dir;
  QString m_cache;

 private slots:
  void init() {
    m_cache = m_dir.filePath(QString::number(QRandomGenerator::global()->generate()));
    ThumbnailCache::setCacheHomeForTesting(m_cache);
  }

  void cacheHomeFollowsTheEnvironmentUnlessOverridden() {
    ThumbnailCache::setCacheHomeForTesting({});
    qputenv("XDG_CACHE_HOME", "/somewhere/cache");
    QCOMPARE(ThumbnailCache::cacheHome(), QStringLiteral("/somewhere/cache"));
    qputenv("XDG_CACHE_HOME", "relative/cache");  // not absolute: ignored
    QCOMPARE(ThumbnailCache::cacheHome(), QDir::homePath() + "/.cache");
    ThumbnailCache::setCacheHomeForTesting(m_cache);
    QCOMPARE(ThumbnailCache::cacheHome(), m_cache);
  }

  // Expected values made outside the program: echo -n URI | md5sum.
  void namesAreTheMd5OfTheEscapedUri_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("uri");
    QTest::addColumn<QString>("md5");
    QTest::newRow("spaces and brackets")
        << "/home/ann/Pictures/Duoscope 2026-12-08 14.03.27 (2).jpg"
        << QByteArray("file:///home/ann/Pictures/Duoscope%202026-12-08%2014.03.27%20(2).jpg")
        << "52223f0832dfbc5013ba5ad492717ada";
    QTest::newRow("non-ASCII") << "/tmp/Fotos/Été à Genève.jpg"
                               << QByteArray(
                                      "file:///tmp/Fotos/%C3%89t%C3%A9%20%C3%A0%20Gen%C3%A8ve.jpg")
                               << "a15e9303e287d874c744028a3a768fa2";
    QTest::newRow("URI delimiters")
        << "/tmp/./x/../a#b%c?d.jpg" << QByteArray("file:///tmp/a%23b%25c%3Fd.jpg")
        << "f326567ae67a1f421627bb01e0b8335a";
  }
  void namesAreTheMd5OfTheEscapedUri() {
    QFETCH(QString, path);
    QFETCH(QByteArray, uri);
    QFETCH(QString, md5);
    QCOMPARE(ThumbnailCache::uriOf(path), uri);
    QCOMPARE(ThumbnailCache::thumbnailPath(path), m_cache + "/thumbnails/normal/" + md5 + ".png");
  }

  void aThumbnailIsUprightSmallPrivateAndCarriesItsKeys() {
    // Stored 400 x 300, left half red, tagged Right: upright it is 300 x 400 with red on top.
    const QString picture = m_dir.filePath("turned.jpg");
    QVERIFY(test::writeFile(picture,
                            test::solidJpeg(400, 300, Qt::red, int(Orientation::Right), Qt::blue),
                            1'700'000'123));
    const auto thumbnail = ThumbnailCache::thumbnail(picture);
    QVERIFY2(thumbnail, thumbnail ? "" : thumbnail.error().message.c_str());
    QCOMPARE(thumbnail->size(), QSize(96, 128));
    QVERIFY(test::near(test::rgb(*thumbnail, 48, 10), Qt::red));
    QVERIFY(test::near(test::rgb(*thumbnail, 48, 118), Qt::blue));

    const QString file = ThumbnailCache::thumbnailPath(picture);
    QCOMPARE(test::modeOf(file), 0600u);
    QCOMPARE(test::modeOf(m_cache + "/thumbnails"), 0700u);
    QCOMPARE(test::modeOf(m_cache + "/thumbnails/normal"), 0700u);
    const auto keys = keysOf(file);
    QCOMPARE(keys.value("Thumb::URI"), ThumbnailCache::uriOf(picture));
    QCOMPARE(keys.value("Thumb::MTime"), QByteArray("1700000123"));
    QCOMPARE(keys.value("Thumb::Size"), QByteArray::number(QFileInfo(picture).size()));
    // Other readers see the same picture, and only the thumbnail is in the folder.
    QCOMPARE(QImage(file).size(), QSize(96, 128));
    QCOMPARE(QDir(m_cache + "/thumbnails/normal").entryList(QDir::Files | QDir::Hidden).size(), 1);
    QCOMPARE(ThumbnailCache::cached(picture).size(), QSize(96, 128));
  }

  void aThumbnailIsReusedOnlyWhileItMatchesThePicture_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("reused");
    QTest::newRow("nothing changed") << "none" << true;
    QTest::newRow("picture modified") << "mtime" << false;
    QTest::newRow("thumbnail of another URI") << "uri" << false;
    QTest::newRow("thumbnail cut short") << "truncate" << false;
  }
  void aThumbnailIsReusedOnlyWhileItMatchesThePicture() {
    QFETCH(QString, change);
    QFETCH(bool, reused);
    const QString picture = m_dir.filePath("photo.jpg");
    QVERIFY(test::writeFile(picture, test::solidJpeg(160, 120, Qt::green), 1'700'000'000));
    QVERIFY(ThumbnailCache::thumbnail(picture));
    const QString file = ThumbnailCache::thumbnailPath(picture);
    if (change == "mtime") {
      test::setModified(picture, 1'700'000'001);
    } else if (change == "uri") {
      // Well-formed and of the right time, but made for another picture.
      QImage other(128, 96, QImage::Format_RGB32);
      other.fill(Qt::black);
      QByteArray png;
      QBuffer buffer(&png);
      QVERIFY(buffer.open(QIODevice::WriteOnly) && other.save(&buffer, "PNG"));
      png = png_text::withTextChunks(
          png, {{"Thumb::URI", ThumbnailCache::uriOf(m_dir.filePath("other.jpg"))},
                {"Thumb::MTime", "1700000000"}});
      QVERIFY(QFile::remove(file));
      QVERIFY(test::writeFile(file, png));
    } else if (change == "truncate") {
      QFile in(file);
      QVERIFY(in.open(QIODevice::ReadOnly));
      const QByteArray png = in.readAll().left(in.size() / 2);
      in.close();
      QVERIFY(QFile::remove(file));
      QVERIFY(test::writeFile(file, png));
    }
    const ino_t before = inodeOf(file);
    QCOMPARE(ThumbnailCache::cached(picture).isNull(), !reused);
    const auto again = ThumbnailCache::thumbnail(picture);
    QVERIFY(again);
    QCOMPARE(again->size(), QSize(128, 96));
    QCOMPARE(inodeOf(file) == before, reused);  // a rewrite is a rename onto the name
    QCOMPARE(keysOf(file).value("Thumb::MTime"),
             QByteArray(change == "mtime" ? "1700000001" : "1700000000"));
  }

  void anUndecodablePictureGetsAFailureEntryUntilItChanges() {
    const QString picture = m_dir.filePath("broken.jpg");
    QVERIFY(test::writeFile(picture, QByteArray("\xFF\xD8\xFF\xE0 not really", 15), 1'700'000'000));
    for (int attempt = 0; attempt < 2; ++attempt) QVERIFY(!ThumbnailCache::thumbnail(picture));
    QVERIFY(!QFileInfo::exists(ThumbnailCache::thumbnailPath(picture)));
    QCOMPARE(keysOf(ThumbnailCache::failurePath(picture)).value("Thumb::URI"),
             ThumbnailCache::uriOf(picture));

    QVERIFY(test::writeFile(picture, test::solidJpeg(16, 16, Qt::white), 1'700'000'050));
    QVERIFY(ThumbnailCache::thumbnail(picture));
    QVERIFY(!ThumbnailCache::thumbnail(m_dir.filePath("missing.jpg")));
  }

  // Other programs write the keys compressed (Qt itself does for long values).
  void textKeysAreReadWhateverChunkHoldsThem() {
    QImage image(4, 4, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QByteArray longUri = "file:///" + QByteArray(300, 'x') + ".jpg";
    image.setText("Thumb::URI", QString::fromLatin1(longUri));
    image.setText("Thumb::MTime", "42");
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(QImageWriter(&buffer, "png").write(image));
    QVERIFY(png.contains("zTXt"));
    auto keys = png_text::readTextChunks(png);
    QCOMPARE(keys.value("Thumb::URI"), longUri);
    QCOMPARE(keys.value("Thumb::MTime"), QByteArray("42"));

    const QByteArray ours = png_text::withTextChunks(png, {{"Thumb::Size", "7"}});
    QCOMPARE(png_text::readTextChunks(ours).value("Thumb::Size"), QByteArray("7"));
    QVERIFY(!QImage::fromData(ours, "PNG").isNull());
    QByteArray damaged = ours;
    damaged[ours.indexOf("Thumb::Size") + 12] = '8';  // the checksum no longer matches
    QVERIFY(!png_text::readTextChunks(damaged).contains("Thumb::Size"));
    QVERIFY(png_text::withTextChunks(png, {{"", "empty key"}}).isEmpty());
    QVERIFY(png_text::withTextChunks("not a png", {}).isEmpty());
  }
};

QTEST_MAIN(ThumbnailCacheTest)
#include "thumbnail_cache_test.moc"
