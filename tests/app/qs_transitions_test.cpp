#include <QtTest>

#include "qs_transitions.h"
#include "run_loop.h"
#include "app_window.h"
#include "navigation_controller.h"
#include "view_controller.h"

using namespace duo;

namespace {

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class Page : public ViewController {
 public:
  using ViewController::ViewController;
  int appeared = 0;

 protected:
  void viewDidAppear(bool) override { ++appeared; }
};

}  // namespace

class QSTransitionsTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;
  int m_pushes = 0;
  int m_pops = 0;

  void useToolkitTransitions(NavigationController* navigation) {
    navigation->setTransitionProvider([this](NavigationController::Operation op, ViewController*,
                                             ViewController*) -> AnimatedTransitioning* {
      if (op == NavigationController::Operation::Push) {
        ++m_pushes;
        return new QSViewControllerPushTransition;
      }
      ++m_pops;
      return new QSViewControllerPopTransition;
    });
  }

 private slots:
  void init() {
    RunLoopClock::install(&m_clock);
    m_pushes = m_pops = 0;
  }
  void cleanup() {
    m_clock.advance(5);
    flushDeletes();
    RunLoopClock::install(nullptr);
  }

  void pushSlidesTheNewScreenInFromTheRight() {
    AppWindow window;
    auto* first = new Page;
    auto* navigation = new NavigationController(first, &window);
    window.setRootViewController(navigation);
    useToolkitTransitions(navigation);
    QWidget* container = first->view()->parentWidget();
    const QRect home = first->view()->geometry();
    const int w = home.width();

    auto* second = new Page;
    navigation->pushViewController(second, true);
    QCOMPARE(m_pushes, 1);
    QCOMPARE(second->view()->parentWidget(), container);
    QCOMPARE(second->view()->geometry(), home.translated(w, 0));

    // Half-way the two screens are still side by side, each part-way across.
    m_clock.advance(0.15);
    const QRect incoming = second->view()->geometry();
    const QRect outgoing = first->view()->geometry();
    QVERIFY2(incoming.x() > 0 && incoming.x() < w, qPrintable(QString::number(incoming.x())));
    QCOMPARE(outgoing.x(), incoming.x() - w);
    QCOMPARE(outgoing.y(), home.y());
    QCOMPARE(first->view()->parentWidget(), container);
    QVERIFY(navigation->isTransitioning());

    m_clock.advance(0.13);  // 0.28 s: not over yet
    QVERIFY(navigation->isTransitioning());
    m_clock.advance(0.05);
    QVERIFY(!navigation->isTransitioning());
    QCOMPARE(second->view()->geometry(), home);
    QCOMPARE(second->appeared, 1);
    QCOMPARE(navigation->topViewController(), second);
    QVERIFY(!first->view()->parentWidget());  // the outgoing view left the container
    QVERIFY(!first->view()->isVisible());
  }

  void popSlidesTheReturningScreenInFromTheLeft() {
    AppWindow window;
    auto* first = new Page;
    auto* navigation = new NavigationController(first, &window);
    window.setRootViewController(navigation);
    useToolkitTransitions(navigation);
    const QRect home = first->view()->geometry();
    const int w = home.width();
    QPointer<Page> second = new Page;
    navigation->pushViewController(second, true);
    m_clock.advance(0.4);
    QWidget* container = second->view()->parentWidget();
    const int appearedBefore = first->appeared;

    navigation->popViewController(true);
    QCOMPARE(m_pops, 1);
    QCOMPARE(first->view()->parentWidget(), container);
    QCOMPARE(first->view()->geometry(), home.translated(-w, 0));

    // The returning screen follows the leaving one all the way, never left behind off-screen.
    for (int step = 1; step <= 4; ++step) {
      m_clock.advance(0.1);
      const QRect leaving = second->view()->geometry();
      const QRect returning = first->view()->geometry();
      QVERIFY2(leaving.x() > 0 && leaving.x() < w, qPrintable(QString::number(leaving.x())));
      QCOMPARE(returning.x(), leaving.x() - w);
    }
    m_clock.advance(0.06);  // 0.46 s: not over yet
    QVERIFY(navigation->isTransitioning());
    QCOMPARE(second->view()->parentWidget(), container);

    m_clock.advance(0.06);
    QVERIFY(!navigation->isTransitioning());
    QCOMPARE(first->view()->geometry(), home);
    QCOMPARE(first->appeared, appearedBefore + 1);
    QVERIFY(!second->view()->parentWidget());  // the leaving view left the container
    QCOMPARE(navigation->viewControllers().size(), size_t(1));
    flushDeletes();
    QVERIFY(second.isNull());
  }
};

QTEST_MAIN(QSTransitionsTest)
#include "qs_transitions_test.moc"
