// The result screen's input: the alignment drag and loupe, nudges, keys, double-click.
#include "blend_screen_test_base.h"

class BlendViewControllerInputTest : public BlendScreenTestBase {
  Q_OBJECT

 private slots:
  void initTestCase() { MainScreen::setScale(2); }
  void init() { setUp(); }
  void cleanup() { tearDown(); }


  // --- Alignment drag ----------------------------------------------------------------------

  void dragOffsetIsTheOffsetAtTouchDownPlusTravel() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(100, 300));
    QVERIFY(m_screen->isGesturing());
    m_screen->touchesMoved(QPointF(130, 320));
    QCOMPARE(m_screen->alignOffsetX(), 30.0f);
    QCOMPARE(m_screen->alignOffsetY(), 20.0f);
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(30, 20));
    m_screen->touchesEnded(QPointF(130, 320));
    QVERIFY(!m_screen->isGesturing());

    // A second drag starts wherever the finger lands and adds its travel.
    m_screen->touchesBegan(QPointF(50, 400));
    m_screen->touchesMoved(QPointF(60.5, 390));
    QCOMPARE(m_screen->alignOffsetX(), 40.5f);
    QCOMPARE(m_screen->alignOffsetY(), 10.0f);
    // A second finger does not restart the gesture.
    m_screen->touchesBegan(QPointF(250, 100));
    m_screen->touchesMoved(QPointF(70.5, 395));
    QCOMPARE(m_screen->alignOffsetX(), 50.5f);
    QCOMPARE(m_screen->alignOffsetY(), 15.0f);
    m_screen->touchesEnded(QPointF(70.5, 395));
    // Nothing was rendered while dragging.
    QCOMPARE(m_screen->renderCount() + m_screen->cacheLoadCount(), 0);
  }

  void dragStopsEachAxisJustBelow101Points() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(150, 300));
    m_screen->touchesMoved(QPointF(250.9, 300));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);
    m_screen->touchesMoved(QPointF(251.0, 300));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);  // 101.0 is refused: the axis stays
    // The other axis goes on following the finger meanwhile.
    m_screen->touchesMoved(QPointF(400, 240));
    QCOMPARE(m_screen->alignOffsetX(), 100.9f);
    QCOMPARE(m_screen->alignOffsetY(), -60.0f);
    m_screen->touchesMoved(QPointF(400, 199.1));
    QCOMPARE(m_screen->alignOffsetY(), -100.9f);
    m_screen->touchesMoved(QPointF(400, 199.0));
    QCOMPARE(m_screen->alignOffsetY(), -100.9f);
    // Negative x, and coming back inside the limit moves the axis again.
    m_screen->touchesMoved(QPointF(49.1, 290));
    QCOMPARE(m_screen->alignOffsetX(), -100.9f);
    QCOMPARE(m_screen->alignOffsetY(), -10.0f);
    m_screen->touchesMoved(QPointF(49.0, 290));
    QCOMPARE(m_screen->alignOffsetX(), -100.9f);
    m_screen->touchesMoved(QPointF(140, 290));
    QCOMPARE(m_screen->alignOffsetX(), -10.0f);
    m_screen->touchesEnded(QPointF(140, 290));
  }

  void mouseDragMovesTheOverlayUnderTheLoupe() {
    QVERIFY(open());
    QWidget* view = m_screen->view();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 300));
    QVERIFY(m_screen->isGesturing());
    MagnifierView* loupe = m_screen->loupe();
    QVERIFY(loupe);
    QVERIFY(loupe->isVisible());
    QVERIFY(loupe->parentWidget() != view && !view->isAncestorOf(loupe));
    QCOMPARE(QRectF(loupe->geometry()).center(), QPointF(100, 220));  // 80 points above

    QMouseEvent move(QEvent::MouseMove, QPointF(125, 310), view->mapToGlobal(QPointF(125, 310)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QCOMPARE(m_screen->alignOffsetX(), 25.0f);
    QCOMPARE(m_screen->alignOffsetY(), 10.0f);
    QCOMPARE(loupe->touchPoint(), QPointF(125, 310));  // the finger, not the offset

    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(125, 310));
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!loupe->isVisible());
  }

  void loupeHoversAboveTheFingerAndMayLeaveTheScreen() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(160, 300));
    MagnifierView* loupe = m_screen->loupe();
    QVERIFY(loupe);
    QCOMPARE(loupe->size(), QSize(100, 100));
    QCOMPARE(loupe->geometry().topLeft(), QPoint(110, 170));  // centre (160, 220)
    QCOMPARE(loupe->viewToMagnify(), m_screen->view());
    m_screen->touchesMoved(QPointF(20, 30));
    QCOMPARE(loupe->geometry().topLeft(), QPoint(-30, -100));  // centre (20, -50)
    m_screen->touchesEnded(QPointF(20, 30));
    QVERIFY(!loupe->isVisible());
    // The next drag brings a new loupe; a drag the window takes away ends like any other.
    select(1);
    select(0);
    QVERIFY(cached(kColorFile));
    m_screen->touchesBegan(QPointF(200, 400));
    QVERIFY(m_screen->loupe());
    QVERIFY(m_screen->loupe()->isVisible());
    m_screen->touchesMoved(QPointF(210, 400));
    m_screen->touchesCancelled();
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!m_screen->loupe() || !m_screen->loupe()->isVisible());
    QVERIFY(!cached(kColorFile));
  }

  void alignmentTouchEndEmptiesTheCacheEvenWithoutMovement() {
    QVERIFY(open());
    select(1);
    select(2);
    select(3);
    select(0);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY(cached(name));
    QTest::mouseClick(m_screen->view(), Qt::LeftButton, {}, QPoint(160, 300));
    QCOMPARE(m_screen->alignOffsetX(), 0.0f);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
    select(1);
    QCOMPARE(m_screen->cacheLoadCount(), 0);
  }

  void dragOutsideTheAlignmentViewMovesNothing_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("file");
    QTest::newRow("color") << 1 << kColorFile;
    QTest::newRow("grey") << 2 << kGreyFile;
    QTest::newRow("stereogram") << 3 << kStereogramFile;
    QTest::newRow("wiggle") << 4 << QString();
  }
  void dragOutsideTheAlignmentViewMovesNothing() {
    QFETCH(int, mode);
    QFETCH(QString, file);
    QVERIFY(open());
    select(mode);
    QWidget* view = m_screen->view();
    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(100, 300));
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 350), view->mapToGlobal(QPointF(150, 350)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QVERIFY(!m_screen->isGesturing());
    QVERIFY(!m_screen->loupe());
    QCOMPARE(m_screen->alignOffsetX(), 0.0f);
    QCOMPARE(m_screen->alignOffsetY(), 0.0f);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(150, 350));
    if (!file.isEmpty()) QVERIFY(cached(file.toLatin1().constData()));  // still valid
    // Only the bar toggle applied.
    m_clock.advance(0.5 + kFrame);
    QVERIFY(barsHidden());
  }

  void nudgeMovesTheWholePixelOffsetByTheStep_data() {
    QTest::addColumn<QPointF>("drag");
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<bool>("moves");
    QTest::newRow("right") << QPointF() << 1 << 0 << true;
    QTest::newRow("left") << QPointF() << -1 << 0 << true;
    QTest::newRow("down") << QPointF() << 0 << 1 << true;
    QTest::newRow("ten up") << QPointF() << 0 << -10 << true;
    QTest::newRow("left of a drag") << QPointF(12.3, -7.7) << -1 << 0 << true;
    QTest::newRow("up from a drag") << QPointF(12.3, -7.7) << 0 << -1 << true;
    QTest::newRow("out past +100") << QPointF(100.9, 0) << 1 << 0 << false;
    QTest::newRow("in from +100") << QPointF(100.9, 0) << -1 << 0 << true;
  }
  void nudgeMovesTheWholePixelOffsetByTheStep() {
    QFETCH(QPointF, drag);
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(bool, moves);
    QVERIFY(open());
    const QPointF down(150, 300);
    m_screen->touchesBegan(down);
    m_screen->touchesMoved(down + drag);
    m_screen->touchesEnded(down + drag);
    const float scale = overlayScale();
    const float x0 = m_screen->alignOffsetX(), y0 = m_screen->alignOffsetY();
    const PixelOffset before = pixelOffsetFor(scale, x0, y0);

    m_screen->nudgeAlignment(dx, dy);
    const float x = m_screen->alignOffsetX(), y = m_screen->alignOffsetY();
    QCOMPARE(viewTransform(m_screen->alignImageView()), QTransform::fromTranslate(x, y));
    if (!moves) {
      QCOMPARE(x, x0);
      QCOMPARE(y, y0);
      return;
    }
    const PixelOffset after = pixelOffsetFor(scale, x, y);
    QCOMPARE(after.x, before.x + dx);
    QCOMPARE(after.y, before.y + dy);
    // The moved axis sits on the value nearest zero for its pixel; the other is left as it was.
    const auto nearestZero = [scale](float points, int pixel) {
      return pixelOffsetFor(scale, std::nextafter(points, 0.0f), 0).x != pixel;
    };
    QVERIFY(dx ? nearestZero(x, after.x) : x == x0);
    QVERIFY(dy ? nearestZero(y, after.y) : y == y0);
  }

  void nudgeEndsLikeATouchAndActsOnlyInTheAlignmentView() {
    QVERIFY(open());
    for (int mode : {1, 2, 3, 4}) {
      select(mode);
      m_screen->nudgeAlignment(1, 1);
    }
    QCOMPARE(QPointF(m_screen->alignOffsetX(), m_screen->alignOffsetY()), QPointF());
    select(0);
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(cached(name), name);
    m_clock.advance(6.6);
    QVERIFY(barsHidden());
    const double nudged = m_clock.now();
    m_screen->nudgeAlignment(0, 1);
    QVERIFY(m_screen->timer() && m_screen->timer()->isValid());
    QCOMPARE(m_screen->timer()->fireDate(), nudged + 6.0);
    m_clock.advance(0.25 + kFrame);
    QVERIFY(barsShown());
    for (const char* name : {kColorFile, kGreyFile, kStereogramFile}) QVERIFY2(!cached(name), name);
  }

  // --- Keys and the large view ---------------------------------------------------------------

  void keysActOnlyWhenNothingElseHasThem_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("busy");  // "menu": action menu open; "drag": alignment drag
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("expectedMode");
    QTest::addColumn<bool>("large");
    QTest::addColumn<QPoint>("pixels");
    QTest::newRow("2") << 0 << "" << QKeySequence("2") << 1 << false << QPoint();
    QTest::newRow("5") << 0 << "" << QKeySequence("5") << 4 << false << QPoint();
    QTest::newRow("1 from grey") << 2 << "" << QKeySequence("1") << 0 << false << QPoint();
    QTest::newRow("3, menu open") << 1 << "menu" << QKeySequence("3") << 1 << false << QPoint();
    QTest::newRow("4 mid-drag") << 0 << "drag" << QKeySequence("4") << 0 << false << QPoint();
    QTest::newRow("3 under an alert") << 1 << "alert" << QKeySequence("3") << 1 << false << QPoint();
    QTest::newRow("F, colour") << 1 << "" << QKeySequence("F") << 1 << true << QPoint();
    QTest::newRow("right") << 0 << "" << QKeySequence("Right") << 0 << false << QPoint(1, 0);
    QTest::newRow("shift up") << 0 << "" << QKeySequence("Shift+Up") << 0 << false
                              << QPoint(0, -10);
  }
  void keysActOnlyWhenNothingElseHasThem() {
    QFETCH(int, mode);
    QFETCH(QString, busy);
    QFETCH(QKeySequence, keys);
    QFETCH(int, expectedMode);
    QFETCH(bool, large);
    QFETCH(QPoint, pixels);
    QVERIFY(open());
    if (mode) select(mode);
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    const float scale = mode == 0 ? overlayScale() : 1;
    if (busy == "menu") m_screen->actionButtonClick();
    if (busy == "drag") m_screen->touchesBegan(QPointF(160, 300));
    if (busy == "alert") (new QSAlertView("Alert", "Over the screen", "Continue"))->show();
    QTest::keySequence(m_window.get(), keys);
    m_clock.advance(0);
    QVERIFY(settle());
    QCOMPARE(m_screen->viewMode(), expectedMode);
    QCOMPARE(m_screen->largeView() != nullptr, large);
    if (large) QVERIFY(m_screen->largeView()->isVisible());
    const PixelOffset moved =
        pixelOffsetFor(scale, m_screen->alignOffsetX(), m_screen->alignOffsetY());
    QCOMPARE(QPoint(moved.x, moved.y), pixels);
    if (busy == "drag") m_screen->touchesEnded(QPointF(160, 300));
  }

  void doubleClickOpensTheOutputLarge_data() {
    QTest::addColumn<int>("mode");
    for (int mode = 0; mode < 5; ++mode) QTest::addRow("mode %d", mode) << mode;
  }
  void doubleClickOpensTheOutputLarge() {
    QFETCH(int, mode);
    QVERIFY(open());
    if (mode) select(mode);
    QWidget* view = m_screen->view();
    const QPoint at(160, 300);
    QTest::mouseClick(view, Qt::LeftButton, {}, at);
    // Sent as such: QTest's own double click depends on timestamps a slow (sanitized) run can
    // stretch past the double-click interval.
    QMouseEvent doubleClick(QEvent::MouseButtonDblClick, QPointF(at), view->mapToGlobal(QPointF(at)),
                            Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &doubleClick);
    // In the alignment view the second press is a touch like the first.
    QCOMPARE(m_screen->isGesturing(), mode == 0);
    QTest::mouseRelease(view, Qt::LeftButton, {}, at);
    auto* large = qobject_cast<LargeOutputWindow*>(m_screen->largeView());
    if (mode == 0) {
      QVERIFY(!large);
      return;
    }
    QVERIFY(large && large->isVisible());
    QCOMPARE(large->windowTitle(), m_screen->navigationBar()->title());
    QCOMPARE(large->frameCount(), mode == 4 ? 2 : 1);  // the wigglegram's two frames
    if (mode == 4) return;
    const QSizeF frame = large->imageRect().size();
    const QSize shown = m_screen->imageView()->image().size();
    // The stereogram, shown a quarter turned on the tall screen, opens upright.
    const double aspect =
        mode == 3 ? double(shown.height()) / shown.width() : double(shown.width()) / shown.height();
    QVERIFY(mode != 3 || frame.width() > frame.height());
    QVERIFY(std::abs(frame.width() / frame.height() - aspect) < 0.02);
  }
  // --- Speed (reported, not asserted) ------------------------------------------------------

  void dragSpeed() {
    QVERIFY(open());
    m_screen->touchesBegan(QPointF(160, 300));
    QElapsedTimer timer;
    timer.start();
    for (int i = 1; i <= 200; ++i) m_screen->touchesMoved(QPointF(160 + (i % 80), 300 - (i % 60)));
    const double handlerOnly = timer.nsecsElapsed() / 200.0 / 1000.0;
    // With the loupe drawn after each move, as the screen would.
    QImage canvas(QSize(200, 200), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2);
    timer.restart();
    for (int i = 1; i <= 200; ++i) {
      m_screen->touchesMoved(QPointF(160 - (i % 80), 300 + (i % 60)));
      m_screen->loupe()->render(&canvas);
    }
    const double withLoupe = timer.nsecsElapsed() / 200.0 / 1000.0;
    m_screen->touchesEnded(QPointF(160, 300));
    QCOMPARE(m_screen->renderCount(), 0);
    qInfo("drag move: %.1f us per event (handler), %.1f us with the loupe drawn at 2x", handlerOnly,
          withLoupe);
  }

};

QTEST_MAIN(BlendViewControllerInputTest)
#include "blend_view_controller_input_test.moc"
