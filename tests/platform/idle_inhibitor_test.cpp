#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QtTest>

#include "idle_inhibitor.h"

using duo::IdleInhibitor;

namespace {

/// The desktop's screen saver as the test plays it: hands out cookies and records the calls.
class FakeScreenSaver : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  QStringList calls;
  QSet<uint> held;

 public slots:
  uint Inhibit(const QString& application, const QString& reason) {
    calls << QStringLiteral("Inhibit %1").arg(application);
    Q_UNUSED(reason);
    held.insert(++m_next);
    return m_next;
  }
  void UnInhibit(uint cookie) {
    calls << QStringLiteral("UnInhibit %1").arg(cookie);
    held.remove(cookie);
  }

 private:
  uint m_next = 40;
};

}  // namespace

class IdleInhibitorTest : public QObject {
  Q_OBJECT

  QProcess m_daemon;
  QString m_address;

  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(m_address, name);
  }
  /// A second connection plays the desktop, so calls really travel through the bus.
  bool registerScreenSaver(FakeScreenSaver& saver) {
    QDBusConnection desktop = connect(QStringLiteral("desktop"));
    return desktop.registerService(IdleInhibitor::kService) &&
           desktop.registerObject(IdleInhibitor::kPath, &saver, QDBusConnection::ExportAllSlots);
  }

 private slots:
  void initTestCase() {
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {"--session", "--print-address", "--nofork"});
    if (!m_daemon.waitForStarted()) QSKIP("dbus-daemon is not installed");
    QVERIFY(m_daemon.waitForReadyRead(5000));
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
  }
  void cleanupTestCase() {
    m_daemon.kill();
    m_daemon.waitForFinished();
  }
  void cleanup() {
    QDBusConnection desktop = connect(QStringLiteral("desktop"));
    desktop.unregisterObject(IdleInhibitor::kPath);
    desktop.unregisterService(IdleInhibitor::kService);
  }

  void inhibitsWhileDisabledAndReleasesTheSameCookie() {
    FakeScreenSaver saver;
    QVERIFY(registerScreenSaver(saver));
    IdleInhibitor inhibitor(connect(QStringLiteral("app")));
    inhibitor.setIdleTimerDisabled(true);
    inhibitor.setIdleTimerDisabled(true);  // no second request
    QTRY_VERIFY(inhibitor.isInhibiting());
    QCOMPARE(saver.calls, QStringList{"Inhibit idle_inhibitor_test"});
    inhibitor.setIdleTimerDisabled(false);
    QTRY_COMPARE(saver.calls.size(), 2);
    QCOMPARE(saver.calls.last(), QStringLiteral("UnInhibit 41"));
    QVERIFY(saver.held.isEmpty());
    QVERIFY(!inhibitor.isInhibiting());
  }

  void aCookieArrivingAfterTheReleaseIsGivenBack() {
    FakeScreenSaver saver;
    QVERIFY(registerScreenSaver(saver));
    IdleInhibitor inhibitor(connect(QStringLiteral("app")));
    inhibitor.setIdleTimerDisabled(true);
    inhibitor.setIdleTimerDisabled(false);  // the answer can only come once the loop runs
    QTRY_COMPARE(saver.calls.size(), 2);
    QCOMPARE(saver.calls.last(), QStringLiteral("UnInhibit 41"));
    QVERIFY(saver.held.isEmpty());
    QVERIFY(!inhibitor.isInhibiting());
  }

  void destroyingTheSwitchReleasesItsInhibition() {
    FakeScreenSaver saver;
    QVERIFY(registerScreenSaver(saver));
    {
      IdleInhibitor inhibitor(connect(QStringLiteral("app")));
      inhibitor.setIdleTimerDisabled(true);
      QTRY_VERIFY(inhibitor.isInhibiting());
    }
    QTRY_VERIFY(saver.held.isEmpty());
  }

  void withoutTheServiceOrABusNothingHappens() {
    IdleInhibitor noService(connect(QStringLiteral("app")));
    noService.setIdleTimerDisabled(true);
    QTest::qWait(200);
    QVERIFY(!noService.isInhibiting());
    QVERIFY(noService.isIdleTimerDisabled());
    noService.setIdleTimerDisabled(false);

    IdleInhibitor noBus(QDBusConnection(QStringLiteral("never-connected")));
    noBus.setIdleTimerDisabled(true);
    QVERIFY(!noBus.isInhibiting());
    noBus.setIdleTimerDisabled(false);
  }
};

QTEST_GUILESS_MAIN(IdleInhibitorTest)
#include "idle_inhibitor_test.moc"
