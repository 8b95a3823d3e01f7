#include <QDir>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <fstream>

#include "app_window.h"
#include "blend_view_controller.h"
#include "camera_view_controller.h"
#include "folder_camera.h"
#include "information_view.h"
#include "io/image_codec.h"
#include "photo_library.h"
#include "qs_alert_view.h"
#include "run_loop.h"
#include "screen.h"
#include "screenshot.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "view_animation.h"

using namespace duo;

namespace {

/// A small JPEG of `width` × `height` stored pixels with an orientation tag, in a gradient so
/// that the ghost and the preview show something.
void writeShot(const QString& path, int width, int height, int tag = 0) {
  auto image = Image::create(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image->pixel(x, y);
      p[0] = std::uint8_t(x * 255 / width);
      p[1] = std::uint8_t(y * 255 / height);
      p[2] = 128;
    }
  image->setOrientationTag(tag);
  const auto bytes = encodeJpeg(*image, 90, true);
  std::ofstream(path.toStdString(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes->data()), std::streamsize(bytes->size()));
}

QSAlertView* shownAlert() {
  for (QWidget* widget : QApplication::allWidgets())
    if (auto* alert = qobject_cast<QSAlertView*>(widget); alert && alert->isShowing()) return alert;
  return nullptr;
}

}  // namespace

class CameraViewControllerTest : public QObject {
  Q_OBJECT

  ManualClock m_clock;
  QTemporaryDir m_dir;
  std::unique_ptr<SettingsStore> m_store;
  std::unique_ptr<AppWindow> m_window;
  QPointer<CameraViewController> m_camera;

  QString cameraFolder() const { return m_dir.filePath("camera"); }
  QString pictures() const { return m_dir.filePath("Pictures"); }

  /// The capture screen as the root of a shown window; the camera is the folder (or none).
  void start(bool withCamera, FolderCamera::Options options = {}) {
    if (withCamera) CameraDevice::setShared(std::make_unique<FolderCamera>(cameraFolder(), options));
    else CameraDevice::setShared(nullptr);
    m_window = std::make_unique<AppWindow>();
    m_camera = new CameraViewController(*m_store, m_window.get());
    m_window->setRootViewController(m_camera);
    m_window->makeKeyAndVisible();
  }
  QSImagePickerController* picker() const { return m_camera->imagePicker(); }
  /// Takes a shot and lets it arrive (it is decoded on a worker).
  void shoot() {
    m_camera->cameraButtonClick();
    QTRY_VERIFY(!picker() || !picker()->isTakingPicture());
    m_clock.advance(0);
  }
  void waitForPreview() { QTRY_VERIFY(!CameraDevice::shared()->previewFrame().isNull()); }
  void pick(const QString& path) {
    QVERIFY(picker()->pickFile(path));
    QTRY_VERIFY(!picker() || !picker()->isReadingPick());
  }
  QString title() const { return m_camera->titleLabel() ? m_camera->titleLabel()->text() : QString(); }
  QStringList album() const {
    return QDir(PhotoLibrary::albumFolder()).entryList(QDir::Files, QDir::Name);
  }

 private slots:
  void init() {
    RunLoopClock::install(&m_clock);
    MainScreen::setSize({320, 568, false});
    MainScreen::setScale(2);
    QDir(m_dir.path()).removeRecursively();
    QDir().mkpath(cameraFolder());
    QDir().mkpath(pictures());
    PhotoLibrary::setPicturesFolderForTesting(pictures());
    writeShot(cameraFolder() + "/1.jpg", 400, 300);
    writeShot(cameraFolder() + "/2.jpg", 400, 300);
    m_store = std::make_unique<SettingsStore>(m_dir.filePath("settings.json"));
    registerSettings(*m_store, QDateTime::currentDateTimeUtc());
    m_store->setBool(false, keys::kSaveCamera);
  }
  void cleanup() {
    while (QSAlertView* alert = shownAlert()) alert->dismissWithClickedButtonIndex(0, false);
    m_clock.advance(5);
    m_window.reset();
    QThreadPool::globalInstance()->waitForDone();
    CameraDevice::setShared(nullptr);
    RunLoopClock::install(nullptr);
    PhotoLibrary::setPicturesFolderForTesting({});
  }

  void introThenTwoShotsThenResultThenCameraAgain() {
    start(true);
    InformationView* intro = m_camera->informationView();
    QVERIFY(intro);  // the first start shows the intro before any camera
    QVERIFY(!m_camera->presentedViewController());
    m_clock.advance(0.35);
    duo::test::renderAt2x(m_window.get()).save("capture-intro.png");
    intro->continueButtonClick();
    m_clock.advance(0.35);
    QVERIFY(picker());
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::Camera);
    QCOMPARE(title(), QString("Left Image"));
    QVERIFY(!m_camera->overlayImageView());
    waitForPreview();
    duo::test::renderAt2x(m_window.get()).save("capture-left.png");

    shoot();
    QVERIFY(m_camera->leftImage());
    QCOMPARE(title(), QString("Right Image"));
    QVERIFY(m_camera->overlayImageView());
    QCOMPARE(viewAlpha(m_camera->overlayImageView()), CameraViewController::kGhostOpacity);
    QCOMPARE(m_camera->presentedViewController(), picker());  // the picker stayed up

    shoot();
    QTRY_VERIFY(m_camera->blendViewController());
    BlendViewController* result = m_camera->blendViewController();
    QCOMPARE(result->photoMethod(), int(CameraViewController::kCamera));
    QCOMPARE(result->maximumResolution(), 200.0f);  // 50 % of the 400-pixel side
    QVERIFY(!m_camera->imagePicker());

    m_clock.advance(1);
    result->photoButtonClick();
    m_clock.advance(1.5);
    QVERIFY(!m_camera->leftImage() && !m_camera->rightImage());
    QVERIFY(picker());
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::Camera);
    QCOMPARE(title(), QString("Left Image"));
  }

  void galleryAndCancelSwitchBetweenCameraAndLibrary() {
    m_store->setBool(false, keys::kShowIntro);
    start(true);
    QCOMPARE(title(), QString("Left Image"));
    shoot();  // a left shot, forgotten by the switch
    m_camera->imagePickerControllerDidCancel(picker());  // the gallery button
    QVERIFY(!m_camera->leftImage());
    QVERIFY(!m_camera->presentedViewController());  // the camera goes at once
    m_clock.advance(0.5);
    QCOMPARE(m_camera->photoMethod(), int(CameraViewController::kLibrary));
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::PhotoLibrary);
    QVERIFY(!picker()->prefersStatusBarHidden());
    m_clock.advance(0.5);

    picker()->cancel();
    m_clock.advance(0.5);  // the library slides away, then half a second passes
    m_clock.advance(0.5);
    QCOMPARE(m_camera->photoMethod(), int(CameraViewController::kCamera));
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::Camera);
    QVERIFY(picker()->prefersStatusBarHidden());
  }

  void withoutCameraTheLibraryLeadsThroughTheIntroBackToTheLibrary() {
    m_store->setBool(false, keys::kShowIntro);
    writeShot(pictures() + "/a.jpg", 300, 200);
    writeShot(pictures() + "/b.jpg", 300, 200);
    start(false);
    QVERIFY(!CameraViewController::doesDeviceSupportFlash());
    QCOMPARE(m_camera->photoMethod(), int(CameraViewController::kLibrary));
    QVERIFY(picker());
    m_clock.advance(0.5);
    duo::test::renderAt2x(m_window.get()).save("capture-library-empty-grid.png");
    QTRY_COMPARE(picker()->photoGrid()->photoCount(), 2);
    QTRY_VERIFY(!picker()->photoGrid()->isLoading());
    duo::test::renderAt2x(m_window.get()).save("capture-library.png");

    picker()->cancel();
    m_clock.advance(0.5);
    QVERIFY(!m_camera->presentedViewController());
    m_clock.advance(0.5);
    QVERIFY(m_camera->informationView());
    m_camera->informationView()->continueButtonClick();
    m_clock.advance(0.35);
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::PhotoLibrary);
    m_clock.advance(0.5);

    // Two picks make the pair: the library comes back for the second one.
    pick(pictures() + "/a.jpg");
    QVERIFY(m_camera->leftImage());
    QVERIFY(!m_camera->presentedViewController());
    m_clock.advance(0.1);
    QVERIFY(picker());
    m_clock.advance(0.5);
    pick(pictures() + "/b.jpg");
    m_clock.advance(0.5);
    QTRY_VERIFY(m_camera->blendViewController());
    QCOMPARE(m_camera->blendViewController()->photoMethod(), int(CameraViewController::kLibrary));
  }

  void pairFilePickIsTheWholePair() {
    // Real camera files live beside the repository, not in it.
    const QString mpo = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                        QStringLiteral("/../../../shared/testdata/mpo/3ds-sugarshack.mpo");
    if (!QFileInfo::exists(mpo)) QSKIP("no test data");
    m_store->setBool(false, keys::kShowIntro);
    start(false);
    m_clock.advance(0.5);
    QVERIFY(picker()->pickFile(mpo));
    m_clock.advance(0.5);  // the library slides away
    QTRY_VERIFY(!m_camera->isOpeningPairFile());
    m_clock.advance(0.5);
    QVERIFY(m_camera->blendViewController());
    const StereoPair& pair = m_camera->blendViewController()->pair();
    QCOMPARE(pair.leftImage().width(), pair.rightImage().width());
    QVERIFY(!pair.leftImage().samePixels(pair.rightImage()));
  }

  void unreadablePickIsSaidAndThePickerStays() {
    m_store->setBool(false, keys::kShowIntro);
    start(false);
    m_clock.advance(0.5);
    QFile bad(pictures() + "/bad.jpg");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a jpeg");
    bad.close();
    pick(bad.fileName());
    QVERIFY(shownAlert());
    QCOMPARE(shownAlert()->title(), QString("Cannot Open the Photograph"));
    QVERIFY(!m_camera->leftImage());
    QCOMPARE(m_camera->presentedViewController(), picker());
  }

  void cameraThatGoesAwayLeadsToTheLibrary() {
    m_store->setBool(false, keys::kShowIntro);
    start(true);
    QDir(cameraFolder()).removeRecursively();
    shoot();
    QVERIFY(shownAlert());
    QVERIFY(!CameraDevice::shared()->isAvailable());
    m_clock.advance(0.6);
    QCOMPARE(m_camera->photoMethod(), int(CameraViewController::kLibrary));
    QCOMPARE(picker()->sourceType(), ImagePickerController::SourceType::PhotoLibrary);
  }

  void mismatchedRightShotIsRefusedYetSaved() {
    m_store->setBool(false, keys::kShowIntro);
    m_store->setBool(true, keys::kSaveCamera);
    QFile::remove(cameraFolder() + "/2.jpg");
    writeShot(cameraFolder() + "/2.jpg", 300, 400);  // the phone turned between the shots
    start(true);
    shoot();
    shoot();
    QSAlertView* alert = shownAlert();
    QVERIFY(alert);
    QCOMPARE(alert->title(), QString("Oops!"));
    QCOMPARE(alert->message(), QString("Both images must be\nthe same size and orientation."));
    QCOMPARE(alert->buttonTitleAtIndex(0), QString("Try Again"));
    QVERIFY(m_camera->leftImage() && !m_camera->rightImage());
    QCOMPARE(title(), QString("Right Image"));  // still armed for the right shot, with the ghost
    QVERIFY(m_camera->overlayImageView());
    QTRY_COMPARE(m_camera->pendingSaves(), 0);
    QCOMPARE(album().size(), 2);  // the refused shot was kept too
    QSet<QSize> sizes;
    for (const QString& name : album()) {
      const auto saved = readImageInfoFile((PhotoLibrary::albumFolder() + "/" + name).toStdString());
      QVERIFY(saved);
      sizes.insert(QSize(saved->width, saved->height));
    }
    QCOMPARE(sizes, (QSet<QSize>{{400, 300}, {300, 400}}));
  }

  void guideCyclesAndIsRemembered() {
    m_store->setBool(false, keys::kShowIntro);
    m_store->setInteger(0, keys::kAlignmentMode);
    start(true);
    ImageView* guide = m_camera->overlayAlignmentView();
    QVERIFY(guide->image().isNull());
    waitForPreview();
    const QStringList shots = {"crosshair", "grid3", "grid4", "none"};
    for (int step = 1; step <= 4; ++step) {
      m_camera->nextOverlay();
      QCOMPARE(m_camera->currentAlignmentMode(), step % 4);
      QCOMPARE(m_store->integerForKey(keys::kAlignmentMode), step % 4);
      if (step == 1) {
        QCOMPARE(QRectF(guide->geometry()).center(), QPointF(160, 71 + 213));
      } else if (step < 4) {
        QCOMPARE(guide->geometry(), QRect(0, 71, 320, 426));
        QVERIFY(!guide->image().isNull());
      } else {
        QVERIFY(guide->image().isNull());
      }
      duo::test::renderAt2x(m_window.get()).save(QStringLiteral("capture-guide-%1.png").arg(shots[step - 1]));
    }
    m_camera->nextOverlay();
    m_camera->nextOverlay();
    // A new screen (the next start) takes the guide up where it was left.
    m_window.reset();
    start(true);
    QCOMPARE(m_camera->currentAlignmentMode(), 2);
  }

  void gridLinesFallOnTheHalfPoints() {
    const QImage grid = CameraViewController::makeGridForRect(QRectF(0, 0, 320, 426), 3, 1);
    QCOMPARE(grid.size(), QSize(320, 426));
    const auto dark = [&](int x, int y) { return qAlpha(grid.pixel(x, y)) > 200; };
    for (int x : {106, 213}) QVERIFY(dark(x, 10) && !dark(x - 1, 10) && !dark(x + 1, 10));
    for (int y : {142, 284}) QVERIFY(dark(10, y) && !dark(10, y - 1) && !dark(10, y + 1));
    QVERIFY(!dark(50, 50));
    const QImage none = CameraViewController::makeGridForRect(QRectF(0, 0, 320, 426), 1, 1);
    QVERIFY(std::all_of(none.constBits(), none.constBits() + none.sizeInBytes(), [](uchar b) { return b == 0; }));
  }

  void ghostIsPlacedAndTurnedByTheLeftShotsTag_data() {
    QTest::addColumn<int>("tag");
    QTest::addColumn<bool>("front");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<QTransform>("transform");
    const QRectF landscape(-53, 124, 426, 320), portrait(0, 71, 320, 426);
    const QTransform quarter(0, 1, -1, 0, 0, 0), back(0, -1, 1, 0, 0, 0), half(-1, 0, 0, -1, 0, 0);
    const QTransform none;
    for (const bool front : {false, true}) {
      const QTransform mirror = front ? QTransform::fromScale(-1, 1) : QTransform();
      const char* side = front ? "front" : "rear";
      QTest::addRow("Up %s", side) << 0 << front << landscape << quarter * mirror;
      QTest::addRow("Down %s", side) << 1 << front << landscape << back * mirror;
      QTest::addRow("Left %s", side) << 2 << front << portrait << half * mirror;
      QTest::addRow("Right %s", side) << 3 << front << portrait << none * mirror;
      for (int tag = 4; tag < 8; ++tag)
        QTest::addRow("mirrored %d %s", tag, side) << tag << front << portrait << mirror;
    }
  }
  void ghostIsPlacedAndTurnedByTheLeftShotsTag() {
    QFETCH(int, tag);
    QFETCH(bool, front);
    QFETCH(QRectF, frame);
    QFETCH(QTransform, transform);
    const auto geometry = CameraViewController::ghostGeometry(tag, front, true);
    QCOMPARE(geometry.frame, frame);
    const auto close = [](const QTransform& a, const QTransform& b) {
      return qAbs(a.m11() - b.m11()) < 1e-9 && qAbs(a.m12() - b.m12()) < 1e-9 &&
             qAbs(a.m21() - b.m21()) < 1e-9 && qAbs(a.m22() - b.m22()) < 1e-9;
    };
    QVERIFY2(close(geometry.transform, transform), "turn");
    // A desktop camera is never turned: its ghost is upright over the preview.
    const auto upright = CameraViewController::ghostGeometry(tag, front, false);
    QCOMPARE(upright.frame, QRectF(0, 71, 320, 426));
    QVERIFY(close(upright.transform, front ? QTransform::fromScale(-1, 1) : QTransform()));
  }

  void tallScreenShiftsThePreviewBy71Points() {
    m_store->setBool(false, keys::kShowIntro);
    for (const int height : {480, 568}) {
      MainScreen::setSize({320, height, false});
      start(true);
      const int offset = height == 568 ? 71 : 0;
      QCOMPARE(CameraViewController::cameraPreviewOffset(), double(offset));
      QCOMPARE(picker()->previewView()->y(), offset);
      QCOMPARE(m_camera->toolbar()->geometry(), QRect(0, height - 54, 320, 54));
      m_camera->cameraButtonClick();  // the shutter takes the shift away under its black cover
      QCOMPARE(picker()->previewView()->y(), 0);
      QTRY_VERIFY(!picker()->isTakingPicture());
      m_clock.advance(0);
      QCOMPARE(picker()->previewView()->y(), offset);
      m_window.reset();
      m_clock.advance(1);
    }
  }

  void rightShotWithTaggedLeftShowsTheTurnedGhost() {
    m_store->setBool(false, keys::kShowIntro);
    QFile::remove(cameraFolder() + "/1.jpg");
    QFile::remove(cameraFolder() + "/2.jpg");
    writeShot(cameraFolder() + "/1.jpg", 400, 300, 0);  // held sideways: tag Up
    writeShot(cameraFolder() + "/2.jpg", 400, 300, 0);
    start(true);
    shoot();
    ImageView* ghost = m_camera->overlayImageView();
    QCOMPARE(ghost->geometry(), QRect(-53, 124, 426, 320));
    QCOMPARE(viewTransform(ghost).map(QPointF(1, 0)), QPointF(0, 1));
    m_camera->nextOverlay();
    waitForPreview();
    duo::test::renderAt2x(m_window.get()).save("capture-right-ghost.png");
  }

  // The capture as the pictures of the project show it: the bundled sample pair as the
  // camera's two frames, the right one framed over the left shot's ghost.
  void screenshotOfTheRightShotOverTheLeftGhost() {
    m_store->setBool(false, keys::kShowIntro);
    const QString sample = QFileInfo(QStringLiteral(__FILE__)).absolutePath() +
                           QStringLiteral("/../../resources/sample");
    for (const auto& [from, to] : {std::pair{"left.jpg", "1.jpg"}, std::pair{"right.jpg", "2.jpg"}}) {
      QFile::remove(cameraFolder() + '/' + to);
      QVERIFY(QFile::copy(sample + '/' + from, cameraFolder() + '/' + to));
    }
    start(true);
    shoot();
    QCOMPARE(title(), QString("Right Image"));
    QVERIFY(m_camera->overlayImageView());
    waitForPreview();
    duo::test::renderAt2x(m_window.get()).save("capture-right-sample.png");
  }

  void flashAndCameraButtonsOnlyForTheLeftShot() {
    m_store->setBool(false, keys::kShowIntro);
    m_store->setBool(false, keys::kFrontCameraOn);
    m_store->setBool(true, keys::kFlashOn);
    start(true, {true, true});
    QVERIFY(m_camera->flashButton() && m_camera->flashButton()->isVisible());
    QVERIFY(m_camera->cameraToggleButton() && m_camera->cameraToggleButton()->isVisible());
    QCOMPARE(picker()->cameraFlashMode(), int(ImagePickerController::kFlashOn));
    m_camera->flashButtonClick();
    QVERIFY(!m_store->boolForKey(keys::kFlashOn));
    QCOMPARE(picker()->cameraFlashMode(), int(ImagePickerController::kFlashOff));
    m_camera->cameraToggleButtonClick();  // the front camera has no flash
    QVERIFY(m_store->boolForKey(keys::kFrontCameraOn));
    QCOMPARE(picker()->cameraDevice(), int(ImagePickerController::kFrontCamera));
    QVERIFY(!m_camera->flashButton()->isVisible());
    m_camera->cameraToggleButtonClick();
    QVERIFY(m_camera->flashButton()->isVisible());
    shoot();
    QVERIFY(!m_camera->cameraToggleButton());
    QVERIFY(m_camera->flashButton() && !m_camera->flashButton()->isVisible());
    // A webcam-like camera has neither.
    m_window.reset();
    start(true);
    QVERIFY(!m_camera->flashButton() && !m_camera->cameraToggleButton());
  }

  void shutterTurnsWithTheDevice_data() {
    QTest::addColumn<int>("orientation");
    QTest::addColumn<double>("angle");
    QTest::newRow("portrait") << int(DeviceOrientation::Portrait) << 0.0;
    QTest::newRow("upside down") << int(DeviceOrientation::PortraitUpsideDown) << M_PI;
    QTest::newRow("landscape left") << int(DeviceOrientation::LandscapeLeft) << M_PI / 2;
    QTest::newRow("landscape right") << int(DeviceOrientation::LandscapeRight) << -M_PI / 2;
    QTest::newRow("face up") << int(DeviceOrientation::FaceUp) << 0.0;
    QTest::newRow("unknown") << int(DeviceOrientation::Unknown) << 0.0;
  }
  void shutterTurnsWithTheDevice() {
    QFETCH(int, orientation);
    QFETCH(double, angle);
    QCOMPARE(CameraViewController::shutterAngle(DeviceOrientation(orientation)), angle);
  }

  void pickerIsNeverPresentedTwice() {
    m_store->setBool(false, keys::kShowIntro);
    start(false);
    QPointer<QSImagePickerController> first = picker();
    m_camera->choosePhotosButtonClick();
    m_camera->launchCurrentPhotoMethod();
    QCOMPARE(picker(), first.data());
    QCOMPARE(m_camera->presentedViewController(), first.data());
    QVERIFY(m_camera->imagePickerIsDisplayed());
  }
};

QTEST_MAIN(CameraViewControllerTest)
#include "camera_view_controller_test.moc"
