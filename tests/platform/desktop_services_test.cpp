#include <QtTest>

#include "desktop_services.h"

using namespace duo;

class DesktopServicesTest : public QObject {
  Q_OBJECT

 private slots:
  void theMailAnswerComesQuicklyIsRememberedAndCanBeOverridden() {
    QElapsedTimer timer;
    timer.start();
    const bool real = canSendMail();  // whatever the desktop says, or without xdg-mime at all
    QVERIFY2(timer.elapsed() < 8000, qPrintable(QString::number(timer.elapsed())));
    timer.restart();
    QCOMPARE(canSendMail(), real);
    QVERIFY(timer.elapsed() < 100);  // remembered, not asked again

    for (bool answer : {true, false}) {
      setCanSendMailOverride(answer);
      QCOMPARE(canSendMail(), answer);
    }
    setCanSendMailOverride(std::nullopt);
    QCOMPARE(canSendMail(), real);
  }

  void theShortMessageComposerIsNeverAvailable() { QVERIFY(!isTwitterServiceAvailable()); }
};

QTEST_MAIN(DesktopServicesTest)
#include "desktop_services_test.moc"
