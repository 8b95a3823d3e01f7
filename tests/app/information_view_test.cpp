#include <QtTest>

#include "information_view.h"
#include "run_loop.h"
#include "screen.h"
#include "url_opener.h"
#include "view_animation.h"

using namespace duo;

class InformationViewTest : public QObject {
  Q_OBJECT

  ManualClock m_clock;

 private slots:
  void init() { RunLoopClock::install(&m_clock); }
  void cleanup() {
    m_clock.advance(5);
    RunLoopClock::install(nullptr);
    setURLOpenerForTesting({});
    MainScreen::setSize({320, 568, false});
  }

  void filmHasFiftyEightPicturesInItsRuns() {
    const auto names = InformationView::animationFrameNames();
    QCOMPARE(names.size(), std::size_t(58));
    const std::vector<std::pair<int, QString>> checks = {
        {0, "AnimationA00"},  {4, "AnimationA00"},  {5, "AnimationA05"},  {11, "AnimationA11"},
        {12, "AnimationA12"}, {17, "AnimationA12"}, {18, "AnimationA18"}, {30, "AnimationA30"},
        {31, "AnimationA31"}, {35, "AnimationA31"}, {36, "AnimationA36"}, {42, "AnimationA42"},
        {43, "AnimationA43"}, {57, "AnimationA43"}};
    for (const auto& [position, name] : checks) QCOMPARE(names[position], name);
  }

  void layoutFollowsTheScreenHeight_data() {
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("buttonTop");
    QTest::newRow("480") << 480 << 417;
    QTest::newRow("568") << 568 << 505;
  }
  void layoutFollowsTheScreenHeight() {
    QFETCH(int, height);
    QFETCH(int, buttonTop);
    MainScreen::setSize({320, height, false});
    QWidget host;
    host.resize(320, height);
    auto* intro = new InformationView(QRect(0, 0, 320, height), &host);
    QCOMPARE(viewAlpha(intro), 0.0);
    QCOMPARE(intro->moreButton()->geometry(), QRect(21, buttonTop, 137, 43));
    QCOMPARE(intro->continueButton()->geometry(), QRect(162, buttonTop, 137, 43));
    const QRect picture = intro->informationImageView()->geometry();
    QVERIFY(!intro->informationImageView()->image().isNull());
    QCOMPARE(picture.center().x(), 159);  // centred on the 320-point width
    QVERIFY(qAbs(picture.center().y() - buttonTop / 2) <= 1);
    QCOMPARE(intro->animationAImageView()->geometry(), QRect(216, picture.y() + 111, 77, 121));
    QVERIFY(intro->animationAImageView()->isAnimating());
    QCOMPARE(intro->animationAImageView()->animationDuration(), 7.0);
    QVERIFY(std::none_of(intro->animationAImageView()->animationImages().begin(),
                         intro->animationAImageView()->animationImages().end(),
                         [](const QImage& frame) { return frame.isNull(); }));
  }

  void moreLeavesTheIntroUpAndContinueTellsOnceFadedOut() {
    QWidget host;
    host.resize(320, 568);
    QPointer<InformationView> intro = new InformationView(QRect(0, 0, 320, 568), &host);
    QStringList opened;
    setURLOpenerForTesting([&](const QUrl& url) {
      opened << url.toString();
      return true;
    });
    int told = 0;
    intro->setCallback([&](InformationView* view) {
      ++told;
      QCOMPARE(view, intro.data());
      QVERIFY(!view->parentWidget());  // already taken down when told
    });
    intro->show();
    m_clock.advance(0.35);
    QCOMPARE(viewAlpha(intro), 1.0);
    intro->moreButtonClick();
    intro->moreButtonClick();
    QCOMPARE(opened.size(), 2);
    QVERIFY(QUrl(opened[0]).scheme().startsWith("http"));
    QVERIFY(intro->animationAImageView()->isAnimating());

    intro->continueButtonClick();
    intro->continueButtonClick();  // a second click while fading changes nothing
    m_clock.advance(0.2);
    QCOMPARE(told, 0);
    m_clock.advance(0.15);
    QCOMPARE(told, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(intro.isNull());
  }

  void withoutCallbackItStillGoes() {
    QWidget host;
    QPointer<InformationView> intro = new InformationView(QRect(0, 0, 320, 568), &host);
    intro->show();
    m_clock.advance(0.3);
    intro->continueButtonClick();
    m_clock.advance(0.35);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(intro.isNull());
    QVERIFY(host.findChildren<QWidget*>().isEmpty());
  }
};

QTEST_MAIN(InformationViewTest)
#include "information_view_test.moc"
