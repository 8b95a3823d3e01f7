#include <QCameraDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>
#include <QtTest>

#include <cstring>

#include "qt_camera.h"

using namespace duo;

namespace {

QVideoFrame frameOf(QRgb colour) {
  // RGB32, as webcams' frames come: Qt 6.4's CPU conversion swaps red and blue of RGBX.
  QImage image(8, 6, QImage::Format_RGB32);
  image.fill(colour);
  QVideoFrame frame(QVideoFrameFormat(
      image.size(), QVideoFrameFormat::pixelFormatFromImageFormat(image.format())));
  if (!frame.map(QVideoFrame::WriteOnly)) return {};
  for (int y = 0; y < image.height(); ++y)
    std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), image.constScanLine(y),
                std::size_t(image.bytesPerLine()));
  frame.unmap();
  return frame;
}

}  // namespace

class QtCameraTest : public QObject {
  Q_OBJECT

 private slots:
  void systemCameraExistsOnlyWithAVideoInput() {
    QCOMPARE(makeSystemCamera() != nullptr, !QMediaDevices::videoInputs().isEmpty());
  }

  void missingDevicesAreUnavailableAndNothingWaitsForThem_data() {
    QTest::addColumn<bool>("followSystem");
    QTest::addColumn<QList<QCameraDevice>>("devices");
    QTest::newRow("system without inputs") << true << QList<QCameraDevice>();
    QTest::newRow("no devices") << false << QList<QCameraDevice>();
    QTest::newRow("null device") << false << QList<QCameraDevice>{QCameraDevice()};
  }
  void missingDevicesAreUnavailableAndNothingWaitsForThem() {
    QFETCH(bool, followSystem);
    QFETCH(QList<QCameraDevice>, devices);
    if (followSystem && !QMediaDevices::videoInputs().isEmpty()) QSKIP("this machine has a camera");
    const auto camera =
        followSystem ? std::make_unique<QtCamera>() : std::make_unique<QtCamera>(devices);
    QVERIFY(!camera->isAvailable());
    QVERIFY(!camera->isFlashAvailable(CameraDevice::Position::Rear));
    QVERIFY(!camera->isCameraDeviceAvailable(CameraDevice::Position::Front));
    QVERIFY(!camera->recordsDeviceTurn());

    int shots = 0;
    connect(camera.get(), &CameraDevice::shotTaken, this, [&] { ++shots; });
    connect(camera.get(), &CameraDevice::shotFailed, this, [&] { ++shots; });
    camera->start();
    if (camera->takePicture()) QTRY_COMPARE_WITH_TIMEOUT(shots, 1, QtCamera::kShotTimeoutMs + 2000);
    QTest::qWait(100);
    QVERIFY(shots <= 1);
    camera->stop();
    QVERIFY(!camera->isActive());
  }

  void previewKeepsOnlyTheNewestFrameAtABoundedRate() {
    QtCamera camera(QList<QCameraDevice>{});
    QSignalSpy previews(&camera, &CameraDevice::previewChanged);
    // A burst within one turn of the event loop shows once, as its last frame.
    for (int i = 0; i < 10; ++i) camera.videoSink()->setVideoFrame(frameOf(qRgb(20 * i, 0, 9)));
    QTRY_COMPARE(previews.count(), 1);
    QTest::qWait(3 * QtCamera::kFrameIntervalMs);
    QCOMPARE(previews.count(), 1);
    QCOMPARE(camera.previewFrame().pixel(4, 3), qRgb(180, 0, 9));

    // A stream far faster than the interval is thinned out, yet keeps updating.
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < 10 * QtCamera::kFrameIntervalMs) {
      camera.videoSink()->setVideoFrame(frameOf(qRgb(0, sent % 256, 0)));
      ++sent;
      QTest::qWait(2);
    }
    QTest::qWait(2 * QtCamera::kFrameIntervalMs);
    const int shown = int(previews.count()) - 1;
    QVERIFY2(shown >= 3 && shown <= clock.elapsed() / QtCamera::kFrameIntervalMs + 2,
             qPrintable(QString("%1 of %2 frames shown").arg(shown).arg(sent)));
    QCOMPARE(camera.previewFrame().pixel(4, 3), qRgb(0, (sent - 1) % 256, 0));
  }
};

QTEST_MAIN(QtCameraTest)
#include "qt_camera_test.moc"
