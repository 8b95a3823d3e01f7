#include <QtTest>

#include <QPainter>
#include <QScrollBar>

#include "large_output_window.h"
#include "run_loop.h"

using duo::LargeOutputWindow;

namespace {

/// A grey output with a red and a cyan disc, like an anaglyph of a ball.
QImage anaglyphLike(QSize size) {
  QImage image(size, QImage::Format_RGBX8888);
  image.fill(QColor(90, 90, 90));
  QPainter painter(&image);
  painter.setPen(Qt::NoPen);
  const double r = std::min(size.width(), size.height()) / 3.0;
  const QPointF middle(size.width() / 2.0, size.height() / 2.0);
  painter.setCompositionMode(QPainter::CompositionMode_Plus);
  painter.setBrush(QColor(160, 0, 0));
  painter.drawEllipse(middle - QPointF(r / 5, 0), r, r);
  painter.setBrush(QColor(0, 160, 160));
  painter.drawEllipse(middle + QPointF(r / 5, 0), r, r);
  return image;
}

void showAt(LargeOutputWindow& window, QSize size) {
  window.show();
  window.resize(size);
  QVERIFY(QTest::qWaitForWindowExposed(&window));
}

/// The output pixel under a viewport point.
QPointF pixelAt(const LargeOutputWindow& window, QPointF point) {
  return (point - window.imageRect().topLeft()) * window.devicePixelRatioF() / window.scale();
}

void wheel(LargeOutputWindow& window, QPointF at, int angle) {
  QWheelEvent event(at, window.viewport()->mapToGlobal(at), {}, QPoint(0, angle), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(window.viewport(), &event);
}

}  // namespace

class LargeOutputWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void fitShowsTheWholeOutputCentredOnBlack_data() {
    QTest::addColumn<QSize>("output");
    QTest::addColumn<double>("scale");  // device pixels per output pixel, at 2 per point
    QTest::addColumn<QRectF>("rect");   // in a 400 x 300 point window
    QTest::newRow("wide") << QSize(1600, 400) << 0.5 << QRectF(0, 100, 400, 100);
    QTest::newRow("tall") << QSize(300, 1200) << 0.5 << QRectF(162.5, 0, 75, 300);
    QTest::newRow("small, enlarged") << QSize(100, 50) << 8.0 << QRectF(0, 50, 400, 200);
  }
  void fitShowsTheWholeOutputCentredOnBlack() {
    QFETCH(QSize, output);
    QFETCH(double, scale);
    QFETCH(QRectF, rect);
    LargeOutputWindow window;
    window.setOutput("Color Anaglyph", {anaglyphLike(output)}, 0);
    showAt(window, QSize(400, 300));
    QCOMPARE(window.windowTitle(), QString("Color Anaglyph"));
    QVERIFY(window.isFitMode());
    QCOMPARE(window.scale(), scale);
    QCOMPARE(window.imageRect(), rect);

    const QImage grab = window.grab().toImage();
    if (QTest::currentDataTag() == QByteArray("wide")) grab.save("large-output.png");
    // Grey just inside each edge of the output, black just outside where the window shows it.
    const QRect device(rect.x() * 2, rect.y() * 2, rect.width() * 2, rect.height() * 2);
    const QPoint c = device.center();
    for (const QPoint inside :
         {QPoint(device.left() + 1, c.y()), QPoint(device.right() - 1, c.y()),
          QPoint(c.x(), device.top() + 1), QPoint(c.x(), device.bottom() - 1)})
      QCOMPARE(QColor(grab.pixel(inside)), QColor(90, 90, 90));
    for (const QPoint outside : {QPoint(device.left() - 2, c.y()), QPoint(c.x(), device.top() - 2)})
      if (grab.rect().contains(outside)) QCOMPARE(QColor(grab.pixel(outside)), QColor(Qt::black));
  }

  void actualSizePutsEachOutputPixelOnOneDevicePixelAndDragPans() {
    QImage output(600, 400, QImage::Format_RGB32);
    for (int y = 0; y < output.height(); ++y)
      for (int x = 0; x < output.width(); ++x)
        output.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256));
    LargeOutputWindow window;
    window.setOutput("Stereogram", {output}, 0);
    showAt(window, QSize(200, 150));
    wheel(window, QPointF(37, 23), 50);  // so that actual size lands between device pixels
    QTest::keyClick(&window, Qt::Key_1);
    QVERIFY(!window.isFitMode());
    QCOMPARE(window.scale(), 1.0);
    QTRY_VERIFY(window.horizontalScrollBar()->isVisible());  // laid out from the event loop

    const QImage grab = window.viewport()->grab().toImage();
    const QPoint origin = (window.imageRect().topLeft() * 2).toPoint();
    QVERIFY(origin.x() < 0 && origin.y() < 0);  // centred, so scrolled into the middle
    for (int y = 0; y < grab.height(); ++y)
      for (int x = 0; x < grab.width(); ++x)
        QCOMPARE(grab.pixel(x, y), output.pixel(x - origin.x(), y - origin.y()));

    const QPointF before = window.imageRect().topLeft();
    QTest::mousePress(window.viewport(), Qt::LeftButton, {}, QPoint(100, 70));
    QTest::mouseMove(window.viewport(), QPoint(130, 90));
    QTest::mouseRelease(window.viewport(), Qt::LeftButton, {}, QPoint(130, 90));
    QCOMPARE(window.imageRect().topLeft(), before + QPointF(30, 20));
  }

  void wheelZoomsAroundThePointer_data() {
    QTest::addColumn<int>("angle");
    QTest::newRow("one notch in") << 120;
    QTest::newRow("one notch out") << -120;
    QTest::newRow("half a notch in") << 60;
    QTest::newRow("far in, stops at the limit") << 120 * 60;
  }
  void wheelZoomsAroundThePointer() {
    QFETCH(int, angle);
    LargeOutputWindow window;
    window.setOutput("Color Anaglyph", {anaglyphLike({1600, 1200})}, 0);
    showAt(window, QSize(400, 300));
    QTest::keyClick(&window, Qt::Key_1);  // larger than the window both ways, so nothing is centred
    const QPointF pointer(100, 80);
    const QPointF pixel = pixelAt(window, pointer);
    wheel(window, pointer, angle);
    QVERIFY(angle > 0 ? window.scale() > 1 : window.scale() < 1);
    QVERIFY(window.scale() <= 32);
    if (angle > 120 * 10) QCOMPARE(window.scale(), 32.0);
    QCOMPARE(pixelAt(window, pointer), pixel);
  }

  void keysToggleFullScreenAndEscapeCloses() {
    LargeOutputWindow window;
    window.setOutput("Color Anaglyph", {anaglyphLike({400, 300})}, 0);
    showAt(window, QSize(400, 300));
    QTest::keyClick(&window, Qt::Key_F);
    QVERIFY(window.windowState() & Qt::WindowFullScreen);
    QTest::keyClick(&window, Qt::Key_F11);
    QVERIFY(!(window.windowState() & Qt::WindowFullScreen));
    QTest::mouseDClick(window.viewport(), Qt::LeftButton);
    QVERIFY(window.windowState() & Qt::WindowFullScreen);
    QTest::keyClick(&window, Qt::Key_Escape);  // closes from full screen too
    QVERIFY(!window.isVisible());
  }

  void framesAlternateWhileShown_data() {
    QTest::addColumn<int>("frames");
    QTest::addColumn<double>("cycle");
    QTest::newRow("wigglegram") << 2 << 0.2;
    QTest::newRow("three frames") << 3 << 0.6;
  }
  void framesAlternateWhileShown() {
    QFETCH(int, frames);
    QFETCH(double, cycle);
    duo::ManualClock clock;
    duo::RunLoopClock::install(&clock);
    auto restore = qScopeGuard([] { duo::RunLoopClock::install(nullptr); });
    const QColor colours[] = {Qt::red, Qt::cyan, Qt::yellow};
    std::vector<QImage> images;
    for (int i = 0; i < frames; ++i) {
      images.emplace_back(40, 30, QImage::Format_RGB32);
      images.back().fill(colours[i]);
    }
    LargeOutputWindow window;
    window.setOutput("Wigglegram", images, cycle);
    showAt(window, QSize(400, 300));
    const double step = cycle / frames;
    for (int shown = 0; shown <= frames; ++shown) {
      QCOMPARE(window.currentFrame(), shown % frames);
      QCOMPARE(QColor(window.viewport()->grab().toImage().pixel(400, 300)),
               colours[shown % frames]);
      clock.advance(step * 0.9);
      QCOMPARE(window.currentFrame(), shown % frames);
      clock.advance(step * 0.1);
    }
    window.hide();
    clock.advance(step);
    QCOMPARE(window.currentFrame(), 1 % frames);
  }

  void noFramesShowBlackAndIgnoreZooming() {
    LargeOutputWindow window;
    window.setOutput("Color Anaglyph", {anaglyphLike({400, 300})}, 0);
    showAt(window, QSize(300, 200));
    window.setOutput("Nothing yet", {QImage()}, 0.2);
    QCOMPARE(window.frameCount(), 0);
    QVERIFY(window.imageRect().isEmpty());
    QTest::keyClick(&window, Qt::Key_1);
    QTest::keyClick(&window, Qt::Key_Plus);
    wheel(window, QPointF(50, 50), 120);
    QVERIFY(window.isFitMode());
    const QImage grab = window.grab().toImage();
    for (const QPoint p : {QPoint(0, 0), QPoint(300, 200), QPoint(599, 399)})
      QCOMPARE(QColor(grab.pixel(p)), QColor(Qt::black));
  }
};

int main(int argc, char** argv) {
  // Two device pixels per point, so that actual size and one pixel per point differ.
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  LargeOutputWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "large_output_window_test.moc"
