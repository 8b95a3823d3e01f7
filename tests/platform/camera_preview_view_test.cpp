#include <QPainter>
#include <QtTest>

#include "camera_preview_view.h"

using namespace duo;

namespace {

class StillCamera : public CameraDevice {
 public:
  void show(const QImage& frame, int tag) {
    m_frame = frame;
    m_tag = tag;
    emit previewChanged();
  }
  bool isAvailable() const override { return true; }
  bool isFlashAvailable(Position) const override { return false; }
  bool isCameraDeviceAvailable(Position p) const override { return p == Position::Rear; }
  void setFlashMode(FlashMode) override {}
  FlashMode flashMode() const override { return FlashMode::Off; }
  void setCameraDevice(Position) override {}
  Position cameraDevice() const override { return Position::Rear; }
  bool recordsDeviceTurn() const override { return true; }
  void start() override {}
  void stop() override {}
  bool isActive() const override { return true; }
  QImage previewFrame() const override { return m_frame; }
  int previewOrientationTag() const override { return m_tag; }
  bool takePicture() override { return false; }

 private:
  QImage m_frame;
  int m_tag = 0;
};

// Red first half, blue second half: along x when `acrossX`, else along y.
QImage halves(int width, int height, bool acrossX) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::blue);
  QPainter(&image).fillRect(
      acrossX ? QRect(0, 0, width / 2, height) : QRect(0, 0, width, height / 2), Qt::red);
  return image;
}

char colourAt(const QImage& image, int x, int y) {
  const QRgb p = image.pixel(x, y);
  if (qRed(p) > 200 && qBlue(p) < 60 && qGreen(p) < 60) return 'r';
  if (qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60) return 'b';
  if (qRed(p) < 30 && qGreen(p) < 30 && qBlue(p) < 30) return 'k';
  return '?';
}

QImage render(QWidget& view) {
  QImage out(view.size(), QImage::Format_RGB32);
  out.fill(Qt::green);
  view.render(&out);
  return out;
}

}  // namespace

class CameraPreviewViewTest : public QObject {
  Q_OBJECT

 private slots:
  // A portrait view filled by the picture: no bars above or below, the middle of the picture
  // in the middle, the tag applied first.
  void fillsTheViewWithTheUprightFrame_data() {
    QTest::addColumn<QImage>("stored");
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("corners");  // top left, bottom left, top right, bottom right
    const QImage wide = halves(40, 20, true), tall = halves(20, 40, false);
    QTest::newRow("Up") << wide << 0 << "rrbb";
    QTest::newRow("Down") << wide << 1 << "bbrr";
    QTest::newRow("UpMirrored") << wide << 4 << "bbrr";
    QTest::newRow("Left: top goes left") << tall << 2 << "rrbb";
    QTest::newRow("Right: top goes right") << tall << 3 << "bbrr";
    QTest::newRow("LeftMirrored: top goes left") << tall << 6 << "rrbb";
    QTest::newRow("invalid tag: as stored") << wide << 9 << "rrbb";
  }
  void fillsTheViewWithTheUprightFrame() {
    QFETCH(QImage, stored);
    QFETCH(int, tag);
    QFETCH(QString, corners);
    StillCamera camera;
    CameraPreviewView view;
    view.resize(40, 80);
    view.setCamera(&camera);
    QCOMPARE(colourAt(render(view), 20, 40), 'k');
    camera.show(stored, tag);
    const QImage out = render(view);
    const QString seen = QString(colourAt(out, 2, 2)) + colourAt(out, 2, 77) +
                         colourAt(out, 37, 2) + colourAt(out, 37, 77);
    QCOMPARE(seen, corners);
  }

  void placementTurnsThePictureAboutItsFrameCentre() {
    StillCamera camera;
    camera.show(halves(40, 20, true), 0);
    CameraPreviewView view;
    view.resize(40, 80);
    view.setCamera(&camera);
    view.setPlacement(QRectF(0, 10, 40, 40), QTransform().rotate(90));
    QImage out = render(view);
    // A quarter turn clockwise takes the red left half to the top; outside the frame is black.
    QCOMPARE(colourAt(out, 20, 14), 'r');
    QCOMPARE(colourAt(out, 20, 46), 'b');
    QCOMPARE(colourAt(out, 20, 5), 'k');
    QCOMPARE(colourAt(out, 20, 60), 'k');
    view.clearPlacement();
    out = render(view);
    QCOMPARE(colourAt(out, 2, 77), 'r');
    QCOMPARE(colourAt(out, 37, 2), 'b');
  }
};

QTEST_MAIN(CameraPreviewViewTest)
#include "camera_preview_view_test.moc"
