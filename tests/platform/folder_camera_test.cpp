#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "folder_camera.h"
#include "io/image_codec.h"

using namespace duo;

namespace {

// Each test file is told apart by its width.
void writePicture(const QString& path, int width, int height, int tag = 0) {
  std::optional<Image> image = Image::create(width, height);
  QVERIFY(image);
  image->setOrientationTag(tag);
  const bool png = path.endsWith(".png", Qt::CaseInsensitive);
  const auto bytes = png ? encodePng(*image) : encodeJpeg(*image, 90, tag != 0);
  QVERIFY(bytes.ok());
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(bytes->data()), qint64(bytes->size()));
}

void writeText(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text);
}

struct Shot {
  int count = 0;  // shotTaken and shotFailed together
  Image image;
  QString error;
};

// Takes a picture and waits for its one signal (and a moment more, to see a second one).
Shot shoot(FolderCamera& camera) {
  Shot shot;
  QObject context;
  QObject::connect(&camera, &CameraDevice::shotTaken, &context, [&](const Image& image) {
    ++shot.count;
    shot.image = image;
  });
  QObject::connect(&camera, &CameraDevice::shotFailed, &context, [&](const QString& message) {
    ++shot.count;
    shot.error = message;
  });
  if (!camera.takePicture()) return shot;
  if (QTest::qWaitFor([&] { return shot.count > 0; }, 5000)) QTest::qWait(20);
  return shot;
}

bool waitForPreview(FolderCamera& camera, QSize size) {
  return QTest::qWaitFor([&] { return camera.previewFrame().size() == size; }, 5000);
}

}  // namespace

class FolderCameraTest : public QObject {
  Q_OBJECT

 private slots:
  void cyclesThroughImageFilesInNaturalOrder() {
    QTemporaryDir dir;
    writePicture(dir.filePath("10.jpg"), 30, 8);
    writePicture(dir.filePath("2.JPG"), 20, 8);
    writePicture(dir.filePath("1.png"), 10, 8);
    writePicture(dir.filePath("b.jpeg"), 40, 8);
    writePicture(dir.filePath(".hidden.jpg"), 50, 8);
    writeText(dir.filePath("notes.txt"), "not a picture");
    QVERIFY(QDir(dir.path()).mkdir("inner.jpg"));
    writePicture(dir.filePath("inner.jpg/0.jpg"), 60, 8);

    FolderCamera camera(dir.path());
    QVERIFY(camera.isAvailable());
    QCOMPARE(camera.files(), QStringList({"1.png", "2.JPG", "10.jpg", "b.jpeg"}));
    for (const int width : {10, 20, 30, 40, 10, 20}) {
      const Shot shot = shoot(camera);
      QCOMPARE(shot.count, 1);
      QVERIFY2(shot.error.isEmpty(), qPrintable(shot.error));
      QCOMPARE(shot.image.width(), width);
    }
    QCOMPARE(camera.nextIndex(), 2);

    // One shot at a time: a second request while the first decodes is refused.
    QSignalSpy taken(&camera, &CameraDevice::shotTaken);
    QVERIFY(camera.takePicture());
    QVERIFY(!camera.takePicture());
    QVERIFY(taken.wait(5000));
    QVERIFY(camera.takePicture());
  }

  void filesAddedLaterJoinTheCycleByName() {
    QTemporaryDir dir;
    writePicture(dir.filePath("1.jpg"), 10, 8);
    writePicture(dir.filePath("3.jpg"), 30, 8);
    FolderCamera camera(dir.path());
    QCOMPARE(shoot(camera).image.width(), 10);
    writePicture(dir.filePath("2.jpg"), 20, 8);
    writePicture(dir.filePath("0.jpg"), 5, 8);  // before the position: waits for the next round
    for (const int width : {20, 30, 5, 10}) QCOMPARE(shoot(camera).image.width(), width);
  }

  void shotsAndPreviewKeepTheFilesOrientationTag_data() {
    QTest::addColumn<int>("tag");
    QTest::newRow("Up") << 0;
    QTest::newRow("Down") << 1;
    QTest::newRow("Right") << 3;
    QTest::newRow("LeftMirrored") << 6;
  }
  void shotsAndPreviewKeepTheFilesOrientationTag() {
    QFETCH(int, tag);
    QTemporaryDir dir;
    writePicture(dir.filePath("tagged.jpg"), 24, 12, tag);
    FolderCamera camera(dir.path());
    QVERIFY(camera.recordsDeviceTurn());
    camera.start();
    QVERIFY(waitForPreview(camera, QSize(24, 12)));  // the stored grid, never turned
    QCOMPARE(camera.previewOrientationTag(), tag);
    const Shot shot = shoot(camera);
    QCOMPARE(shot.image.width(), 24);
    QCOMPARE(shot.image.height(), 12);
    QCOMPARE(shot.image.orientationTag(), tag);
  }

  void previewIsTheUpcomingFileReduced() {
    QTemporaryDir dir;
    writePicture(dir.filePath("a.jpg"), 2600, 1000);
    writePicture(dir.filePath("b.png"), 30, 60);
    FolderCamera camera(dir.path());
    QVERIFY(camera.previewFrame().isNull());
    camera.start();
    QVERIFY(waitForPreview(camera, QSize(1200, 462)));
    QCOMPARE(shoot(camera).image.width(), 2600);
    QVERIFY(waitForPreview(camera, QSize(30, 60)));
    QCOMPARE(shoot(camera).image.width(), 30);
    QVERIFY(waitForPreview(camera, QSize(1200, 462)));
  }

  void undecodableFileFailsAndTheCycleMovesOn() {
    QTemporaryDir dir;
    writeText(dir.filePath("1.jpg"), "not a picture");
    writePicture(dir.filePath("2.png"), 20, 8);
    FolderCamera camera(dir.path());
    QSignalSpy previews(&camera, &CameraDevice::previewChanged);
    camera.start();
    QVERIFY(previews.wait(5000));
    QVERIFY(camera.previewFrame().isNull());  // no stale or made-up frame for a broken file

    const Shot failed = shoot(camera);
    QCOMPARE(failed.count, 1);
    QVERIFY2(failed.error.contains("1.jpg"), qPrintable(failed.error));
    QVERIFY(waitForPreview(camera, QSize(20, 8)));
    const Shot next = shoot(camera);
    QCOMPARE(next.count, 1);
    QCOMPARE(next.image.width(), 20);
  }

  void foldersWithoutPicturesAreUnavailableUntilOneArrives_data() {
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QStringList>("others");
    QTest::newRow("missing") << false << QStringList();
    QTest::newRow("empty") << true << QStringList();
    QTest::newRow("no pictures") << true << QStringList({".hidden.jpg", "notes.txt", "a.gif"});
  }
  void foldersWithoutPicturesAreUnavailableUntilOneArrives() {
    QFETCH(bool, exists);
    QFETCH(QStringList, others);
    QTemporaryDir parent;
    const QString folder = parent.filePath("camera");
    if (exists) QVERIFY(QDir(parent.path()).mkdir("camera"));
    for (const QString& name : others) writeText(folder + "/" + name, "x");

    FolderCamera camera(folder, FolderCamera::Options{true, true});
    QVERIFY(!camera.isAvailable());
    QVERIFY(!camera.isCameraDeviceAvailable(CameraDevice::Position::Rear));
    QVERIFY(!camera.isFlashAvailable(CameraDevice::Position::Rear));
    QCOMPARE(camera.nextIndex(), -1);
    const Shot shot = shoot(camera);
    QCOMPARE(shot.count, 1);
    QVERIFY2(shot.error.contains(QDir::toNativeSeparators(folder)), qPrintable(shot.error));

    QSignalSpy availability(&camera, &CameraDevice::availabilityChanged);
    QDir().mkpath(folder);
    writePicture(folder + "/new.png", 12, 8);
    camera.start();
    QCOMPARE(availability.count(), 1);
    QVERIFY(camera.isAvailable());
    QCOMPARE(shoot(camera).image.width(), 12);
  }

  void onlyTheOptionsGiveFlashAndFrontCamera_data() {
    QTest::addColumn<bool>("flash");
    QTest::addColumn<bool>("front");
    QTest::newRow("like a webcam") << false << false;
    QTest::newRow("flash") << true << false;
    QTest::newRow("like a phone") << true << true;
  }
  void onlyTheOptionsGiveFlashAndFrontCamera() {
    QFETCH(bool, flash);
    QFETCH(bool, front);
    QTemporaryDir dir;
    writePicture(dir.filePath("a.png"), 8, 8);
    FolderCamera camera(dir.path(), FolderCamera::Options{flash, front});
    QCOMPARE(camera.isFlashAvailable(CameraDevice::Position::Rear), flash);
    QVERIFY(!camera.isFlashAvailable(CameraDevice::Position::Front));
    QCOMPARE(camera.isCameraDeviceAvailable(CameraDevice::Position::Front), front);
    camera.setCameraDevice(CameraDevice::Position::Front);
    QCOMPARE(camera.cameraDevice() == CameraDevice::Position::Front, front);
  }
};

QTEST_MAIN(FolderCameraTest)
#include "folder_camera_test.moc"
