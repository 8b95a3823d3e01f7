#include <QtTest>

#include "run_loop.h"

using duo::ManualClock;
using duo::QSTimer;
using duo::RunLoopClock;

class RunLoopTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;

 private slots:
  void init() {
    m_clock = ManualClock();
    RunLoopClock::install(&m_clock);
  }
  void cleanup() { RunLoopClock::install(nullptr); }

  void delayedCallsRunInOrderOfTheirTimes() {
    QStringList ran;
    duo::performAfterDelay(0.5, [&] { ran << "half"; });
    duo::performAfterDelay(0.0, [&] { ran << "next turn"; });
    duo::performAfterDelay(0.1, [&] {
      ran << "tenth";
      duo::performAfterDelay(0.25, [&] { ran << "nested"; });  // due at 0.35
    });
    QVERIFY(ran.isEmpty());  // nothing runs inside the call itself
    m_clock.advance(0.3);
    QCOMPARE(ran, (QStringList{"next turn", "tenth"}));
    m_clock.advance(0.2);
    QCOMPARE(ran, (QStringList{"next turn", "tenth", "nested", "half"}));
  }

  void oneShotTimerFiresOnceAndIsThenInvalid() {
    int fired = 0;
    auto timer = QSTimer::scheduledTimer(6.0, false, [&](QSTimer&) { ++fired; });
    m_clock.advance(5.9);
    QCOMPARE(fired, 0);
    QVERIFY(timer->isValid());
    m_clock.advance(0.1);
    QCOMPARE(fired, 1);
    QVERIFY(!timer->isValid());
    m_clock.advance(60);
    QCOMPARE(fired, 1);
  }

  void movingTheFireDateRestartsTheWait() {
    int fired = 0;
    auto timer = QSTimer::scheduledTimer(6.0, false, [&](QSTimer&) { ++fired; });
    m_clock.advance(4.0);
    timer->setFireDate(m_clock.now() + 6.0);  // a touch restarts the fade
    m_clock.advance(5.0);
    QCOMPARE(fired, 0);
    QCOMPARE(timer->fireDate(), 10.0);
    m_clock.advance(1.0);
    QCOMPARE(fired, 1);
  }

  void repeatingTimerRunsUntilInvalidatedEvenWhenNobodyKeepsIt() {
    int fired = 0;
    QSTimer::scheduledTimer(0.1, true, [&](QSTimer& t) {
      if (++fired == 3) t.invalidate();  // from inside the handler
    });
    m_clock.advance(0.25);
    QCOMPARE(fired, 2);
    m_clock.advance(10);
    QCOMPARE(fired, 3);
    QCOMPARE(m_clock.pendingTasks(), std::size_t(0));

    int other = 0;
    auto kept = QSTimer::scheduledTimer(0.1, true, [&](QSTimer&) { ++other; });
    m_clock.advance(0.1);
    kept->invalidate();
    m_clock.advance(1);
    QCOMPARE(other, 1);
    QVERIFY(!kept->isValid());
    kept->setFireDate(m_clock.now());  // ignored once invalid
    m_clock.advance(1);
    QCOMPARE(other, 1);
  }

  void realEventLoopDeliversDelayedCalls() {
    RunLoopClock::install(nullptr);
    bool ran = false;
    duo::performAfterDelay(0.01, [&] { ran = true; });
    QTRY_VERIFY_WITH_TIMEOUT(ran, 2000);
    int ticks = 0;
    auto timer = QSTimer::scheduledTimer(0.01, true, [&](QSTimer&) { ++ticks; });
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 2000);
    timer->invalidate();
  }
};

QTEST_GUILESS_MAIN(RunLoopTest)
#include "run_loop_test.moc"
