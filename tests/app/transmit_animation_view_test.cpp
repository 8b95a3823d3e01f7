#include <QtTest>

#include "run_loop.h"
#include "transmit_animation_view.h"

using namespace duo;

namespace {

/// The view drawn over black, without any background of its own.
QImage render(TransmitAnimationView& view) {
  QImage image(view.size(), QImage::Format_ARGB32);
  image.fill(Qt::black);
  view.render(&image, {}, {}, QWidget::RenderFlags());
  return image;
}

/// Pixels in `area` that the arcs' grey has reached.
int greyPixels(const QImage& image, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb pixel = image.pixel(x, y);
      if (qRed(pixel) > 8 && qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel)) ++count;
    }
  return count;
}

}  // namespace

class TransmitAnimationViewTest : public QObject {
  Q_OBJECT

  ManualClock m_clock;

 private slots:
  void init() { RunLoopClock::install(&m_clock); }
  void cleanup() { RunLoopClock::install(nullptr); }

  void drawsNothingUnlessRunning() {
    TransmitAnimationView view;
    view.resize(100, 100);
    QCOMPARE(greyPixels(render(view), view.rect()), 0);
    view.startAnimation(1);
    m_clock.advance(60 * TransmitAnimationView::kFrameInterval);
    QVERIFY(view.radius() > 50);  // the frames run on the run loop's clock
    QVERIFY(greyPixels(render(view), view.rect()) > 0);
    view.stopAnimation();
    QCOMPARE(greyPixels(render(view), view.rect()), 0);
    const float radius = view.radius();
    m_clock.advance(1);
    QCOMPARE(view.radius(), radius);
    QCOMPARE(greyPixels(render(view), view.rect()), 0);
  }

  void arcsFaceIntoTheViewFromTheirEdge_data() {
    QTest::addColumn<int>("direction");
    QTest::addColumn<float>("radiusAfterWrap");
    QTest::addColumn<QRect>("lit");   // inside the quarter circle that faces into the view
    QTest::addColumn<QRect>("dark");  // beside it, near the arcs' own edge
    QTest::newRow("outwards from the left edge") << 1 << 89.0f << QRect(68, 4, 14, 14)
                                                 << QRect(10, 4, 14, 14);
    QTest::newRow("inwards from the right edge") << -1 << -89.0f << QRect(18, 4, 14, 14)
                                                 << QRect(76, 4, 14, 14);
  }
  void arcsFaceIntoTheViewFromTheirEdge() {
    QFETCH(int, direction);
    QFETCH(float, radiusAfterWrap);
    QFETCH(QRect, lit);
    QFETCH(QRect, dark);
    TransmitAnimationView view;
    view.resize(100, 100);
    view.startAnimation(direction);
    // 101 points is past the far edge: the pattern steps back by one spacing.
    for (int frame = 0; frame < 101; ++frame) view.nextFrame();
    QCOMPARE(view.radius(), radiusAfterWrap);
    const QImage image = render(view);
    image.save(QStringLiteral("transmit-arcs-%1.png").arg(direction));  // for a look
    QVERIFY(greyPixels(image, lit) > 0);
    QCOMPARE(greyPixels(image, dark), 0);
  }
};

QTEST_MAIN(TransmitAnimationViewTest)
#include "transmit_animation_view_test.moc"
