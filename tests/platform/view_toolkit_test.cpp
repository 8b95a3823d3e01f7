#include <QPainter>
#include <QtTest>

#include "image_resources.h"
#include "image_view.h"
#include "run_loop.h"
#include "screen.h"
#include "view_animation.h"
#include "app_window.h"
#include "navigation_controller.h"
#include "view_controller.h"

using namespace duo;

namespace {

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class Probe : public ViewController {
 public:
  using ViewController::ViewController;
  QStringList calls;
  void viewDidLoad() override { calls << "load"; }
  void viewWillAppear(bool) override { calls << "willAppear"; }
  void viewDidAppear(bool) override { calls << "didAppear"; }
  void viewWillDisappear(bool) override { calls << "willDisappear"; }
  void viewDidDisappear(bool) override { calls << "didDisappear"; }
};

}  // namespace

class ViewToolkitTest : public QObject {
  Q_OBJECT

 private:
  ManualClock m_clock;

 private slots:
  void init() { RunLoopClock::install(&m_clock); }
  void cleanup() {
    m_clock.advance(10);
    RunLoopClock::install(nullptr);
  }

  void screenOptionAcceptsPhonesAndTablets() {
    QCOMPARE(parseScreenOption("320x568"), (ScreenSize{320, 568, false}));
    QCOMPARE(parseScreenOption("320x480"), (ScreenSize{320, 480, false}));
    QCOMPARE(parseScreenOption("tablet"), (ScreenSize{768, 1024, true}));
    QCOMPARE(parseScreenOption("768x1024"), (ScreenSize{768, 1024, true}));
    for (const char* bad : {"", "320", "320x", "x568", "320x-5", "320x568x2", "200x300", "568x320",
                            "99999x99999", "320 x 568"})
      QVERIFY2(!parseScreenOption(bad), bad);
  }

  void animationsFollowTheClockAndReportWhetherTheyFinished() {
    QWidget view;
    view.setGeometry(0, 0, 100, 100);
    int calls = 0;
    bool finished = false;
    animateViews(0.4, AnimationCurve::Linear, {{&view, 0.0, QRect(100, 0, 100, 100), std::nullopt}},
                 [&](bool f) { ++calls, finished = f; });
    m_clock.advance(0.2);
    QVERIFY(viewAlpha(&view) > 0.4 && viewAlpha(&view) < 0.6);
    QVERIFY(view.x() > 40 && view.x() < 60);
    m_clock.advance(0.25);
    QCOMPARE(viewAlpha(&view), 0.0);
    QCOMPARE(view.geometry(), QRect(100, 0, 100, 100));
    QCOMPARE(calls, 1);
    QVERIFY(finished);
    QVERIFY(view.testAttribute(Qt::WA_TransparentForMouseEvents));  // invisible views miss clicks

    // A second animation of the same property takes over; the first reports it did not finish.
    bool first = true, second = false;
    animateViews(1.0, AnimationCurve::EaseIn, {{&view, 1.0, {}, {}}}, [&](bool f) { first = f; });
    m_clock.advance(0.1);
    animateViews(0.3, AnimationCurve::EaseOut, {{&view, 0.5, {}, {}}}, [&](bool f) { second = f; });
    m_clock.advance(2);
    QVERIFY(!first);
    QVERIFY(second);
    QCOMPARE(viewAlpha(&view), 0.5);

    // Zero duration: set at once, completion on the next turn of the loop.
    bool done = false;
    animateViews(0, AnimationCurve::EaseInOut, {{&view, {}, {}, QTransform::fromScale(2, 2)}},
                 [&](bool) { done = true; });
    QCOMPARE(viewTransform(&view), QTransform::fromScale(2, 2));
    QVERIFY(!done);
    m_clock.advance(0);
    QVERIFY(done);
    QCOMPARE(runningViewAnimations(), 0);
  }

  void stoppedAnimationsAndDeletedViewsEndCleanly() {
    auto* view = new QWidget;
    bool finished = true;
    animateViews(1, AnimationCurve::Linear, {{view, 0.0, {}, {}}}, [&](bool f) { finished = f; });
    m_clock.advance(0.5);
    stopViewAnimations(view);
    m_clock.advance(0);
    QVERIFY(!finished);
    animateViews(1, AnimationCurve::Linear, {{view, 1.0, {}, {}}});
    delete view;
    m_clock.advance(2);  // must not touch the deleted view
    QCOMPARE(runningViewAnimations(), 0);
  }

  void alphaAndTransformChangeWhatIsPainted() {
    QWidget back;
    back.resize(40, 40);
    back.setStyleSheet("background: black");
    auto* child = new QWidget(&back);
    child->setGeometry(10, 10, 20, 20);
    child->setStyleSheet("background: white");
    setViewAlpha(child, 0.5);
    QImage grab = back.grab().toImage();
    QVERIFY(qAbs(qRed(grab.pixel(20, 20)) - 128) <= 2);
    setViewAlpha(child, 1);
    setViewTransform(child, QTransform::fromScale(0.5, 0.5));  // about the centre: 15..25
    grab = back.grab().toImage();
    QCOMPARE(qRed(grab.pixel(20, 20)), 255);
    QCOMPARE(qRed(grab.pixel(12, 12)), 0);
  }

  void layeredViewsAreDrawnInPlaceAlsoWhenNestedOrRendered() {
    QWidget back;
    back.resize(200, 200);
    back.setStyleSheet("background: black");
    auto* outer = new QWidget(&back);
    outer->setGeometry(40, 60, 100, 100);
    outer->setStyleSheet("background: black");
    auto* inner = new QWidget(outer);
    inner->setGeometry(20, 30, 20, 20);
    inner->setStyleSheet("background: white");
    setViewAlpha(inner, 0.99);
    setViewAlpha(outer, 0.99);
    back.show();
    for (const double scale : {1.0, 2.0}) {
      QImage image(back.size() * scale, QImage::Format_ARGB32_Premultiplied);
      image.setDevicePixelRatio(scale);
      image.fill(Qt::black);
      QPainter painter(&image);
      back.render(&painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
      painter.end();
      // The white square belongs at (60, 90)-(80, 110) in the back's coordinates.
      QVERIFY2(qRed(image.pixel(int(70 * scale), int(100 * scale))) > 240, "square in place");
      QVERIFY2(qRed(image.pixel(int(130 * scale), int(190 * scale))) < 10, "nothing at twice the offset");
      QVERIFY(qRed(image.pixel(int(57 * scale), int(100 * scale))) < 10);
    }
    const QImage grabbed = back.grab().toImage();
    QVERIFY(qRed(grabbed.pixel(70 * grabbed.devicePixelRatio(), 100 * grabbed.devicePixelRatio())) > 240);
  }

  void presentedScreensSlideInAndAreDeletedAfterDismissal() {
    AppWindow window;
    auto* root = new Probe(&window);
    window.setRootViewController(root);
    QPointer<Probe> sheet = new Probe;
    bool presented = false;
    root->presentViewController(sheet, true, [&] { presented = true; });
    QCOMPARE(root->presentedViewController(), sheet.data());
    QCOMPARE(sheet->presentingViewController(), root);
    QVERIFY(sheet->view()->y() > 0);
    m_clock.advance(0.5);
    QVERIFY(presented);
    QCOMPARE(sheet->view()->geometry(), window.rect());
    QCOMPARE(sheet->calls, (QStringList{"load", "willAppear", "didAppear"}));

    // A second presentation while one is up is refused.
    auto* other = new Probe(&window);
    root->presentViewController(other, false);
    QCOMPARE(root->presentedViewController(), sheet.data());

    bool dismissed = false;
    sheet->dismissViewController(true, [&] { dismissed = true; });
    QVERIFY(sheet->isBeingDismissed());
    m_clock.advance(0.5);
    QVERIFY(dismissed);
    QVERIFY(!root->presentedViewController());
    flushDeletes();
    QVERIFY(sheet.isNull());
  }

  void screensThatGoWithoutDismissalLeaveNothingOverTheWindow() {
    AppWindow window;
    auto* root = new Probe(&window);
    window.setRootViewController(root);
    const int before = window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size();
    QPointer<Probe> sheet = new Probe;
    QVERIFY(root->presentViewController(sheet, false));
    delete sheet.data();
    QCOMPARE(window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), before);
    QVERIFY(!root->presentedViewController());
    // A refused presentation does not keep the screen it was handed.
    QPointer<Probe> first = new Probe;
    QVERIFY(root->presentViewController(first, false));
    QPointer<Probe> second = new Probe;
    QVERIFY(!root->presentViewController(second, false));
    flushDeletes();
    QVERIFY(second.isNull());
    QVERIFY(first);
  }

  void aContainerDeletedMidSlideIsNotTouchedWhenTheSlideEnds() {
    AppWindow window;
    auto* navigation = new NavigationController(new Probe, &window);
    window.setRootViewController(navigation);
    navigation->pushViewController(new Probe, true);
    m_clock.advance(0.1);
    delete navigation;
    m_clock.advance(1);  // the slide's end must not reach the deleted container
    flushDeletes();
  }

  void stoppingOneViewLeavesOtherAnimationsAndAClockSwapStallsNothing() {
    QWidget a, b;
    bool otherEnded = false, otherFinished = false;
    animateViews(0.2, AnimationCurve::Linear, {}, [&](bool f) { otherEnded = true, otherFinished = f; },
                 0.5);  // a delayed animation with no views: a timed completion
    animateViews(1, AnimationCurve::Linear, {{&a, 0.0, {}, {}}});
    stopViewAnimations(&a);
    m_clock.advance(0.1);
    QVERIFY(!otherEnded);
    m_clock.advance(1);
    QVERIFY(otherEnded && otherFinished);

    animateViews(1, AnimationCurve::Linear, {{&a, 0.5, {}, {}}});  // a frame pending on m_clock
    ManualClock other;
    RunLoopClock::install(&other);
    bool done = false;
    animateViews(0.3, AnimationCurve::Linear, {{&b, 0.0, {}, {}}}, [&](bool) { done = true; });
    other.advance(1);
    QVERIFY(done);
    QCOMPARE(viewAlpha(&b), 0.0);
    RunLoopClock::install(&m_clock);
  }

  void toolbarHandsBackWidgetsItNoLongerShows() {
    Toolbar toolbar;
    auto* first = new QWidget;
    auto* second = new QWidget;
    toolbar.setItems({first});
    QCOMPARE(first->parentWidget(), &toolbar);
    toolbar.setItems({second});
    QVERIFY(!first->parentWidget());
    QVERIFY(first->isHidden());
    QCOMPARE(second->parentWidget(), &toolbar);
    delete first;
  }

  void navigationPushesAndPopsWithTheBarFollowing() {
    AppWindow window;
    auto* first = new Probe;
    first->setTitle("First");
    auto* navigation = new NavigationController(first, &window);
    window.setRootViewController(navigation);
    QCOMPARE(navigation->navigationBar()->title(), QString("First"));
    QCOMPARE(first->navigationController(), navigation);

    QPointer<Probe> second = new Probe;
    second->setTitle("Second");
    bool done = false;
    second->navigationItem().rightBarButtonItem =
        new BarButtonItem(BarButtonItem::SystemItem::Done, [&] { done = true; }, second);
    navigation->pushViewController(second, true);
    QVERIFY(navigation->isTransitioning());
    m_clock.advance(0.5);
    QVERIFY(!navigation->isTransitioning());
    QCOMPARE(navigation->topViewController(), second.data());
    QCOMPARE(navigation->navigationBar()->title(), QString("Second"));
    QVERIFY(!first->view()->isVisibleTo(navigation->view()));
    second->navigationItem().rightBarButtonItem->button()->click();
    QVERIFY(done);

    navigation->popViewController(true);
    m_clock.advance(0.5);
    flushDeletes();
    QVERIFY(second.isNull());
    QCOMPARE(navigation->viewControllers().size(), size_t(1));
    QCOMPARE(navigation->navigationBar()->title(), QString("First"));
    QVERIFY(first->view()->isVisibleTo(navigation->view()));
  }

  void shippedPicturesAreDrawnAtTheRequestedScale() {
    const QImage icon = imageNamed("duoscope.png", 2.0);
    QCOMPARE(icon.size(), QSize(256, 256));
    QCOMPARE(icon.devicePixelRatio(), 2.0);
    QVERIFY(qAlpha(icon.pixel(128, 128)) == 255);
    QVERIFY(imageNamed("NoSuchPicture.png").isNull());
    ImageView view(icon);
    QCOMPARE(view.size(), QSize(128, 128));
  }
};

QTEST_MAIN(ViewToolkitTest)
#include "view_toolkit_test.moc"
