#include <QtTest>

#include "qs_features.h"

using duo::QSEdgeInsets;
using duo::QSFeatures;

class QSFeaturesTest : public QObject {
  Q_OBJECT

 private slots:
  void readsTheMachineAndCountsAsASevenOrLaterPhone() {
    // The real classification, before any test replaces it.
    QVERIFY(!QSFeatures::platform().empty());
    QVERIFY(QSFeatures::isIOS7OrLater());
    QVERIFY(!QSFeatures::isTablet());
  }

  void modelTableMatchesExactly() {
    QCOMPARE(QSFeatures::descriptionForModel("iPhone3,3"),
             std::optional<std::string_view>("Verizon iPhone 4"));
    QCOMPARE(QSFeatures::descriptionForModel("iPad2,4"),
             std::optional<std::string_view>("iPad 2 (WiFi)"));
    QCOMPARE(QSFeatures::descriptionForModel("x86_64"),
             std::optional<std::string_view>("Simulator"));
    QCOMPARE(QSFeatures::descriptionForModel("iPod5,1"),
             std::optional<std::string_view>("iPod Touch 5G"));
    QVERIFY(!QSFeatures::descriptionForModel("iPhone3,2"));
    QVERIFY(!QSFeatures::descriptionForModel("iphone3,1"));
    QVERIFY(!QSFeatures::descriptionForModel("aarch64"));
  }

  void iPhone4IsDecidedByThePrefixAlone() {
    QSFeatures::setEnvironment({"iPhone3,2", 7, false});  // not in the table
    QVERIFY(QSFeatures::deviceIsIPhone4());
    QVERIFY(!QSFeatures::platformDescription());
    QVERIFY(!QSFeatures::showGraphicElementAnimations());
    QSFeatures::setEnvironment({"iPhone", 7, false});  // shorter than 7 characters
    QVERIFY(!QSFeatures::deviceIsIPhone4());
    QSFeatures::setEnvironment({"i386", 6, false});
    QVERIFY(!QSFeatures::deviceIsIPhone4());
    QCOMPARE(QSFeatures::platformDescription(), std::optional<std::string_view>("Simulator"));
  }

  void versionAndFormFactorSwitches() {
    QSFeatures::setEnvironment({"iPhone4,1", 6, false});
    QVERIFY(QSFeatures::showDocumentShadow());
    QVERIFY(QSFeatures::showRadialMenuShadow());
    QCOMPARE(QSFeatures::slidingPanelAlpha(), 1.0);
    QCOMPARE(QSFeatures::slidingPanelCornerRadius(), 5.0);
    QCOMPARE(QSFeatures::slidingPanelOpposingEdgeInset(), 2.0);
    QVERIFY(QSFeatures::configurationViewTableEdgeInsets() == (QSEdgeInsets{5, 0, 0, 0}));
    QVERIFY(QSFeatures::configurationViewCollectionEdgeInsets() == (QSEdgeInsets{22, 22, 22, 22}));

    QSFeatures::setTablet(true);
    QCOMPARE(QSFeatures::slidingPanelOpposingEdgeInset(), 10.0);

    QSFeatures::setEnvironment({"iPhone3,1", 6, false});
    QVERIFY(!QSFeatures::showRadialMenuShadow());  // an iPhone 4 never gets the shadows
    QVERIFY(!QSFeatures::showSlidingPanelShadows());

    QSFeatures::setEnvironment({"x86_64", 7, false});
    QVERIFY(!QSFeatures::showDocumentShadow());
    QCOMPARE(QSFeatures::slidingPanelAlpha(), 0.97);
    QCOMPARE(QSFeatures::slidingPanelCornerRadius(), 0.0);
    QCOMPARE(QSFeatures::slidingPanelOpposingEdgeInset(), -1.0);
    QVERIFY(QSFeatures::configurationViewTableEdgeInsets() == (QSEdgeInsets{47, 0, 0, 0}));
    QVERIFY(QSFeatures::configurationViewCollectionEdgeInsets() == (QSEdgeInsets{86, 22, 22, 22}));
    QSFeatures::setTablet(true);
    QVERIFY(QSFeatures::configurationViewTableEdgeInsets() == (QSEdgeInsets{27, 0, 0, 0}));
    QVERIFY(QSFeatures::configurationViewCollectionEdgeInsets() == (QSEdgeInsets{66, 22, 22, 22}));
    QCOMPARE(QSFeatures::navigationControllerBarStyle(), 1);
  }
};

QTEST_GUILESS_MAIN(QSFeaturesTest)
#include "qs_features_test.moc"
