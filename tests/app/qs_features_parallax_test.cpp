#include <QtTest>

#include <QWidget>

#include "qs_features.h"

using duo::QSFeatures;
using duo::QSMotionEffect;
using duo::QSMotionEffectGroup;

class QSFeaturesParallaxTest : public QObject {
  Q_OBJECT

 private slots:
  void versionSixLeavesTheViewAlone() {
    QSFeatures::setEnvironment({"iPhone4,1", 6, false});
    QWidget view;
    QSFeatures::addParallaxToView(&view, 15);
    QVERIFY(view.children().isEmpty());
    QVERIFY(!QSMotionEffectGroup::groupOfView(&view));
    QSFeatures::addParallaxToView(nullptr, 15);  // harmless
  }

  void versionSevenAddsOneGroupOfTwoTiltEffects() {
    QSFeatures::setEnvironment({"iPhone5,1", 7, false});
    QWidget view;
    QSFeatures::addParallaxToView(&view, 15);
    const QSMotionEffectGroup* group = QSMotionEffectGroup::groupOfView(&view);
    QVERIFY(group);
    const std::vector<QSMotionEffect> expected = {
        {"center.x", QSMotionEffect::Axis::TiltAlongHorizontalAxis, -15, 15},
        {"center.y", QSMotionEffect::Axis::TiltAlongVerticalAxis, -15, 15},
    };
    QVERIFY(group->motionEffects() == expected);

    // Asking again replaces the parallax rather than stacking a second one.
    QSFeatures::addParallaxToView(&view, 8);
    QCOMPARE(view.findChildren<QSMotionEffectGroup*>().size(), 1);
    QCOMPARE(QSMotionEffectGroup::groupOfView(&view)->motionEffects()[1].minimumRelativeValue,
             -8.0);

    // The group belongs to its view and goes with it; nothing shows on screen.
    QWidget child(&view);
    QSFeatures::addParallaxToView(&child, 4);
    QCOMPARE(view.findChildren<QSMotionEffectGroup*>().size(), 2);
    QCOMPARE(QSMotionEffectGroup::groupOfView(&view)->motionEffects()[0].maximumRelativeValue, 8.0);
  }
};

QTEST_MAIN(QSFeaturesParallaxTest)
#include "qs_features_parallax_test.moc"
