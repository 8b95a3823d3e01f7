#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include "screenshot.h"
#include "camera_app_delegate.h"
#include "image_view.h"
#include "plain_root_view_controller.h"
#include "run_loop.h"
#include "screen.h"
#include "settings_keys.h"
#include "settings_store.h"
#include "view_animation.h"
#include "view_controller.h"

using namespace duo;

class CameraAppDelegateTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;
  QTemporaryDir m_dir;
  QString settingsPath() const { return m_dir.filePath("settings.json"); }

 private slots:
  void init() {
    RunLoopClock::install(&m_clock);
    MainScreen::setSize({320, 568, false});
    QFile::remove(settingsPath());
  }
  void cleanup() {
    m_clock.advance(5);
    RunLoopClock::install(nullptr);
    MainScreen::setSize({320, 568, false});
  }

  void splashPictureIsDrawnForTheScreen_data() {
    QTest::addColumn<ScreenSize>("screen");
    QTest::addColumn<QString>("name");
    QTest::newRow("phone") << ScreenSize{320, 480, false} << "Default.png";
    QTest::newRow("phone-tall") << ScreenSize{320, 568, false} << "Default-568h.png";
    QTest::newRow("tablet") << ScreenSize{768, 1024, true} << "Default-Portrait.png";
  }
  void splashPictureIsDrawnForTheScreen() {
    QFETCH(ScreenSize, screen);
    QFETCH(QString, name);
    MainScreen::setSize(screen);
    QCOMPARE(CameraAppDelegate::splashImageName(), name);
    // The picture is drawn for exactly this screen, so filling the window stretches nothing.
    SettingsStore store(settingsPath());
    CameraAppDelegate delegate(store);
    delegate.applicationDidFinishLaunching(new PlainRootViewController);
    QCOMPARE(delegate.splashScreen()->imagePointSize(), QSizeF(screen.width, screen.height));
    QCOMPARE(delegate.splashScreen()->geometry(), QRect(0, 0, screen.width, screen.height));
    QVERIFY(duo::test::renderAt2x(delegate.window())
                .save(QStringLiteral("splash-%1.png").arg(QTest::currentDataTag())));
  }

  void startUpRegistersDefaultsHoldsTheSplashAndFadesToTheRoot() {
    SettingsStore store(settingsPath());
    CameraAppDelegate delegate(store);
    QCOMPARE(CameraAppDelegate::shared(), &delegate);
    auto* root = new PlainRootViewController;
    QVERIFY(delegate.applicationDidFinishLaunching(root, QDateTime::fromSecsSinceEpoch(1000)));
    QVERIFY(store.objectForKey(keys::kColorMethod).isValid());
    QCOMPARE(store.objectForKey(keys::kLastRatingDate).toDateTime(), QDateTime::fromSecsSinceEpoch(1000));

    QPointer<ImageView> splash = delegate.splashScreen();
    QVERIFY(splash);
    QCOMPARE(splash->geometry(), delegate.window()->rect());
    QCOMPARE(splash->imagePointSize(), QSizeF(320, 568));
    QCOMPARE(viewAlpha(root->view()), 0.0);
    duo::test::renderAt2x(delegate.window()).save("splash.png");

    m_clock.advance(0.74);  // still held
    QCOMPARE(viewAlpha(splash), 1.0);
    m_clock.advance(0.2);  // fading
    QVERIFY(splash && viewAlpha(splash) < 1.0 && viewAlpha(splash) > 0.0);
    m_clock.advance(0.25);  // 0.75 + 0.4 passed: splash gone, root fading in
    QVERIFY(splash.isNull());
    QVERIFY(viewAlpha(root->view()) < 1.0);
    m_clock.advance(0.45);
    QCOMPARE(viewAlpha(root->view()), 1.0);
    duo::test::renderAt2x(delegate.window()).save("root-screen.png");
  }

  void busyOverlaySitsAboveTheCentreOnBothPhoneHeights() {
    for (const int height : {480, 568}) {
      MainScreen::setSize({320, height, false});
      SettingsStore store(settingsPath());
      CameraAppDelegate delegate(store);
      delegate.applicationDidFinishLaunching(new PlainRootViewController);
      m_clock.advance(2);
      delegate.dimScreen(" Processing images...");
      const int spinnerY = int((height - 37) * 0.5 - 20);
      QCOMPARE(delegate.activityIndicatorView()->geometry(), QRect(141, spinnerY, 37, 37));
      QVERIFY(delegate.activityIndicatorView()->isAnimating());
      QCOMPARE(delegate.messageLabel()->geometry(), QRect(20, spinnerY + 37 + 10, 280, 30));
      QCOMPARE(static_cast<QLabel*>(delegate.messageLabel())->text(), QString(" Processing images..."));
      QCOMPARE(delegate.dimView()->geometry(), QRect(0, 0, 320, height));
      QCOMPARE(viewAlpha(delegate.dimView()), 0.0);  // only the dimming fades in
      QVERIFY(!delegate.dimView()->testAttribute(Qt::WA_TransparentForMouseEvents));
      m_clock.advance(0.35);
      QCOMPARE(viewAlpha(delegate.dimView()), 0.8);
      if (height == 568) duo::test::renderAt2x(delegate.window()).save("busy-overlay.png");
      delegate.unDimScreen();
      m_clock.advance(0.35);
    }
  }

  void unDimRemovesSpinnerAndMessageAtOnceAndFadesTheDimming() {
    SettingsStore store(settingsPath());
    CameraAppDelegate delegate(store);
    delegate.applicationDidFinishLaunching(new PlainRootViewController);
    m_clock.advance(2);
    delegate.unDimScreen();  // nothing shown: nothing happens
    QVERIFY(!delegate.dimView());

    delegate.dimScreen("Working");
    delegate.unDimScreen();
    QVERIFY(!delegate.messageLabel());
    QVERIFY(!delegate.activityIndicatorView());
    QPointer<QWidget> dim = delegate.dimView();
    QVERIFY(dim);
    m_clock.advance(0.15);
    QVERIFY(dim);
    m_clock.advance(0.2);
    QVERIFY(dim.isNull());

    // A new overlay during the fade-out of the last one is not taken down by that fade's end.
    delegate.dimScreen("First");
    m_clock.advance(0.3);
    delegate.unDimScreen();
    m_clock.advance(0.1);
    delegate.dimScreen("Second");
    m_clock.advance(0.5);
    QVERIFY(delegate.dimView());
    QCOMPARE(viewAlpha(delegate.dimView()), 0.8);
    QVERIFY(delegate.messageLabel());
  }
};

QTEST_MAIN(CameraAppDelegateTest)
#include "camera_app_delegate_test.moc"
