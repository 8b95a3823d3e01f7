#include <QLabel>
#include <QtTest>

#include "screenshot.h"
#include "desktop_services.h"
#include "image_resources.h"
#include "app_window.h"
#include "navigation_controller.h"
#include "qs_share_view_controller.h"
#include "run_loop.h"
#include "screen.h"

using namespace duo;

namespace {

// Indices in placement order, three to a row.
constexpr int kOrder[9] = {0, 7, 1, 3, 4, 5, 6, 8, 9};

/// The picker inside a navigation container inside a window, as the result screen shows it; on
/// a tablet as a form sheet over a plain screen. Every answer is recorded.
struct Shown {
  AppWindow window;
  QPointer<QSShareViewController> picker;
  QPointer<NavigationController> navigation;
  QList<int> answers;

  Shown(int fileType, bool network) {
    picker = new QSShareViewController(fileType, network, [this](int i) { answers << i; });
    navigation = new NavigationController(picker);
    if (!MainScreen::isTablet()) {
      navigation->setParent(&window);
      window.setRootViewController(navigation);
      return;
    }
    auto* presenter = new ViewController(&window);
    window.setRootViewController(presenter);
    navigation->setModalPresentationStyle(ViewController::ModalPresentationStyle::FormSheet);
    presenter->presentViewController(navigation, false);
  }
  /// "Y"/"N" per button in placement order.
  QString enabled() const {
    QString states;
    for (int index : kOrder) states += picker->buttonForIndex(index)->isEnabled() ? 'Y' : 'N';
    return states;
  }
};

QPointF centreOf(const QRect& r) { return QRectF(r).center(); }

}  // namespace

class QSShareViewControllerTest : public QObject {
  Q_OBJECT

  ManualClock m_clock;
  ScreenSize m_savedScreen = MainScreen::size();

  /// Each button on its cell of the grid, from the picture's own size and the top margin.
  void checkGrid(Shown& shown, double top) {
    QCOMPARE(shown.picker->buttons().size(), size_t(9));
    const QImage image = imageNamed("QSShareCopy_iOS7.png");
    const QSizeF size = QSizeF(image.size()) / image.devicePixelRatio();
    for (int i = 0; i < 9; ++i) {
      const int row = i / 3, column = i % 3;
      const QSShareButton* button = shown.picker->buttonForIndex(kOrder[i]);
      QCOMPARE(button->size(), size.toSize());
      QCOMPARE(centreOf(button->geometry()),
               QPointF(column * (size.width() + 41) + 30 + size.width() / 2,
                       top + row * (size.height() + 38) + size.height() / 2));
      // Its label: centred under it, 4 points below, sized to its text, dimmed with it.
      const QLabel* label = shown.picker->labelForButton(button);
      QVERIFY(qAbs(centreOf(label->geometry()).x() - centreOf(button->geometry()).x()) <= 0.5);
      QCOMPARE(label->y(), button->y() + button->height() + 4);
      QCOMPARE(label->size(), label->sizeHint());
      QVERIFY(label->width() < button->width() + 41);  // neighbours never touch
      QCOMPARE(label->isEnabled(), button->isEnabled());
    }
    // The first row is clear of the navigation bar.
    NavigationBar* bar = shown.navigation->navigationBar();
    QVERIFY(shown.picker->buttonForIndex(0)->mapTo(&shown.window, QPoint()).y() >
            bar->mapTo(&shown.window, QPoint(0, bar->height())).y());
  }

 private slots:
  void init() {
    RunLoopClock::install(&m_clock);
    MainScreen::setScale(2);
    MainScreen::setSize({320, 568, false});
    setCanSendMailOverride(true);
  }
  void cleanup() {
    m_clock.advance(10);
    RunLoopClock::install(nullptr);
    MainScreen::setSize(m_savedScreen);
    setCanSendMailOverride(std::nullopt);
  }

  void destinationsAreEnabledByOutputKindNetworkAndMail() {
    // Order: Camera Roll, Copy, Email / Facebook, Twitter, Flickr / Dropbox, iPad, Other App.
    // Twitter stays off throughout: its system composer does not exist on this desktop.
    const struct {
      int fileType;
      bool network, mail;
      const char* expected;
    } cases[] = {
        {2, true, true, "YYYNNNYYY"},   {1, false, true, "YYYNNNNYY"},
        {1, false, false, "YYNNNNNYY"}, {1, true, false, "YYNYNYYYY"},
        {0, true, true, "YYYYNYYYY"},   {-1, true, true, "NYYNNNYYY"},
    };
    for (const auto& c : cases) {
      setCanSendMailOverride(c.mail);
      Shown shown(c.fileType, c.network);
      QCOMPARE(shown.enabled(), QString(c.expected));
      for (const auto& button : shown.picker->buttons())
        QCOMPARE(shown.picker->labelForButton(button)->isEnabled(), button->isEnabled());
    }
    // A shown picker follows later changes.
    Shown shown(1, false);
    shown.picker->setIsNetworkAvailable(true);
    shown.picker->setFileType(2);
    QCOMPARE(shown.enabled(), QString("YYYNNNYYY"));
    QVERIFY(!shown.picker->labelForButton(shown.picker->buttonForIndex(3))->isEnabled());
  }

  void onAPhoneTheGridSitsBelowTheBarWithCancelOnTheRight() {
    Shown shown(1, true);
    QWidget* view = shown.picker->view();
    QCOMPARE(view->palette().color(QPalette::Window), QColor::fromRgbF(0.95, 0.95, 0.95));
    QVERIFY(view->autoFillBackground());
    QCOMPARE(shown.navigation->navigationBar()->title(), QString("Share"));
    checkGrid(shown, 94);
    QVERIFY(shown.picker->buttonForIndex(9)->geometry().right() < view->width());

    QVERIFY(!shown.picker->navigationItem().leftBarButtonItem);
    BarButtonItem* cancel = shown.picker->navigationItem().rightBarButtonItem;
    QCOMPARE(cancel->systemItem(), BarButtonItem::SystemItem::Cancel);
    QCOMPARE(cancel->button()->parentWidget(), shown.navigation->navigationBar());
    QVERIFY(cancel->button()->x() > view->width() / 2);
    cancel->button()->click();
    QCOMPARE(shown.answers, QList<int>{-1});
  }

  void onATabletTheGridStartsHigherAndThereIsNoCancel() {
    MainScreen::setSize({768, 1024, true});
    Shown shown(1, true);
    QVERIFY(!shown.picker->navigationItem().rightBarButtonItem);
    QVERIFY(!shown.picker->navigationItem().leftBarButtonItem);
    checkGrid(shown, 30);
    // Without a Cancel button, Escape is the way out.
    shown.window.makeKeyAndVisible();
    QVERIFY(QTest::qWaitForWindowActive(&shown.window));
    QTest::keyClick(&shown.window, Qt::Key_Escape);
    QCOMPARE(shown.answers, QList<int>{-1});
  }

  void theCompletionHearsOneAnswerOnly() {
    Shown shown(2, true);
    QSShareButton* flickr = shown.picker->buttonForIndex(5);
    QTest::mouseClick(flickr, Qt::LeftButton, {}, flickr->rect().center());  // disabled
    shown.picker->buttonTouched(flickr);
    QVERIFY(shown.answers.isEmpty());
    QSShareButton* copy = shown.picker->buttonForIndex(7);
    QTest::mouseClick(copy, Qt::LeftButton, {}, copy->rect().center());
    QCOMPARE(shown.answers, QList<int>{7});
    // Presses while the presenter dismisses the picker must not start a second export.
    shown.picker->buttonForIndex(9)->click();
    shown.picker->navigationItem().rightBarButtonItem->trigger();
    QCOMPARE(shown.answers, QList<int>{7});
  }

  void aPlainPickerHasNothingToShareAndIsPortraitOnly() {
    QSShareViewController picker;
    QCOMPARE(picker.fileType(), -1);
    QVERIFY(!picker.isNetworkAvailable());
    QVERIFY(!picker.buttonForIndex(0));  // nothing before the view loads
    picker.view();
    QVERIFY(!picker.buttonForIndex(0)->isEnabled());
    QVERIFY(!picker.buttonForIndex(6)->isEnabled());
    picker.buttonForIndex(7)->click();  // no completion yet: nothing to call
    int answer = 100;
    picker.setCompletion([&](int i) { answer = i; });
    picker.buttonForIndex(9)->click();
    QCOMPARE(answer, 9);

    using O = QSShareViewController::InterfaceOrientation;
    QVERIFY(picker.shouldAutorotateToInterfaceOrientation(O::Portrait));
    for (O o : {O::PortraitUpsideDown, O::LandscapeLeft, O::LandscapeRight})
      QVERIFY(!picker.shouldAutorotateToInterfaceOrientation(o));
  }

  void picturesAreRoundedTilesAndDisabledOnesLookFaint() {
    Shown shown(2, true);
    for (const auto& button : shown.picker->buttons()) {
      const QImage& image = button->image();
      QVERIFY(!image.isNull());
      QCOMPARE(qAlpha(image.pixel(image.width() / 2, 4)), 255);
      QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    }
    const QImage shot = duo::test::renderAt2x(shown.picker->view());
    const QColor back = shot.pixelColor(2, shot.height() - 2);
    auto contrast = [&](int index) {  // a point of the tile's face near its top edge
      const QRect frame = shown.picker->buttonForIndex(index)->geometry();
      const QColor c = shot.pixelColor((frame.topLeft() + QPoint(frame.width() / 2, 3)) * 2);
      return qAbs(c.red() - back.red()) + qAbs(c.green() - back.green()) +
             qAbs(c.blue() - back.blue());
    };
    QVERIFY2(contrast(5) * 2 < contrast(6), "Flickr off, Dropbox on");
  }

  void screenshots() {
    for (bool tablet : {false, true}) {
      if (tablet) MainScreen::setSize({768, 1024, true});
      Shown shown(1, true);
      shown.window.show();
      QVERIFY(duo::test::renderAt2x(&shown.window)
                  .save(tablet ? "share-picker-tablet.png" : "share-picker-phone.png"));
    }
  }
};

QTEST_MAIN(QSShareViewControllerTest)
#include "qs_share_view_controller_test.moc"
