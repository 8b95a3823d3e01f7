#include <QtTest>

#include "vignette_view.h"

using duo::VignetteView;

class VignetteViewTest : public QObject {
  Q_OBJECT

 private slots:
  void newViewDrawsNothingAndTypeOneDarkensTheEdges() {
    QWidget screen;
    screen.resize(320, 480);
    screen.setStyleSheet("background: white");
    VignetteView vignette(&screen);
    vignette.resize(320, 480);
    QCOMPARE(vignette.type(), 0);
    QCOMPARE(vignette.innerOpacity(), 0.0f);
    QCOMPARE(vignette.outerOpacity(), 0.0f);

    QImage grab = screen.grab().toImage();
    QCOMPARE(QColor(grab.pixel(0, 0)), QColor(Qt::white));

    vignette.setType(1);
    QCOMPARE(vignette.outerOpacity(), 0.75f);
    grab = screen.grab().toImage();
    grab.save(QStringLiteral("vignette-type1.png"));             // for a look, in the build folder
    QCOMPARE(QColor(grab.pixel(160, 240)), QColor(Qt::white));   // clear middle
    QVERIFY(qAbs(qRed(grab.pixel(0, 0)) - 64) <= 2);             // 75 % black corners
    QVERIFY(qRed(grab.pixel(160, 5)) > qRed(grab.pixel(0, 0)));  // a ramp towards the sides
    QVERIFY(qRed(grab.pixel(160, 5)) < 255);
  }

  void otherTypesKeepTheOpacities() {
    VignetteView vignette;
    vignette.setType(1);
    vignette.setType(5);
    QCOMPARE(vignette.type(), 5);
    QCOMPARE(vignette.innerOpacity(), 0.0f);
    QCOMPARE(vignette.outerOpacity(), 0.75f);
    vignette.setType(2);
    QCOMPARE(vignette.innerOpacity(), 0.65f);
  }
};

QTEST_MAIN(VignetteViewTest)
#include "vignette_view_test.moc"
